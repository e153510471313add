#include "app/mainwindow.h"

#include <QNetworkRequest>
#include <QSslConfiguration>

#include "app/refreshplan.h"
#include "app/servicerequests.h"
#include "clocklink/clockaddresslist.h"
#include "stocks/stockreplyhandling.h"
#include "stocks/stockrequest.h"
#include "ui_mainwindow.h"

// The stock feed's window operations: read the form, call the plain functions
// that do the work, then log, show and send what they produced.

QStringList MainWindow::tickerFieldTexts() const
{
    return {ui->tickerLineEdit1->text(), ui->tickerLineEdit2->text(), ui->tickerLineEdit3->text(),
            ui->tickerLineEdit4->text(), ui->tickerLineEdit5->text()};
}

// A button press ends a retry series.
void MainWindow::on_updateStocksPushButton_clicked()
{
    stockPlan->endSeries();
    getStocks(Trigger::Operator);
}

// Without a symbol in any field there is nothing to ask for: no request (it
// would spend a request of the paid quota), and one line until a request goes
// out again.
void MainWindow::getStocks(Trigger trigger)
{
    const QStringList fields = tickerFieldTexts();
    if (!stockPlan->ready(StockRequest::hasSymbol(fields), "Stocks Not Requested: no ticker symbols") ||
        !serviceRequests->mayRequest(RequestKind::Quotes, trigger))
        return;
    const QUrl url = StockRequest::quoteUrl(stockBaseUrl, StockRequest::symbolList(fields));
    logLine(QString::asprintf("Requesting Data From: %s", qUtf8Printable(url.toString())));

    QNetworkRequest request(url);
    // An empty key is still sent as an empty header, so the service answers
    // the same way whether the key was never set or set to nothing.
    QByteArray key = stockApiKey.toLocal8Bit();
    if (key.isNull())
        key = QByteArray("");
    request.setRawHeader("X-RapidAPI-Key", key);
    request.setRawHeader("X-RapidAPI-Host", stockHost.toLocal8Bit());
    request.setSslConfiguration(QSslConfiguration::defaultConfiguration());
    serviceRequests->send(request, RequestKind::Quotes);
}

void MainWindow::handleStockReply(const QString& text)
{
    TickerText::Flags flags;
    flags.name = cbName;
    flags.ticker = cbTicker;
    flags.price = cbPrice;
    flags.change = cbChange;
    flags.volume = cbVolume;

    // The ticker fields are read now, when the reply arrives.
    const StockReplyHandling::Result result = StockReplyHandling::handle(
        text, stockQuotes, int(sizeof stockQuotes / sizeof stockQuotes[0]), tickerFieldTexts(), flags);
    for (const QString& line : result.logLines)
        logLine(line);

    // Every label is set, so an empty ticker text clears its label.
    for (int v = 0; v < StockReplyHandling::TickerCount; ++v)
        stockVarLabels[v]->setText(result.tickerTexts[v]);

    // Variable by variable, each to every stock clock in turn.
    const QStringList addresses = ClockAddressList::split(ui->clockStockIPListEdit->text());
    for (int v = 0; v < StockReplyHandling::TickerCount; ++v) {
        const QString& tickerText = result.tickerTexts[v];
        if (tickerText.isEmpty())
            continue;
        for (const QString& address : addresses) {
            logLine(StockReplyHandling::sendingLogLine(address, v, tickerText));
            SendClockVar(address, v, tickerText);
        }
    }

    // A reply holding no quote is a failed refresh that may heal.
    if (result.quotesInReply > 0) {
        stockPlan->endSeries();
        noteRefreshSucceeded(FeedStatus::Stocks);
    } else {
        logFeedFailure(FeedStatus::Stocks, "StockQuote Response: no quotes");
        stockPlan->refreshFailed(RefreshRetry::Failure::Passing);
    }
}
