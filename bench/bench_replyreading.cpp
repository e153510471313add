// Reading the services' replies: the program's own text-search reading
// against a full JSON parse (QJsonDocument::fromJson) followed by the same
// lookups, on the same bytes, in one run. Both start from the reply body as
// it arrives (bytes), so the own reading includes the UTF-8 decoding the
// program does anyway (ReplyText::decode). Prints Markdown tables: one row per reply, then the
// cost per KB at 1x, 2x and 4x the reply size.
//
// Run it on an otherwise idle machine; it takes about half a minute.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QVector>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>

#include "bench/benchhelpers.h"
#include "replies/jsonextract.h"
#include "replies/replytext.h"
#include "stocks/stockquotereader.h"
#include "support/alertreplies.h"
#include "support/quotereplies.h"
#include "support/substitutewebserver.h"
#include "weather/alertsreader.h"
#include "weather/servicetime.h"
#include "weather/weatherformat.h"
#include "weather/weatheritems.h"
#include "weather/weatherreplyreader.h"

namespace {

// Defeats dead-code elimination of results nobody reads.
volatile int sink = 0;

// How many calls make a batch long enough to time (about 20 ms).
int callsPerBatch(const std::function<void()>& call)
{
    int perBatch = 1;
    for (;;) {
        QElapsedTimer timer;
        timer.start();
        for (int i = 0; i < perBatch; ++i)
            call();
        if (timer.nsecsElapsed() > 20'000'000 || perBatch >= (1 << 20))
            return perBatch;
        perBatch *= 2;
    }
}

double batchMicros(const std::function<void()>& call, int perBatch)
{
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < perBatch; ++i)
        call();
    return timer.nsecsElapsed() / 1000.0 / perBatch;
}

double median(QVector<double> batches)
{
    std::sort(batches.begin(), batches.end());
    return batches[batches.size() / 2];
}

// Time of one call of each in microseconds: eleven batches of each, taken in
// turn so that whatever else the machine is doing weighs on both alike, and
// the median batch of each (neither the one least nor the one most disturbed).
QPair<double, double> medianMicros(const std::function<void()>& first, const std::function<void()>& second)
{
    const int firstCalls = callsPerBatch(first), secondCalls = callsPerBatch(second);
    QVector<double> a, b;
    for (int batch = 0; batch < 11; ++batch) {
        a << batchMicros(first, firstCalls);
        b << batchMicros(second, secondCalls);
    }
    return {median(a), median(b)};
}

double medianMicros(const std::function<void()>& call)
{
    const int calls = callsPerBatch(call);
    QVector<double> batches;
    for (int batch = 0; batch < 11; ++batch)
        batches << batchMicros(call, calls);
    return median(batches);
}

QByteArray dataFile(const QString& relative)
{
    QFile file(testDataPath(relative));
    if (!file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "cannot read %s\n", qPrintable(file.fileName()));
        std::exit(1);
    }
    return file.readAll();
}

// ---- observation

// The recorded observation with `extra` entries added to its "presentWeather"
// list (the list lies between the description and the measurements, so both
// readings pass over it).
QByteArray observationReply(int extra)
{
    QByteArray reply = dataFile("weather/observation.json");
    QByteArray entries;
    for (int i = 0; i < extra; ++i) {
        entries += QByteArray(i ? ",\n" : "\n") +
                   "            {\n                \"intensity\": \"light\",\n"
                   "                \"modifier\": null,\n                \"weather\": \"rain\",\n"
                   "                \"rawString\": \"-RA" +
                   QByteArray::number(i) + "\",\n                \"inVicinity\": false\n            }";
    }
    if (extra > 0)
        reply.replace("\"presentWeather\": []", "\"presentWeather\": [" + entries + "\n        ]");
    return reply;
}

// An observation reply grown to about `bytes`.
QByteArray observationOfSize(int bytes)
{
    int extra = 0;
    while (observationReply(extra).size() < bytes)
        extra += 1;
    return observationReply(extra);
}

int ownObservation(const QByteArray& body)
{
    const auto o = WeatherReplyReader::readObservation(ReplyText::decode(body));
    int size = o.timestamp.size() + o.description.size();
    for (const WeatherReplyReader::Measurement& m : o.measurements)
        size += m.known ? m.raw.size() + m.unit.size() : 0;
    return size;
}

// The measurements the items read and the units they understand, as the
// reader works them out once.
const QVector<QPair<QString, QStringList>>& measuredKeys()
{
    static const QVector<QPair<QString, QStringList>> keys = [] {
        QVector<QPair<QString, QStringList>> list;
        for (const QString& key : WeatherItems::observationMeasurements())
            list.append({key, WeatherItems::understoodUnits(key)});
        return list;
    }();
    return keys;
}

// The same members as the reader: each measurement's value, unit and
// quality control, and whether it counts as measured.
int parsedObservation(const QByteArray& body)
{
    const QJsonObject p = QJsonDocument::fromJson(body).object().value("properties").toObject();
    int size = p.value("timestamp").toString().size() + p.value("textDescription").toString().size();
    for (const auto& key : measuredKeys()) {
        const QJsonObject m = p.value(key.first).toObject();
        const QJsonValue v = m.value("value");
        const QString stated = WeatherFormat::unitWithoutPrefix(m.value("unitCode").toString());
        const QString unit = stated.isEmpty() ? key.second.value(0) : stated;
        QString qc = m.value("qualityControl").toString();
        if (qc.startsWith("qc:"))
            qc = qc.mid(3);
        const bool known = v.isDouble() && qc != "X" && qc != "B" && key.second.contains(unit);
        size += known ? QString::number(v.toDouble()).size() + unit.size() : 0;
    }
    return size;
}

// ---- station list

// A station list shaped like the service's (pretty-printed GeoJSON features)
// with `count` stations.
QByteArray stationListReply(int count)
{
    QByteArray body = "{\n    \"type\": \"FeatureCollection\",\n    \"features\": [";
    for (int i = 0; i < count; ++i) {
        const QByteArray id = "K" + QByteArray::number(1000 + i);
        body += QByteArray(i ? ",\n" : "\n") + "        {\n            \"id\": \"https://api.weather.gov/stations/" +
                id +
                "\",\n            \"type\": \"Feature\",\n            \"geometry\": {\n"
                "                \"type\": \"Point\",\n                \"coordinates\": [\n"
                "                    -96.75925,\n                    40.85097\n                ]\n"
                "            },\n            \"properties\": {\n"
                "                \"@id\": \"https://api.weather.gov/stations/" +
                id +
                "\",\n                \"@type\": \"wx:ObservationStation\",\n"
                "                \"elevation\": {\n                    \"unitCode\": \"wmoUnit:m\",\n"
                "                    \"value\": 362.1024\n                },\n"
                "                \"stationIdentifier\": \"" +
                id + "\",\n                \"name\": \"Station " + QByteArray::number((i * 7919) % 100000) +
                " Municipal Airport\",\n                \"timeZone\": \"America/Chicago\",\n"
                "                \"forecast\": \"https://api.weather.gov/zones/forecast/NEZ066\",\n"
                "                \"county\": \"https://api.weather.gov/zones/county/NEC109\",\n"
                "                \"fireWeatherZone\": \"https://api.weather.gov/zones/fire/NEZ066\"\n"
                "            }\n        }";
    }
    body += "\n    ],\n    \"observationStations\": []\n}\n";
    return body;
}

int ownStations(const QByteArray& body)
{
    return WeatherReplyReader::readStationEntries(ReplyText::decode(body)).size();
}

int parsedStations(const QByteArray& body)
{
    const QJsonArray features = QJsonDocument::fromJson(body).object().value("features").toArray();
    QStringList entries;
    for (const QJsonValue& feature : features) {
        const QJsonObject p = feature.toObject().value("properties").toObject();
        entries << p.value("name").toString() + ": " + p.value("stationIdentifier").toString();
    }
    std::sort(entries.begin(), entries.end());
    return entries.size();
}

// ---- quotes

// Quote objects as large as the service's full quotes (about 3 KB each):
// the generated quotes with a business summary added to each.
QByteArray quotesReply(int count)
{
    QByteArray summary;
    while (summary.size() < 1000)
        summary += "Designs, manufactures and markets devices, software and services worldwide; ";
    return manyQuotesReply(count).replace("\"priceHint\":2,",
                                          "\"longBusinessSummary\":\"" + summary + "\",\"priceHint\":2,");
}

int ownQuotes(const QByteArray& body, QVector<stockQuoteStruct>& table)
{
    return StockQuoteReader::read(ReplyText::decode(body), table.data(), table.size()).quotesRead;
}

// The reading rule as stated: each quote's marker searched from the start.
int quotesFromStart(const QByteArray& body, QVector<stockQuoteStruct>& table)
{
    return readQuotesBySearchFromStart(ReplyText::decode(body), table.data(), table.size());
}

int parsedQuotes(const QByteArray& body, QVector<stockQuoteStruct>& table)
{
    return readQuotesByJsonParse(body, table.data(), table.size());
}

// ---- alerts

// Active alerts with a warning's long description (20,000 characters) each.
QByteArray alertsReply(int count)
{
    return manyAlertsReply(count, 20000, count / 2).toUtf8();
}

int ownAlerts(const QByteArray& body)
{
    return AlertsReader::read(ReplyText::decode(body)).alerts.size();
}

// The same values taken from the parsed document.
AlertsReader::Reading alertsByJsonParse(const QByteArray& body)
{
    AlertsReader::Reading reading;
    const QJsonArray features = QJsonDocument::fromJson(body).object().value("features").toArray();
    for (const QJsonValue& feature : features) {
        const QJsonObject p = feature.toObject().value("properties").toObject();
        AlertsReader::Alert alert;
        alert.id = p.value("id").toString();
        alert.atId = p.value("@id").toString();
        alert.status = p.value("status").toString();
        alert.messageType = p.value("messageType").toString();
        alert.event = p.value("event").toString();
        alert.severity = p.value("severity").toString();
        alert.urgency = p.value("urgency").toString();
        alert.sent = ServiceTime::parse(p.value("sent").toString());
        alert.expires = ServiceTime::parse(p.value("expires").toString());
        alert.ends = ServiceTime::parse(p.value("ends").toString());
        for (const QJsonValue& code : p.value("parameters").toObject().value("VTEC").toArray())
            alert.vtec << code.toString();
        for (const QJsonValue& reference : p.value("references").toArray())
            alert.references << reference.toObject().value("@id").toString()
                             << reference.toObject().value("identifier").toString();
        reading.alerts << alert;
    }
    reading.readable = true;
    return reading;
}

int parsedAlerts(const QByteArray& body)
{
    return alertsByJsonParse(body).alerts.size();
}

// ---- reporting

struct Reply
{
    QString label;
    QByteArray body;
    std::function<int(const QByteArray&)> own;
    std::function<int(const QByteArray&)> parse;
};

struct Timing
{
    double own = 0;
    double parse = 0;
};

Timing time(const Reply& reply)
{
    const auto times =
        medianMicros([&] { sink = sink + reply.own(reply.body); }, [&] { sink = sink + reply.parse(reply.body); });
    return {times.first, times.second};
}

double kb(const QByteArray& body)
{
    return body.size() / 1024.0;
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);

    auto observation = [](int bytes) {
        return Reply{"observation", bytes ? observationOfSize(bytes) : observationReply(0), ownObservation,
                     parsedObservation};
    };
    auto stations = [](int count) {
        return Reply{QString("station list, %1 stations").arg(count), stationListReply(count), ownStations,
                     parsedStations};
    };
    // The table holds as many records as the reply has quotes, so the reading
    // covers the whole reply at every size.
    auto quotes = [](int count) {
        auto table = std::make_shared<QVector<stockQuoteStruct>>(count);
        return Reply{QString("quote reply, %1 quotes").arg(count), quotesReply(count),
                     [table](const QByteArray& b) { return ownQuotes(b, *table); },
                     [table](const QByteArray& b) { return parsedQuotes(b, *table); }};
    };

    auto alerts = [](int count) {
        return Reply{QString("alert reply, %1 alerts").arg(count), alertsReply(count), ownAlerts, parsedAlerts};
    };

    // The readings must agree before their times mean anything.
    {
        const QByteArray alertBody = alertsReply(50);
        const QDateTime now = ServiceTime::parse("2024-01-09T12:00:00-06:00");
        const AlertsReader::Summary own =
            AlertsReader::summarize(AlertsReader::read(QString::fromUtf8(alertBody)), now);
        const AlertsReader::Summary parsed = AlertsReader::summarize(alertsByJsonParse(alertBody), now);
        if (own.logLine() != parsed.logLine() || own.counted.size() != 50 || own.validUntil != parsed.validUntil) {
            std::fprintf(stderr, "the alert readings do not agree\n");
            return 1;
        }
        const QByteArray obs = observationReply(0);
        const auto o = WeatherReplyReader::readObservation(QString::fromUtf8(obs));
        if (o.measurement("temperature").raw != "12.2" || ownObservation(obs) != parsedObservation(obs) ||
            ownStations(stationListReply(500)) != 500 || parsedStations(stationListReply(500)) != 500) {
            std::fprintf(stderr, "the readings do not agree on the test replies\n");
            return 1;
        }
        QVector<stockQuoteStruct> a(200), b(200);
        const QByteArray q = quotesReply(200);
        ownQuotes(q, a);
        parsedQuotes(q, b);
        for (int i = 0; i < 200; ++i) {
            if (a[i].symbol != b[i].symbol || a[i].name != b[i].name || a[i].volume != b[i].volume) {
                std::fprintf(stderr, "quote %d read differently\n", i);
                return 1;
            }
        }
    }

    std::printf(
        "#### Own reading vs full JSON parse (median of 11 batches of ~20 ms each, own and parse in turn, microseconds "
        "per reply)\n\n");
    std::printf("| reply | bytes | own reading (us) | fromJson + lookups (us) | own / parse |\n");
    std::printf("|---|---:|---:|---:|---:|\n");
    const QList<Reply> replies = {observation(0), stations(500), quotes(200), alerts(50)};
    for (const Reply& reply : replies) {
        const Timing t = time(reply);
        std::printf("| %s | %d | %.1f | %.1f | %.2f |\n", qPrintable(reply.label), int(reply.body.size()), t.own,
                    t.parse, t.own / t.parse);
        std::fflush(stdout);
    }

    {
        QVector<stockQuoteStruct> table(200);
        const QByteArray body = quotesReply(200);
        const double fromStart = medianMicros([&] { sink = sink + quotesFromStart(body, table); });
        std::printf(
            "\nFor comparison, the quote rule read literally (each quote's marker searched from the "
            "start again): %.1f us for the 200-quote reply.\n",
            fromStart);
    }

    std::printf("\n#### Growth with the reply size (microseconds per KB; linear when the column stays flat)\n\n");
    std::printf("| reply | size | bytes | own (us) | own (us/KB) | parse (us) | parse (us/KB) |\n");
    std::printf("|---|---:|---:|---:|---:|---:|---:|\n");
    const int observationBytes = observationReply(0).size();
    const QList<QPair<QString, std::function<Reply(int)>>> families = {
        {"observation", [&](int f) { return f == 1 ? observation(0) : observation(observationBytes * f); }},
        {"station list", [&](int f) { return stations(500 * f); }},
        {"quote reply", [&](int f) { return quotes(200 * f); }},
        {"alert reply", [&](int f) { return alerts(50 * f); }},
    };
    for (const auto& family : families) {
        for (int factor : {1, 2, 4}) {
            const Reply reply = family.second(factor);
            const Timing t = time(reply);
            std::printf("| %s | %dx | %d | %.1f | %.2f | %.1f | %.2f |\n", qPrintable(family.first), factor,
                        int(reply.body.size()), t.own, t.own / kb(reply.body), t.parse, t.parse / kb(reply.body));
            std::fflush(stdout);
        }
    }
    return 0;
}
