#include "stocks/stockrequest.h"

QString StockRequest::symbolList(const QStringList& tickerFields)
{
    QString list = tickerFields.join(QLatin1Char(',')).simplified();
    // QString::replace scans once from the left and does not rescan what it
    // inserted: ",,,," becomes ",,".
    list.replace(QLatin1String(",,"), QLatin1String(","));
    return list;
}

QUrl StockRequest::quoteUrl(const QString& baseUrl, const QString& symbolList)
{
    return QUrl(baseUrl + QStringLiteral("/qu/quote?symbol=") + symbolList, QUrl::TolerantMode);
}

bool StockRequest::hasSymbol(const QStringList& tickerFields)
{
    for (const QString& field : tickerFields)
        for (const QChar c : field)
            if (c != QLatin1Char(',') && !c.isSpace())
                return true;
    return false;
}
