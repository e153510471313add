#pragma once

// Builds quote replies shaped like the quote service's: compact JSON, a meta
// object, then one object per quote that opens with "preMarketChange" and
// carries the five keys the feed reads among many others (nulls, nested
// objects and arrays, escaped slashes, "regularMarketChangePercent" just
// before "regularMarketChange").

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QString>
#include <QStringList>

struct QuoteData
{
    QString symbol;
    QString shortName;
    QString price;   // as the JSON number text
    QString change;  // as the JSON number text
    QString volume;  // as the JSON number text
};

inline QString quoteObject(const QuoteData& q, int serial = 0)
{
    QString o = QStringLiteral(
        "{\"preMarketChange\":-0.41,\"preMarketChangePercent\":-0.2165,\"preMarketTime\":1701093600,"
        "\"preMarketPrice\":188.84,\"language\":\"en-US\",\"region\":\"US\",\"quoteType\":\"EQUITY\","
        "\"typeDisp\":\"Equity\",\"quoteSourceName\":\"Nasdaq Real Time Price\",\"triggerable\":true,"
        "\"customPriceAlertConfidence\":\"HIGH\",\"currency\":\"USD\",\"exchange\":\"NMS\","
        "\"messageBoardId\":\"finmb_%SERIAL%\",\"exchangeTimezoneName\":\"America\\/New_York\","
        "\"exchangeTimezoneShortName\":\"EST\",\"gmtOffSetMilliseconds\":-18000000,\"market\":\"us_market\","
        "\"esgPopulated\":false,\"marketState\":\"REGULAR\",\"corporateActions\":[],"
        "\"regularMarketChangePercent\":-0.6302,\"regularMarketChange\":%CHANGE%,"
        "\"regularMarketTime\":1701115201,\"regularMarketPrice\":%PRICE%,\"regularMarketDayHigh\":190.67,"
        "\"regularMarketDayRange\":\"187.45 - 190.67\",\"regularMarketDayLow\":187.45,"
        "\"regularMarketVolume\":%VOLUME%,\"regularMarketPreviousClose\":190.4,\"bid\":189.2,\"ask\":189.3,"
        "\"bidSize\":10,\"askSize\":8,\"fullExchangeName\":\"NasdaqGS\",\"financialCurrency\":\"USD\","
        "\"regularMarketOpen\":189.92,\"averageDailyVolume3Month\":53242137,\"averageDailyVolume10Day\":41853714,"
        "\"fiftyTwoWeekLowChange\":65.08,\"fiftyTwoWeekLowChangePercent\":0.5241,"
        "\"fiftyTwoWeekRange\":\"124.17 - 198.23\",\"fiftyTwoWeekHighChange\":-8.98,"
        "\"fiftyTwoWeekHighChangePercent\":-0.0453,\"fiftyTwoWeekLow\":124.17,\"fiftyTwoWeekHigh\":198.23,"
        "\"dividendDate\":null,\"earningsTimestamp\":1698957000,\"earningsTimestampStart\":null,"
        "\"trailingAnnualDividendRate\":0.93,\"trailingPE\":30.82,\"dividendRate\":0.96,"
        "\"trailingAnnualDividendYield\":0.0049,\"epsTrailingTwelveMonths\":6.14,"
        "\"sharesOutstanding\":15552799744,\"bookValue\":3.997,\"fiftyDayAverage\":178.97,"
        "\"marketCap\":2943367168000,\"forwardPE\":28.21,\"priceToBook\":47.35,\"sourceInterval\":15,"
        "\"exchangeDataDelayedBy\":0,\"averageAnalystRating\":\"2.2 - Buy\",\"tradeable\":false,"
        "\"cryptoTradeable\":false,\"displayName\":\"%NAME%\",\"website\":\"https:\\/\\/www.example.com\\/ir\","
        "\"logo\":{\"url\":\"https:\\/\\/logo.example.com\\/%SYMBOL%.png\",\"size\":{\"w\":128,\"h\":128},"
        "\"dark\":null},\"priceHint\":2,\"firstTradeDateMilliseconds\":345479400000,"
        "\"shortName\":\"%NAME%\",\"longName\":\"%NAME% Holdings\",\"symbol\":\"%SYMBOL%\"}");
    o.replace("%SERIAL%", QString::number(24937 + serial));
    o.replace("%CHANGE%", q.change);
    o.replace("%PRICE%", q.price);
    o.replace("%VOLUME%", q.volume);
    o.replace("%NAME%", q.shortName);
    o.replace("%SYMBOL%", q.symbol);
    return o;
}

inline QByteArray quoteReply(const QList<QuoteData>& quotes)
{
    QString body = QStringLiteral(
        "{\"meta\":{\"version\":\"v1.0\",\"status\":200,\"copywrite\":\"https:\\/\\/example.com\","
        "\"symbol\":\"Quotes Data\",\"processedTime\":\"2023-11-27T20:00:01.093Z\"},\"body\":[");
    for (int i = 0; i < quotes.size(); ++i) {
        if (i > 0)
            body += QLatin1Char(',');
        body += quoteObject(quotes[i], i);
    }
    body += QStringLiteral("]}");
    return body.toUtf8();
}

// The same quote in the quote service's current answer form: it opens with
// "language" (the pre-market members come later), holds 83 members and
// names its symbol last.
inline QString currentFormQuote(const QuoteData& q, int serial = 0)
{
    const QString preMarket =
        "\"preMarketChange\":-0.41,\"preMarketChangePercent\":-0.2165,\"preMarketTime\":1701093600,"
        "\"preMarketPrice\":188.84,";
    return quoteObject(q, serial).remove(preMarket).replace(
        "\"priceHint\":2,",
        "\"priceHint\":2," + preMarket +
            "\"postMarketChangePercent\":0.0792,\"postMarketTime\":1701132787,\"postMarketPrice\":189.4,"
            "\"postMarketChange\":0.15,\"hasPrePostMarketData\":true,\"epsForward\":7.01,"
            "\"epsCurrentYear\":6.52,\"priceEpsCurrentYear\":29.02,\"twoHundredDayAverage\":178.5,"
            "\"twoHundredDayAverageChange\":10.75,");
}

// A reply in the current answer form: {"quoteResponse":{"result":[...],"error":null}}.
inline QString currentFormReply(const QStringList& quotes)
{
    return "{\"quoteResponse\":{\"result\":[" + quotes.join(',') + "],\"error\":null}}";
}

// A reply of `count` quotes with distinct symbols Q0000, Q0001, ...
inline QByteArray manyQuotesReply(int count)
{
    QList<QuoteData> quotes;
    for (int i = 0; i < count; ++i) {
        const QString n = QString::number(i);
        quotes.append({QString("Q%1").arg(i, 4, 10, QLatin1Char('0')), "Company " + n, QString::number(10 + i) + ".5",
                       (i % 3 ? "-" : "") + QString::number(i % 7) + ".25", QString::number(1000000 + i)});
    }
    return quoteReply(quotes);
}

inline QByteArray readDataFile(const QString& path)
{
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    return file.readAll();
}
