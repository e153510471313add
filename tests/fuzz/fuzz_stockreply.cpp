// Arbitrary bytes as the quote service's reply, handled the way the window
// handles a real one: body decoded, quotes read into the program's table of
// 200 records, matched to the five ticker fields and composed into ticker texts.
#include "fuzz/fuzzcheck.h"
#include "replies/replytext.h"
#include "stocks/stockreplyhandling.h"

#include <QByteArray>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    // The first byte chooses the ticker fields' parts, as the setup dialog does.
    TickerText::Flags flags;
    flags.name = data[0] & 1;
    flags.ticker = data[0] & 2;
    flags.price = data[0] & 4;
    flags.change = data[0] & 8;
    flags.volume = data[0] & 16;
    const QString text = ReplyText::decode(QByteArray(reinterpret_cast<const char*>(data + 1), int(size - 1)));

    // The table lives on between replies, as the window's does.
    static stockQuoteStruct table[200];
    const QStringList fields{QStringLiteral("AAPL"), QStringLiteral("MSFT"), QStringLiteral("NVDA"),
                             QStringLiteral("AMZN TSLA"), QString()};
    const StockReplyHandling::Result result = StockReplyHandling::handle(text, table, 200, fields, flags);
    // A ticker text holds at most a piece per quote of the 200, each cut
    // from the reply, so it cannot grow beyond a bound set by the reply.
    for (const QString& ticker : result.tickerTexts)
        fuzzRequire(ticker.size() <= 200 * (text.size() + 64));
    return 0;
}
