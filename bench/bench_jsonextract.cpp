#include <QtTest>

#include "replies/jsonextract.h"
#include "support/substitutewebserver.h"
#include "weather/weatherreplyreader.h"

// How long the text-search reading takes on replies larger than the services
// send: the seven observation values out of 50 KB, and the five quote values
// of 200 quotes out of 600 KB.
class JsonExtractBench : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void observationChain();
    void observationReader();
    void quotesMarkersFoundOnce();
    void quotesMarkersFoundFromStart();

private:
    QString observation;
    QString quotes;
};

namespace {

// The quote feed's reading: every key searched from just inside its quote.
int cutQuote(const QString& text, int start)
{
    static const QString keys[] = {"\"regularMarketChange\"", "\"regularMarketPrice\"", "\"regularMarketVolume\"",
                                   "\"shortName\"", "\"symbol\""};
    int total = 0;
    for (const QString& key : keys)
        total += JsonText::extractField(text, key, start).value.size();
    return total;
}

}  // namespace

void JsonExtractBench::initTestCase()
{
    QFile file(testDataPath("weather/observation.json"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString reply = QString::fromUtf8(file.readAll());

    // Padding before the first key and after the last one, laid out like the
    // service's own members, up to 50 KB.
    QString padding;
    for (int i = 0; padding.size() < 50 * 1024 - reply.size(); ++i)
        padding += QString(
                       "        \"extra%1\": {\n            \"unitCode\": \"wmoUnit:degC\",\n"
                       "            \"value\": %1.5,\n            \"qualityControl\": \"V\"\n        },\n")
                       .arg(i);
    const int firstKey = reply.indexOf("\"timestamp\"");
    const int afterLast = reply.indexOf("\"windChill\"");
    const int half = padding.indexOf("\"extra", padding.size() / 2);
    observation = reply.left(firstKey) + padding.left(half) + reply.mid(firstKey, afterLast - firstKey) +
                  padding.mid(half) + reply.mid(afterLast);

    QString body = "{\"meta\": {\"version\": \"v1.0\", \"status\": 200}, \"body\": [";
    for (int q = 0; q < 200; ++q) {
        QString quote = QString("{\"preMarketChange\": 0.%1, \"preMarketChangePercent\": 0.1, ").arg(q);
        while (quote.size() < 2900)
            quote += QString("\"field%1\": \"filler text of a quote that the feed does not read\", ").arg(quote.size());
        quote += QString(
                     "\"regularMarketChange\": -1.%1, \"regularMarketPrice\": 1%1.25, "
                     "\"regularMarketVolume\": 5%1000, \"shortName\": \"Company %1 Inc.\", \"symbol\": \"S%1\"}")
                     .arg(q);
        body += (q ? ", " : "") + quote;
    }
    quotes = body + "]}";
    qInfo("observation reply: %d characters; quote reply: %d characters", observation.size(), quotes.size());
    QCOMPARE(WeatherReplyReader::readObservation(observation).missing(), QStringList{});
}

void JsonExtractBench::observationChain()
{
    static const QString keys[][2] = {{"\"timestamp\"", ""},
                                      {"\"textDescription\"", ""},
                                      {"\"temperature\"", "\"value\""},
                                      {"\"dewpoint\"", "\"value\""},
                                      {"\"windDirection\"", "\"value\""},
                                      {"\"windSpeed\"", "\"value\""},
                                      {"\"relativeHumidity\"", "\"value\""}};
    QBENCHMARK
    {
        int from = 0;
        for (const auto& key : keys)
            from = JsonText::extractField(observation, key[0], from, key[1]).resumePosition;
    }
}

void JsonExtractBench::observationReader()
{
    QBENCHMARK
    {
        WeatherReplyReader::readObservation(observation);
    }
}

void JsonExtractBench::quotesMarkersFoundOnce()
{
    const QString marker = "{\"preMarketChange\"";
    QBENCHMARK
    {
        int total = 0;
        for (int at = quotes.indexOf(marker); at >= 0; at = quotes.indexOf(marker, at + 1))
            total += cutQuote(quotes, at + 1);
        QVERIFY(total > 0);
    }
}

// Each quote's marker looked up again from the start of the reply.
void JsonExtractBench::quotesMarkersFoundFromStart()
{
    const QString marker = "{\"preMarketChange\"";
    QBENCHMARK
    {
        const int count = quotes.count(marker);
        for (int q = 0; q < count; ++q) {
            int at = -1;
            for (int k = 0; k <= q; ++k)
                at = quotes.indexOf(marker, at + 1);
            cutQuote(quotes, at + 1);
        }
    }
}

QTEST_APPLESS_MAIN(JsonExtractBench)
#include "bench_jsonextract.moc"
