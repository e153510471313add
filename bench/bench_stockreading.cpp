// Reading a quote reply: the program's one-pass reading, the same reading
// with every quote's marker searched from the start again, and a full JSON
// parse with the same lookups, on replies of 50 to 400 quotes.
// Prints one line per reply size; run it on an otherwise idle machine.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QVector>
#include <cstdio>

#include "bench/benchhelpers.h"
#include "replies/jsonextract.h"
#include "stocks/stockquotereader.h"
#include "support/quotereplies.h"

namespace {

int readByJsonParse(const QByteArray& body, stockQuoteStruct* table, int tableSize)
{
    return readQuotesByJsonParse(body, table, tableSize);
}

// Best of several runs, in microseconds.
template <typename F>
double bestMicros(F run)
{
    double best = 1e18;
    for (int i = 0; i < 15; ++i) {
        QElapsedTimer timer;
        timer.start();
        run();
        best = qMin(best, timer.nsecsElapsed() / 1000.0);
    }
    return best;
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    std::printf("%8s %10s %14s %18s %14s %10s\n", "quotes", "bytes", "one-pass us", "from-start us", "json parse us",
                "ratio");
    for (int count : {50, 100, 200, 400}) {
        const QByteArray body = manyQuotesReply(count);
        QVector<stockQuoteStruct> table(count);
        const double linear = bestMicros([&] { StockQuoteReader::read(QString::fromUtf8(body), table.data(), count); });
        const double fromStart =
            bestMicros([&] { readQuotesBySearchFromStart(QString::fromUtf8(body), table.data(), count); });
        const double parse = bestMicros([&] { readByJsonParse(body, table.data(), count); });
        std::printf("%8d %10d %14.0f %18.0f %14.0f %10.2f\n", count, int(body.size()), linear, fromStart, parse,
                    linear / parse);
    }
    return 0;
}
