#include "mainwindow.h"

#include <QDebug>
#include <QNetworkReply>

#include "replytext.h"

// Every reply of both feeds arrives here. A reply is read as the kind of its
// own request, carried on the request, never as whatever was asked last: a
// weather refresh and a stock refresh may be in flight at once.
void MainWindow::httpResponses(QNetworkReply* rep)
{
    rep->deleteLater();
    const int kind = rep->request().attribute(RequestKindAttribute).toInt();

    // A transfer, TLS or HTTP failure carries no data: say so and change nothing.
    if (rep->error() != QNetworkReply::NoError) {
        logLine(QString::asprintf("Request Failed: %s Error: %d ErrorString: %s",
                                  rep->url().toString().toLocal8Bit().constData(), int(rep->error()),
                                  rep->errorString().toLocal8Bit().constData()));
        return;
    }

    const QString text = ReplyText::decode(rep->readAll());
    switch (kind) {
    case 1:
        handlePointReply(text);
        break;
    case 2:
        handleStationListReply(text);
        break;
    case 3:
        handleObservationReply(text);
        break;
    case 4:
        handleStockReply(text);
        break;
    default: {
        const QString line = QString::asprintf("No Match http Response: %s", text.toLocal8Bit().constData());
        qDebug("%s", line.toLocal8Bit().constData());
        logLine(line);
        break;
    }
    }
}

// SKELETON STUB below: replaced by the weather reply handling.
void MainWindow::handlePointReply(const QString&) {}
void MainWindow::handleStationListReply(const QString&) {}
void MainWindow::handleObservationReply(const QString&) {}
