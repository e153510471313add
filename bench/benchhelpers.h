#pragma once

// What several benchmarks do the same way: start the offline demo's
// substitute services, and read a quote reply by the yardsticks the
// program's own reading is measured against.

#include <QByteArray>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QString>
#include <QStringList>

#include "replies/jsonextract.h"
#include "stocks/stockquotereader.h"
#include "stocks/stockquoterecord.h"

inline const QString SubstituteServicesScript =
    QStringLiteral(CORVELTA_TEST_DATA_DIR "/../../tools/demo/substitute_services.py");

// Starts the substitute weather and quote services on free loopback ports and
// reads their base URLs from the script's first lines. Returns an empty text
// on success, else what went wrong.
inline QString startSubstituteServices(QProcess& services, QString& weatherUrl, QString& stockUrl)
{
    services.start(QStringLiteral("python3"), {SubstituteServicesScript, QStringLiteral("--quiet")});
    if (!services.waitForStarted(30000))
        return QStringLiteral("python3 could not be started");
    QElapsedTimer waiting;
    waiting.start();
    while ((weatherUrl.isEmpty() || stockUrl.isEmpty()) && waiting.elapsed() < 30000) {
        services.waitForReadyRead(100);
        while (services.canReadLine()) {
            const QStringList words = QString::fromUtf8(services.readLine()).simplified().split(' ');
            if (words.size() == 2 && words[0] == "weather")
                weatherUrl = words[1];
            if (words.size() == 2 && words[0] == "stock")
                stockUrl = words[1];
        }
    }
    if (!weatherUrl.startsWith("http://127.0.0.1:") || !stockUrl.startsWith("http://127.0.0.1:"))
        return QStringLiteral("the substitute services did not start on loopback");
    return QString();
}

// The quotes of a reply read by the original, unbounded rule: each quote's
// marker searched from the start again, each key from just after it.
inline int readQuotesBySearchFromStart(const QString& text, stockQuoteStruct* table, int tableSize)
{
    const int n = qMin(int(text.count(StockQuoteReader::QuoteMarker)), tableSize);
    auto valueFrom = [&text](const QString& quotedKey, int start) {
        QString key, value;
        int resume = 0;
        JsonText::extractValue(text, key, value, JsonText::findKeyColon(text, quotedKey, start), resume);
        return value;
    };
    for (int q = 0; q < n; ++q) {
        int at = -1;
        for (int k = 0; k <= q; ++k)
            at = text.indexOf(StockQuoteReader::QuoteMarker, at + 1);
        table[q].change = StockQuoteReader::signedChange(valueFrom("\"regularMarketChange\"", at + 1));
        table[q].price = valueFrom("\"regularMarketPrice\"", at + 1);
        table[q].volume = valueFrom("\"regularMarketVolume\"", at + 1);
        table[q].name = valueFrom("\"shortName\"", at + 1);
        table[q].symbol = valueFrom("\"symbol\"", at + 1);
    }
    return n;
}

// The quotes of a reply read with QJsonDocument into the first `tableSize`
// records; returns how many were read.
inline int readQuotesByJsonParse(const QByteArray& body, stockQuoteStruct* table, int tableSize)
{
    const QJsonArray quotes = QJsonDocument::fromJson(body).object().value("body").toArray();
    const int n = qMin(quotes.size(), tableSize);
    auto text = [](const QJsonValue& v) {
        return v.isString() ? v.toString() : QString::number(v.toDouble(), 'g', 17);
    };
    for (int q = 0; q < n; ++q) {
        const QJsonObject o = quotes[q].toObject();
        table[q].change = StockQuoteReader::signedChange(text(o.value("regularMarketChange")));
        table[q].price = text(o.value("regularMarketPrice"));
        table[q].volume = text(o.value("regularMarketVolume"));
        table[q].name = o.value("shortName").toString();
        table[q].symbol = o.value("symbol").toString();
    }
    return n;
}
