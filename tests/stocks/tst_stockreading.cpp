// Reading quote replies, delivery and ticker texts, without a window or network.
#include <QtTest>

#include <QJsonDocument>
#include <QRandomGenerator>

#include "clocklink/clockaddresslist.h"
#include "clocklink/clockdatagram.h"
#include "replies/failurereason.h"
#include "replies/jsonextract.h"
#include "stocks/stockquotereader.h"
#include "stocks/stockreplyhandling.h"
#include "stocks/stockrequest.h"
#include "stocks/tickertext.h"
#include "support/quotereplies.h"
#include "support/substitutewebserver.h"
#include "support/testmain.h"

Q_DECLARE_METATYPE(TickerText::Flags)

namespace {

using Reader = StockQuoteReader::Reading (*)(const QString&, stockQuoteStruct*, int);

const char* const QuotedKeys[5] = {"\"regularMarketChange\"", "\"regularMarketPrice\"", "\"regularMarketVolume\"",
                                   "\"shortName\"", "\"symbol\""};

// Start (just after its marker) and end (the next marker, or the end of the
// text) of each quote object, found by searching from the start again.
QList<QPair<int, int>> quoteObjects(const QString& text)
{
    const QString marker = QStringLiteral("{\"preMarketChange\"");
    QList<QPair<int, int>> objects;
    const int n = text.count(marker);
    for (int q = 0; q < n; ++q) {
        int at = -1;
        for (int k = 0; k <= q; ++k)
            at = text.indexOf(marker, at + 1);
        const int next = text.indexOf(marker, at + 1);
        objects.append({at + 1, next < 0 ? int(text.size()) : next});
    }
    return objects;
}

// Whether every quote's own object carries all five keys: the replies for
// which the bounded reading and the stated rule must agree.
bool allQuotesComplete(const QString& text)
{
    for (const auto& object : quoteObjects(text))
        for (const char* key : QuotedKeys) {
            const int at = text.indexOf(QLatin1String(key), object.first);
            if (at < 0 || at >= object.second)
                return false;
        }
    return true;
}

// The bounded reading rule, read literally: each key is
// searched from just after the quote's marker and counts only when it begins
// before the next marker; then the stated colon search and extraction.
// Quadratic, kept here as the yardstick for the reader on every reply.
StockQuoteReader::Reading readBoundedBySearchFromStart(const QString& text, stockQuoteStruct* table, int tableSize)
{
    const QList<QPair<int, int>> objects = quoteObjects(text);
    StockQuoteReader::Reading reading;
    reading.quotesInReply = objects.size();
    reading.quotesRead = qMin(reading.quotesInReply, tableSize);
    for (int q = 0; q < reading.quotesRead; ++q) {
        QString values[5];
        table[q].unknownKeys.clear();
        table[q].volumeFromRaw = false;
        for (int k = 0; k < 5; ++k) {
            const int at = text.indexOf(QLatin1String(QuotedKeys[k]), objects[q].first);
            bool unknown = at < 0 || at >= objects[q].second;
            if (!unknown) {
                QString key;
                int resume = 0;
                const int colon = text.indexOf(QLatin1Char(':'), at);
                JsonText::extractValue(text, key, values[k], colon, resume);
                unknown = JsonText::isNullValue(text, colon, values[k]);
                // A value stated as an object: the "raw" number inside it, if any.
                if (text.mid(colon + 1, 1) == "{") {
                    const int raw = text.indexOf("\"raw\"", colon), close = text.indexOf('}', colon);
                    values[k].clear();
                    if (raw >= 0 && raw < close)
                        JsonText::extractValue(text, key, values[k], text.indexOf(':', raw), resume);
                    bool number = false;
                    values[k].toDouble(&number);
                    unknown = !number;
                    values[k] = number ? values[k] : QString();
                    table[q].volumeFromRaw = table[q].volumeFromRaw || (k == 2 && number);
                }
            }
            if (k <= 1 && !StockQuoteReader::isNumber(values[k]))
                unknown = true;
            if (unknown)
                table[q].unknownKeys << StockQuoteReader::KeyNames[k];
        }
        table[q].change = StockQuoteReader::signedChange(values[0]);
        table[q].price = values[1];
        table[q].volume = values[2];
        table[q].name = values[3];
        table[q].symbol = values[4];
    }
    return reading;
}

// The original, unbounded reading rule: the q-th marker is found
// by searching from the start again for each quote, and each key is searched
// from just after that marker with nothing bounding it. It gives the same
// values as the bounded rule for replies whose quotes all carry the five keys.
StockQuoteReader::Reading readBySearchFromStart(const QString& text, stockQuoteStruct* table, int tableSize)
{
    const QString marker = QStringLiteral("{\"preMarketChange\"");
    StockQuoteReader::Reading reading;
    reading.quotesInReply = text.count(marker);
    reading.quotesRead = qMin(reading.quotesInReply, tableSize);
    auto valueFrom = [&text](const QString& quotedKey, int start) {
        QString key, value;
        int resume = 0;
        JsonText::extractValue(text, key, value, JsonText::findKeyColon(text, quotedKey, start), resume);
        return value;
    };
    for (int q = 0; q < reading.quotesRead; ++q) {
        int at = -1;
        for (int k = 0; k <= q; ++k)
            at = text.indexOf(marker, at + 1);
        const int s = at + 1;
        const QString change = valueFrom("\"regularMarketChange\"", s);
        table[q].change = change.toFloat() < 0 ? change : "+" + change;
        table[q].price = valueFrom("\"regularMarketPrice\"", s);
        table[q].volume = valueFrom("\"regularMarketVolume\"", s);
        table[q].name = valueFrom("\"shortName\"", s);
        table[q].symbol = valueFrom("\"symbol\"", s);
    }
    return reading;
}

QString recorded(const QString& name)
{
    return QString::fromUtf8(readDataFile(testDataPath("stocks/" + name)));
}

TickerText::Flags flagsOf(const QString& letters)  // n t p c v
{
    TickerText::Flags f;
    f.name = letters.contains('n');
    f.ticker = letters.contains('t');
    f.price = letters.contains('p');
    f.change = letters.contains('c');
    f.volume = letters.contains('v');
    return f;
}

stockQuoteStruct quote(const QString& name, const QString& symbol, const QString& price, const QString& change,
                       const QString& volume)
{
    stockQuoteStruct q;
    q.name = name;
    q.symbol = symbol;
    q.price = price;
    q.change = change;
    q.volume = volume;
    return q;
}

// Compares the reader's reading with one yardstick's, record by record. The
// unknown keys are compared too when the yardstick finds them; otherwise the
// yardstick's records take the reader's, so the delivery compares the values.
void compareReadingsWith(const QString& text, int tableSize, Reader yardstickReader, bool withUnknownKeys)
{
    QVector<stockQuoteStruct> linear(tableSize + 1), yardstick(tableSize + 1);
    const auto a = StockQuoteReader::read(text, linear.data(), tableSize);
    const auto b = yardstickReader(text, yardstick.data(), tableSize);
    if (!withUnknownKeys)
        for (int q = 0; q <= tableSize; ++q)
            yardstick[q].unknownKeys = linear[q].unknownKeys;
    QCOMPARE(a.quotesInReply, b.quotesInReply);
    QCOMPARE(a.quotesRead, b.quotesRead);
    for (int q = 0; q <= tableSize; ++q) {
        if (withUnknownKeys)
            QVERIFY2(linear[q].unknownKeys == yardstick[q].unknownKeys,
                     "record " + QByteArray::number(q) + " unknown keys");
        const QByteArray where = "record " + QByteArray::number(q);
        QVERIFY2(linear[q].change == yardstick[q].change, where + " change");
        QVERIFY2(linear[q].price == yardstick[q].price, where + " price");
        QVERIFY2(linear[q].volume == yardstick[q].volume, where + " volume");
        QVERIFY2(linear[q].name == yardstick[q].name, where + " name");
        QVERIFY2(linear[q].symbol == yardstick[q].symbol, where + " symbol");
        QVERIFY2(linear[q].deliveryVar == -1, where + " deliveryVar");
    }

    // Whatever is logged, shown and sent follows from the records: the same
    // delivery run on both tables gives the same lines and texts.
    const QStringList fields = {"AAPL,GOOGL", "MSFT", "GOOG", "Q0001,Q0150", "^GSPC,BRK-B"};
    StockReplyHandling::Result fromLinear, fromYardstick;
    StockReplyHandling::deliver(linear.data(), a.quotesRead, fields, flagsOf("ntpcv"), fromLinear);
    StockReplyHandling::deliver(yardstick.data(), b.quotesRead, fields, flagsOf("ntpcv"), fromYardstick);
    QCOMPARE(fromLinear.logLines, fromYardstick.logLines);
    for (int v = 0; v < 5; ++v)
        QCOMPARE(fromLinear.tickerTexts[v], fromYardstick.tickerTexts[v]);
}

// Compares the reader's reading with a yardstick's, record by record, and
// reports the first difference: always with the bounded rule;
// with the original unbounded rule only when every quote of the reply
// carries the five keys (for other replies the two rules differ by design: a
// key a quote lacks is no longer taken from a later quote).
void compareReadings(const QString& text, int tableSize)
{
    // Where the reply is no well-formed JSON a quote ends at its own braces
    // (or nowhere), not at the next marker: the reading only stays in the table.
    QJsonParseError error;
    QJsonDocument::fromJson(text.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError && !text.isEmpty()) {
        QVector<stockQuoteStruct> table(tableSize + 1);
        table[tableSize].symbol = "untouched";
        QVERIFY(StockQuoteReader::read(text, table.data(), tableSize).quotesRead <= tableSize);
        QCOMPARE(table[tableSize].symbol, QString("untouched"));
        return;
    }
    compareReadingsWith(text, tableSize, readBoundedBySearchFromStart, true);
    if (QTest::currentTestFailed() || !allQuotesComplete(text))
        return;
    compareReadingsWith(text, tableSize, readBySearchFromStart, false);
}

// Everything one reply makes the feed log and send, in order: the handling's
// log lines, then for each non-empty ticker text and each clock the
// "Sending" line and the datagram's bytes (as the feed sends them).
QStringList feedOutput(const StockReplyHandling::Result& result, const QString& clockList)
{
    QStringList out = result.logLines;
    for (int v = 0; v < StockReplyHandling::TickerCount; ++v) {
        out << "label " + result.tickerTexts[v];
        if (result.tickerTexts[v].isEmpty())
            continue;
        for (const QString& address : ClockAddressList::split(clockList)) {
            out << StockReplyHandling::sendingLogLine(address, v, result.tickerTexts[v]);
            out << address + " " + QString::fromLatin1(ClockDatagram::build(v, result.tickerTexts[v]).toHex());
        }
    }
    return out;
}

// The handling of one reply with the bounded reading rule read literally.
StockReplyHandling::Result handleBySearchFromStart(const QString& text, stockQuoteStruct* table, int tableSize,
                                                   const QStringList& fields, const TickerText::Flags& flags)
{
    StockReplyHandling::Result result;
    result.logLines << QString::asprintf("StockQuote Response: Length=%d %s", text.size(), qUtf8Printable(text));
    const StockQuoteReader::Reading reading = readBoundedBySearchFromStart(text, table, tableSize);
    if (reading.quotesIgnored() > 0)
        result.logLines << QString::asprintf("StockQuote Response: %d quotes, first %d used, %d ignored",
                                             reading.quotesInReply, reading.quotesRead, reading.quotesIgnored());
    StockReplyHandling::deliver(table, reading.quotesRead, fields, flags, result);
    return result;
}

}  // namespace

class StockReadingTest : public QObject
{
    Q_OBJECT

private slots:
    void symbolList_data()
    {
        QTest::addColumn<QStringList>("fields");
        QTest::addColumn<QString>("list");
        dataRow("five filled", QStringList{"AAPL", "MSFT", "GOOG", "IBM", "T"}, "AAPL,MSFT,GOOG,IBM,T");
        dataRow("five empty: four commas, then two", QStringList{"", "", "", "", ""}, ",,");
        dataRow("first only: trailing empties leave two commas", QStringList{"AAPL", "", "", "", ""}, "AAPL,,");
        dataRow("empty first leaves a leading comma", QStringList{"", "MSFT", "GOOG", "IBM", "T"}, ",MSFT,GOOG,IBM,T");
        dataRow("empty last leaves a trailing comma", QStringList{"AAPL", "MSFT", "GOOG", "IBM", ""},
                "AAPL,MSFT,GOOG,IBM,");
        dataRow("one empty between leaves no gap", QStringList{"AAPL", "", "GOOG", "IBM", "T"}, "AAPL,GOOG,IBM,T");
        dataRow("two empty between still leave a gap", QStringList{"AAPL", "", "", "IBM", "T"}, "AAPL,,IBM,T");
        dataRow("several symbols in one field", QStringList{"AAPL,MSFT", "F", "", "", "T"}, "AAPL,MSFT,F,,T");
        dataRow("white space simplified, not removed", QStringList{"  AAPL ", "MS\t FT", "GOOG", "IBM", "T "},
                "AAPL ,MS FT,GOOG,IBM,T");
    }
    void symbolList()
    {
        QFETCH(QStringList, fields);
        QFETCH(QString, list);
        QCOMPARE(StockRequest::symbolList(fields), list);
    }

    void quoteUrl_data()
    {
        QTest::addColumn<QString>("list");
        QTest::addColumn<QByteArray>("encoded");
        QTest::newRow("plain") << "AAPL,MSFT" << QByteArray("https://h:1/qu/quote?symbol=AAPL,MSFT");
        QTest::newRow("commas") << ",," << QByteArray("https://h:1/qu/quote?symbol=,,");
        QTest::newRow("spaces") << "AAPL ,MS FT" << QByteArray("https://h:1/qu/quote?symbol=AAPL%20,MS%20FT");
        QTest::newRow("index caret") << "^GSPC,BRK-B" << QByteArray("https://h:1/qu/quote?symbol=%5EGSPC,BRK-B");
        QTest::newRow("non-ASCII") << QString::fromUtf8("NESN.SW,É")
                                   << QByteArray("https://h:1/qu/quote?symbol=NESN.SW,%C3%89");
    }
    void quoteUrl()
    {
        QFETCH(QString, list);
        QFETCH(QByteArray, encoded);
        QCOMPARE(StockRequest::quoteUrl("https://h:1", list).toEncoded(), encoded);
    }

    void readsRecordedReply_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("index");
        QTest::addColumn<QStringList>("record");  // change, price, volume, name, symbol
        dataRow("negative change kept as it is", "three-quotes.json", 0,
                QStringList{"-1.2", "189.25", "53242137", "Apple Inc.", "AAPL"});
        dataRow("zero change gets a plus", "three-quotes.json", 1,
                QStringList{"+0", "378.91", "20101200", "Microsoft Corporation", "MSFT"});
        dataRow("positive change gets a plus", "three-quotes.json", 2,
                QStringList{"+0.23", "10.6", "41853714", "Ford Motor Company", "F"});
        dataRow("escaped quotes and braces in a name", "irregular-quotes.json", 0,
                QStringList{"-0.5", "136.93", "24531800", "Alphabet Inc. \"A\" {class", "GOOGL"});
        // A key the quote's own object lacks is not taken from the next quote.
        dataRow("null change, name absent and not borrowed", "irregular-quotes.json", 1,
                QStringList{"+null", "138.05", "18712000", "", "GOOG"});
        dataRow("price as an object reads its raw number", "irregular-quotes.json", 2,
                QStringList{"-9.0", "4550.43", "2.1B", "S&P 500", "^GSPC"});
        dataRow("blank after colon; volume absent from the rest", "irregular-quotes.json", 3,
                QStringList{"+1.5e-05", "359.2", "", "Berkshire Hathaway Inc. New", "BRK-B"});
    }
    void readsRecordedReply()
    {
        QFETCH(QString, file);
        QFETCH(int, index);
        QFETCH(QStringList, record);
        stockQuoteStruct table[200];
        StockQuoteReader::read(recorded(file), table, 200);
        const stockQuoteStruct& q = table[index];
        QCOMPARE((QStringList{q.change, q.price, q.volume, q.name, q.symbol}), record);
        QCOMPARE(q.deliveryVar, -1);
    }

    void linearReadingMatchesSearchFromStart_data()
    {
        QTest::addColumn<QString>("text");
        dataRow("three quotes", recorded("three-quotes.json"));
        dataRow("irregular quotes", recorded("irregular-quotes.json"));
        dataRow("error message, no quotes", recorded("not-subscribed.json"));
        dataRow("empty", QString());
        dataRow("200 quotes", QString::fromUtf8(manyQuotesReply(200)));
        dataRow("260 quotes, beyond the table", QString::fromUtf8(manyQuotesReply(260)));
        dataRow("markers only", QString("[{\"preMarketChange\"{\"preMarketChange\":1,{\"preMarketChange\""));
        dataRow("ends with a colon",
                QString("{\"preMarketChange\":1,\"symbol\":\"A\"},{\"preMarketChange\":2,\"regularMarketPrice\":"));
        dataRow("keys only in the last quote",
                QString("[{\"preMarketChange\":1},{\"preMarketChange\":2},{\"preMarketChange\":3,"
                        "\"regularMarketChange\":-4,\"regularMarketPrice\":5,\"regularMarketVolume\":6,"
                        "\"shortName\":\"Seven\",\"symbol\":\"EIGHT\"}]"));
        dataRow(
            "keys before the first marker only",
            QString("{\"symbol\":\"X\",\"regularMarketPrice\":1,[{\"preMarketChange\":1},{\"preMarketChange\":2}]"));
        dataRow("key without colon after it",
                QString("{\"preMarketChange\":1,\"symbol\" \"symbol\"},{\"preMarketChange\":2,\"symbol\" x:\"Y\"}"));
        dataRow("unterminated string runs to the end",
                QString("{\"preMarketChange\":1,\"shortName\":\"Open,{\"preMarketChange\":2,\"symbol\":\"Z"));
    }
    void linearReadingMatchesSearchFromStart()
    {
        QFETCH(QString, text);
        compareReadings(text, 200);
        if (QTest::currentTestFailed())
            return;
        compareReadings(text, 3);  // a small table: the cap in the middle of a reply
    }

    // Cuts, and corrupts, recorded replies at many places: every reading must
    // still come out exactly as the search-from-start rule gives it.
    void linearReadingMatchesOnDamagedReplies()
    {
        const QString full = recorded("three-quotes.json") + recorded("irregular-quotes.json");
        for (int cut = 0; cut <= full.size(); cut += 13) {
            compareReadings(full.left(cut), 200);
            if (QTest::currentTestFailed())
                QFAIL(qPrintable(QString("cut at %1").arg(cut)));
        }
        QRandomGenerator random(20231127);
        const QString noise = QStringLiteral("{}[]\":, \\x");
        for (int round = 0; round < 300; ++round) {
            QString text = full;
            for (int edit = 0; edit < 4; ++edit) {
                const int at = random.bounded(text.size());
                if (random.bounded(2))
                    text.remove(at, random.bounded(1, 40));
                else
                    text.insert(at, noise.at(random.bounded(noise.size())));
            }
            compareReadings(text, 5);
            if (QTest::currentTestFailed())
                QFAIL(qPrintable(QString("round %1").arg(round)));
        }
    }

    // A day of replies into the same table, which is never cleared: records
    // keep values and delivery fields from earlier, longer replies. Every
    // log line, label and datagram must come out as the rule read literally
    // gives it.
    void sameLinesAndDatagramsOverASequenceOfReplies()
    {
        const QList<QString> replies = {recorded("three-quotes.json"),     QString::fromUtf8(manyQuotesReply(260)),
                                        recorded("irregular-quotes.json"), recorded("not-subscribed.json"),
                                        recorded("three-quotes.json"),     QString::fromUtf8(manyQuotesReply(7))};
        const QStringList fields = {"AAPL,Q0003", "MSFT", "GOOG,Q0150", "F,^GSPC", "BRK-B,Q0199"};
        const QString clocks = "127.0.0.2, 127.0.0.3";
        stockQuoteStruct linear[200], yardstick[200];
        for (int r = 0; r < replies.size(); ++r) {
            const auto a = StockReplyHandling::handle(replies[r], linear, 200, fields, flagsOf("ntpcv"));
            const auto b = handleBySearchFromStart(replies[r], yardstick, 200, fields, flagsOf("ntpcv"));
            const QStringList fromLinear = feedOutput(a, clocks);
            const QStringList fromYardstick = feedOutput(b, clocks);
            QVERIFY2(fromLinear.filter(QRegularExpression("^127\\.0\\.0\\.2 be")).size() > 0 || r == 3,
                     qPrintable(QString("reply %1 sent nothing").arg(r)));
            QCOMPARE(fromLinear, fromYardstick);
            for (int q = 0; q < 200; ++q)
                QCOMPARE(linear[q].deliveryVar, yardstick[q].deliveryVar);
        }
    }

    void tableHoldsTwoHundredQuotes()
    {
        const QString text = QString::fromUtf8(manyQuotesReply(237));
        QVector<stockQuoteStruct> table(201);
        table[200].symbol = "untouched";
        StockReplyHandling::Result result =
            StockReplyHandling::handle(text, table.data(), 200, {"Q0000", "Q0199", "Q0200", "", ""}, flagsOf("tp"));
        QCOMPARE(table[199].symbol, QString("Q0199"));
        QCOMPARE(table[200].symbol, QString("untouched"));
        QCOMPARE(result.logLines.value(1), QString("StockQuote Response: 237 quotes, first 200 used, 37 ignored"));
        QCOMPARE(result.logLines.filter(QRegularExpression("^i=")).size(), 200);
        QCOMPARE(result.tickerTexts[0], QString("(Q0000) 10.50 "));
        QCOMPARE(result.tickerTexts[1], QString("(Q0199) 209.50 "));
        QCOMPARE(result.tickerTexts[2], QString());  // quote 200 was ignored
    }

    void delivery_data()
    {
        addColumns<QString, QStringList, int, int>({"symbol", "fields", "previous", "deliveryVar"});
        const QStringList five = {"AAPL", "MSFT", "GOOG,IBM", "T", "GOOGL"};
        dataRow("own field", "MSFT", five, -1, 1);
        dataRow("one of several in a field", "IBM", five, -1, 2);
        dataRow("short symbol in an earlier longer one", "T", five, -1, 1);
        dataRow("first matching field wins", "GOOG", five, -1, 2);
        dataRow("longer symbol not in the shorter field", "GOOGL", five, -1, 4);
        dataRow("case-sensitive: no match, never matched", "AAPL", QStringList{"aapl", "", "", "", ""}, -1, -1);
        dataRow("no match keeps the earlier field", "AAPL", QStringList{"aapl", "", "", "", ""}, 3, 3);
        dataRow("empty symbol matches the first field", "", QStringList{"", "AAPL", "", "", ""}, -1, 0);
    }
    void delivery()
    {
        QFETCH(QString, symbol);
        QFETCH(QStringList, fields);
        QFETCH(int, previous);
        QFETCH(int, deliveryVar);
        QCOMPARE(TickerText::matchDelivery(symbol, fields, previous), deliveryVar);
    }

    void piece_data()
    {
        QTest::addColumn<QString>("flags");
        QTest::addColumn<QStringList>("record");  // name, symbol, price, change, volume
        QTest::addColumn<QString>("piece");
        const QStringList apple = {"Apple Inc.", "AAPL", "189.25", "-1.2", "53242137"};
        dataRow("first-start flags", "tp", apple, "(AAPL) 189.25 ");
        dataRow("all five, negative change", "ntpcv", apple, "Apple Inc., (AAPL) 189.25  -1.20 53242137");
        dataRow("zero change", "c", QStringList{"", "", "", "+0", ""}, "+0.00 ");
        dataRow("small negative change", "c", QStringList{"", "", "", "-0.5", ""}, " -0.50 ");
        dataRow("positive change", "c", QStringList{"", "", "", "+0.23", ""}, "+0.23 ");
        // What is no number is unknown, never 0.00.
        dataRow("null change is unknown", "c", QStringList{"", "", "", "+null", ""}, "-- ");
        dataRow("price rounded to two places", "p", QStringList{"", "", "4550.426", "", ""}, "4550.43 ");
        // Read in single precision: 4550.4349 is held as 4550.43505859375.
        dataRow("price read in single precision", "p", QStringList{"", "", "4550.4349", "", ""}, "4550.44 ");
        dataRow("price that is no number", "p", QStringList{"", "", "", "", ""}, "-- ");
        dataRow("missing price, negative change", "tpc", QStringList{"Apple Inc.", "AAPL", "", "-1.2", ""},
                "(AAPL) --  -1.20 ");
        dataRow("missing change", "tpc", QStringList{"IBM", "IBM", "193.6", "", ""}, "(IBM) 193.60 -- ");
        dataRow("short price padded to width four", "p", QStringList{"", "", "1", "", ""}, "1.00 ");
        dataRow("volume as extracted", "v", QStringList{"", "", "", "", "2.1B"}, "2.1B");
        dataRow("volume stated as a raw number: its integer's digits", "vr", QStringList{"", "", "", "", "5.3242137E7"},
                "53242137");
        dataRow("name alone", "n", apple, "Apple Inc., ");
        dataRow("every flag off", "", apple, "");
    }
    void piece()
    {
        QFETCH(QString, flags);
        QFETCH(QStringList, record);
        QFETCH(QString, piece);
        stockQuoteStruct q = quote(record[0], record[1], record[2], record[3], record[4]);
        q.volumeFromRaw = flags.contains('r');
        QCOMPARE(TickerText::piece(q, flagsOf(flags)), piece);
    }

    void replyLogAndTexts()
    {
        const QString text = recorded("three-quotes.json");
        stockQuoteStruct table[200];
        const StockReplyHandling::Result result =
            StockReplyHandling::handle(text, table, 200, {"AAPL", "MSFT", "", "", ""}, flagsOf("ntpcv"));
        const QStringList expected = {
            QString("StockQuote Response: Length=%1 %2").arg(text.size()).arg(text),
            "i=0 Name=Apple Inc. Symbol=AAPL Price=189.25 Change=-1.2 Volume=53242137 DeliveryVar=0",
            "i=1 Name=Microsoft Corporation Symbol=MSFT Price=378.91 Change=+0 Volume=20101200 DeliveryVar=1",
            "i=2 Name=Ford Motor Company Symbol=F Price=10.6 Change=+0.23 Volume=41853714 DeliveryVar=1",
            "Var0=Apple Inc., (AAPL) 189.25  -1.20 53242137",
            "Var1=Microsoft Corporation, (MSFT) 378.91 +0.00 20101200, "
            "Ford Motor Company, (F) 10.60 +0.23 41853714",
            "Var2=",
            "Var3=",
            "Var4=",
        };
        QCOMPARE(result.logLines, expected);
    }

    // A quote that matches no field goes nowhere, whether or not it matched
    // one in an earlier reply.
    void unmatchedQuotes()
    {
        const QString text = recorded("three-quotes.json");
        stockQuoteStruct table[200];
        StockReplyHandling::Result first =
            StockReplyHandling::handle(text, table, 200, {"aapl", "", "MSFT", "", ""}, flagsOf("tp"));
        QVERIFY(first.logLines.contains(
            "i=0 Name=Apple Inc. Symbol=AAPL Price=189.25 Change=-1.2 Volume=53242137 DeliveryVar=-1"));
        QCOMPARE(first.tickerTexts[0], QString());
        // "F" is part of "MSFT".
        QCOMPARE(first.tickerTexts[2], QString("(MSFT) 378.91 , (F) 10.60 "));
        QVERIFY(first.logLines.contains(
            "i=2 Name=Ford Motor Company Symbol=F Price=10.6 Change=+0.23 Volume=41853714 DeliveryVar=2"));
        for (int v : {0, 1, 3, 4})
            QCOMPARE(first.tickerTexts[v], QString());

        // A quote that matches no field of this reply is dropped,
        // though its record matched a field in the earlier reply.
        StockReplyHandling::Result second =
            StockReplyHandling::handle(text, table, 200, {"aapl", "", "msft", "", ""}, flagsOf("tp"));
        QCOMPARE(table[0].deliveryVar, -1);
        QCOMPARE(table[1].deliveryVar, -1);
        QCOMPARE(table[2].deliveryVar, -1);
        QVERIFY(second.logLines.contains(
            "i=1 Name=Microsoft Corporation Symbol=MSFT Price=378.91 Change=+0 Volume=20101200 DeliveryVar=-1"));
        for (int v = 0; v < 5; ++v)
            QCOMPARE(second.tickerTexts[v], QString());
    }

    void separators_data()
    {
        QTest::addColumn<QString>("flags");
        QTest::addColumn<QString>("text0");
        dataRow("every flag off: no separators", "", "");
        dataRow("ticker only", "t", "(AAPL) , (MSFT) , (F) ");
        // An empty piece after a filled one still gets its separator.
        dataRow("volume only", "v", "53242137, 20101200, 41853714");
    }
    void separators()
    {
        QFETCH(QString, flags);
        QFETCH(QString, text0);
        stockQuoteStruct table[200];
        const auto result = StockReplyHandling::handle(recorded("three-quotes.json"), table, 200,
                                                       {"AAPL,MSFT,F", "", "", "", ""}, flagsOf(flags));
        QCOMPARE(result.tickerTexts[0], text0);
    }

    // Each quote's keys come from its own object only.
    void keysReadInsideTheirOwnObject_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("index");
        QTest::addColumn<QStringList>("record");  // change, price, volume, name, symbol
        QTest::addColumn<QStringList>("unknownKeys");
        QTest::addColumn<bool>("asBoundedByNextMarker");  // as the rule bounded by the next marker reads it
        const QString withoutPrice = quoteObject({"AAPL", "Apple Inc.", "PRICE", "-1.2", "53242137"})
                                         .replace("\"regularMarketPrice\":PRICE,", "");
        const QString ibm = quoteObject({"IBM", "IBM", "193.6", "0.5", "3000000"}, 1);
        dataRow("missing price, next quote has one", "{\"body\":[" + withoutPrice + "," + ibm + "]}", 0,
                QStringList{"-1.2", "", "53242137", "Apple Inc.", "AAPL"}, QStringList{"regularMarketPrice"}, true);
        dataRow("the next quote keeps its own", "{\"body\":[" + withoutPrice + "," + ibm + "]}", 1,
                QStringList{"+0.5", "193.6", "3000000", "IBM", "IBM"}, QStringList{}, true);
        dataRow("null price and change", QString::fromUtf8(quoteReply({{"MSFT", "Microsoft", "null", "null", "null"}})),
                0, QStringList{"+null", "null", "null", "Microsoft", "MSFT"},
                QStringList{"regularMarketChange", "regularMarketPrice", "regularMarketVolume"}, true);
        dataRow("quoted \"null\" name is a name", QString::fromUtf8(quoteReply({{"X", "null", "1", "1", "1"}})), 0,
                QStringList{"+1", "1", "1", "null", "X"}, QStringList{}, true);
        dataRow("last quote runs to the end of the reply",
                QString("{\"preMarketChange\":1,\"symbol\":\"A\"},{\"preMarketChange\":2,\"regularMarketPrice\":3,"
                        "\"symbol\":\"B\"}"),
                1, QStringList{"+", "3", "", "", "B"},
                QStringList{"regularMarketChange", "regularMarketVolume", "shortName"}, true);
        // Nothing lends a value to a quote or takes one from it.
        const QString msft = quoteObject({"MSFT", "Microsoft", "378.91", "0", "1"}, 1);
        const QString aapl =
            QString(withoutPrice).replace("\"symbol\":\"AAPL\"}", "\"symbol\":\"AAPL\",\"q\":{\"x\":1}}");
        const QStringList aaplRecord = {"-1.2", "", "53242137", "Apple Inc.", "AAPL"};
        dataRow("a quote without the marker does not lend",
                "{\"body\":[" + withoutPrice + "," + QString(msft).replace("{\"preMarketChange\":-0.41,", "{") + "]}",
                0, aaplRecord, QStringList{"regularMarketPrice"}, false);
        dataRow("data after the quote array does not lend",
                "{\"body\":[" + withoutPrice + "],\"meta\":{\"regularMarketPrice\":5}}", 0, aaplRecord,
                QStringList{"regularMarketPrice"}, false);
        dataRow("a nested object does not split the quote",
                "{\"body\":[" +
                    QString(withoutPrice).replace("\"language\"", "\"n\":{\"preMarketChange\":1},\"language\"") + "," +
                    msft + "]}",
                0, aaplRecord, QStringList{"regularMarketPrice"}, false);
        dataRow("braces and the marker inside a string",
                "{\"body\":[" +
                    QString(msft).replace("Microsoft\",\"longName", "}]{\\\"preMarketChange\\\"\",\"longName") + "," +
                    aapl + "]}",
                1, aaplRecord, QStringList{"regularMarketPrice"}, false);
        const QString last =
            "{\"preMarketChange\":1,\"symbol\":\"AAPL\",\"regularMarketChange\":-1.2,"
            "\"regularMarketVolume\":5,\"shortName\":\"Back\\\\\",\"regularMarketPrice\":189.25}";
        const QStringList lastRecord = {"-1.2", "189.25", "5", "Back", "AAPL"};
        dataRow("last quote: an escaped backslash, a bare number", "[" + msft + "," + last + "]", 1, lastRecord,
                QStringList{}, false);
        dataRow("bare number before a meta object", "{\"body\":[" + last + "],\"meta\":{\"n\":2}}", 0, lastRecord,
                QStringList{}, false);
        dataRow("a quote cut short is no quote", "[" + last.left(last.size() - 3), 0, QStringList{"", "", "", "", ""},
                QStringList{}, false);
        dataRow("a nested object with the marker is no quote",
                "[" +
                    QString(last).replace("\"symbol\"",
                                          "\"n\":[{\"preMarketChange\":1,\"regularMarketPrice\":99,"
                                          "\"symbol\":\"IN\"}],\"symbol\"") +
                    "," + msft + "]",
                1, QStringList{"+0", "378.91", "1", "Microsoft", "MSFT"}, QStringList{}, false);
        // Values stated as objects: the raw number, or missing.
        const QString raw =
            quoteObject({"AAPL", "Apple Inc.", R"({"raw":189.25,"fmt":"189.25"})", R"({"raw":-1.2,"fmt":"-1.20"})",
                         R"({"raw":5.3242137E7,"fmt":"53.24M","longFmt":"53,242,137"})"});
        dataRow("raw and fmt objects read as their raw numbers", "[" + raw + "]", 0,
                QStringList{"-1.2", "189.25", "5.3242137E7", "Apple Inc.", "AAPL"}, QStringList{}, false);
        const QString noRaw =
            quoteObject({"AAPL", "Apple Inc.", "{}", R"({"raw":null,"fmt":""})", R"({"fmt":"53.24M"})"});
        dataRow("objects without a raw number are missing", "[" + noRaw + "]", 0,
                QStringList{"+", "", "", "Apple Inc.", "AAPL"},
                QStringList{"regularMarketChange", "regularMarketPrice", "regularMarketVolume"}, false);
        // The current answer form: every object of quoteResponse.result is a quote, whatever it opens with.
        const QString ibmNow = currentFormQuote({"IBM", "IBM", "193.6", "0.5", "3000000"}, 1);
        const QString nested = currentFormQuote({"AAPL", "Apple Inc.", "151.49", "-1.2", "1"})
                                   .replace("\"logo\"", "\"n\":{\"preMarketChange\":1,\"symbol\":\"IN\"},\"logo\"");
        dataRow("current form: 83 members, escaped slashes, symbol last; nested objects are no quotes",
                currentFormReply({nested, ibmNow}), 1, QStringList{"+0.5", "193.6", "3000000", "IBM", "IBM"},
                QStringList{}, false);
        dataRow("current form: an object without a symbol is a quote",
                currentFormReply({QString(ibmNow).replace(",\"symbol\":\"IBM\"", "")}), 0,
                QStringList{"+0.5", "193.6", "3000000", "IBM", ""}, QStringList{"symbol"}, false);
        dataRow("both forms in reply order; a marker quote in the result counts once",
                "{\"quoteResponse\":{\"result\":[" + last + "," + ibmNow + "],\"error\":null},\"body\":[" + msft + "]}",
                2, QStringList{"+0", "378.91", "1", "Microsoft", "MSFT"}, QStringList{}, false);
        for (const char* zero : {"-0", "-0.0", "-0.00"})
            dataRow(zero, QString::fromUtf8(quoteReply({{"Z", "Zero", "1", zero, "1"}})), 0,
                    QStringList{"+" + QString(zero).mid(1), "1", "1", "Zero", "Z"}, QStringList{}, false);
    }
    void keysReadInsideTheirOwnObject()
    {
        QFETCH(QString, text);
        QFETCH(int, index);
        QFETCH(QStringList, record);
        QFETCH(QStringList, unknownKeys);
        QFETCH(bool, asBoundedByNextMarker);
        stockQuoteStruct table[200];
        StockQuoteReader::read(text, table, 200);
        const stockQuoteStruct& q = table[index];
        QCOMPARE((QStringList{q.change, q.price, q.volume, q.name, q.symbol}), record);
        QCOMPARE(q.unknownKeys, unknownKeys);
        if (asBoundedByNextMarker)
            compareReadings(text, 200);
    }

    // What is unknown prints as "--" or is left out, and
    // one line names it.
    void unknownValuesInTheTickerText()
    {
        const QString withoutPrice = quoteObject({"AAPL", "Apple Inc.", "PRICE", "-1.2", "53242137"})
                                         .replace("\"regularMarketPrice\":PRICE,", "");
        const QString nullChange =
            quoteObject({"IBM", "IBM", "193.6", "null", "null"}, 1).replace("\"shortName\":\"IBM\",", "");
        const QString zero = quoteObject({"MSFT", "Microsoft", "378.91", "0", "1"}, 2);
        const QString text = "{\"body\":[" + withoutPrice + "," + nullChange + "," + zero + "]}";
        stockQuoteStruct table[200];
        const auto result =
            StockReplyHandling::handle(text, table, 200, {"AAPL", "IBM", "MSFT", "", ""}, flagsOf("ntpcv"));
        QCOMPARE(result.tickerTexts[0], QString("Apple Inc., (AAPL) --  -1.20 53242137"));
        QCOMPARE(result.tickerTexts[1], QString("(IBM) 193.60 -- "));
        QCOMPARE(result.tickerTexts[2], QString("Microsoft, (MSFT) 378.91 +0.00 1"));
        QCOMPARE(result.logLines.filter(QRegularExpression("^Stock Data Missing: ")),
                 (QStringList{"Stock Data Missing: AAPL regularMarketPrice",
                              "Stock Data Missing: IBM regularMarketChange, regularMarketVolume, shortName"}));
        QCOMPARE(result.quotesInReply, 3);

        // A quote without a symbol is named by none and goes to no field.
        stockQuoteStruct nameless;
        nameless.symbol = "null";
        nameless.price = "1";
        nameless.change = "+1";
        nameless.unknownKeys = QStringList{"symbol"};
        QCOMPARE(TickerText::missingLogLine(nameless), QString("Stock Data Missing:  symbol"));
        const QString noSymbol = QString::fromUtf8(quoteReply({{"SYM", "Nameless", "1", "1", "1"}}))
                                     .replace("\"symbol\":\"SYM\"", "\"x\":1");
        const auto alone = StockReplyHandling::handle(noSymbol, table, 200, {"AAPL", "", "", "", ""}, flagsOf("tp"));
        QVERIFY(alone.logLines.contains("Stock Data Missing:  symbol"));
        for (int v = 0; v < 5; ++v)
            QCOMPARE(alone.tickerTexts[v], QString());
    }

    // The stated rule still holds wherever every quote carries its five keys.
    void completeRepliesFollowTheStatedRule()
    {
        for (const QString& text : {recorded("three-quotes.json"), QString::fromUtf8(manyQuotesReply(260))}) {
            QVERIFY(allQuotesComplete(text));
            compareReadingsWith(text, 200, readBySearchFromStart, false);
            if (QTest::currentTestFailed())
                return;
        }
        QVERIFY(!allQuotesComplete(recorded("irregular-quotes.json")));
    }

    void hasSymbol_data()
    {
        QTest::addColumn<QStringList>("fields");
        QTest::addColumn<bool>("has");
        dataRow("five empty", QStringList{"", "", "", "", ""}, false);
        dataRow("commas and blanks only", QStringList{" , ", ",,", "\t", "", " "}, false);
        dataRow("one symbol in the last field", QStringList{"", "", "", "", "T"}, true);
    }
    void hasSymbol()
    {
        QFETCH(QStringList, fields);
        QTEST(StockRequest::hasSymbol(fields), "has");
    }

    // No quote, and the reason a refusal's body gives.
    void replyWithoutQuotes_data()
    {
        addColumns<QString, QString>({"text", "reason"});
        dataRow("error message", recorded("not-subscribed.json"), "You are not subscribed to this API.");
        dataRow("current form, empty result", R"({"quoteResponse":{"result":[],"error":null}})", "");
        dataRow(
            "current form, an error's description",
            R"({"quoteResponse":{"result":null,"error":{"code":"Not Found","description":"No data found, symbol may be delisted"}}})",
            "No data found, symbol may be delisted");
        dataRow("neither form", R"({"data":[{"symbol":"AAPL","regularMarketPrice":1}]})", "");
    }
    void replyWithoutQuotes()
    {
        QFETCH(QString, text);
        stockQuoteStruct table[200];
        const auto result = StockReplyHandling::handle(text, table, 200, {"AAPL", "", "", "", ""}, flagsOf("tp"));
        QCOMPARE(result.quotesInReply, 0);
        QCOMPARE(result.logLines.mid(1), (QStringList{"Var0=", "Var1=", "Var2=", "Var3=", "Var4="}));
        QTEST(FailureReason::fromBody(text), "reason");
    }
};

CORVELTA_TEST_GUILESS_MAIN(StockReadingTest)
#include "tst_stockreading.moc"
