#include "stocks/stockreplyhandling.h"

StockReplyHandling::Result StockReplyHandling::handle(const QString& text, stockQuoteStruct* table, int tableSize,
                                                      const QStringList& tickerFields, const TickerText::Flags& flags)
{
    Result result;
    result.logLines << QString::asprintf("StockQuote Response: Length=%d %s", text.size(), qUtf8Printable(text));

    const StockQuoteReader::Reading reading = StockQuoteReader::read(text, table, tableSize);
    result.quotesInReply = reading.quotesInReply;
    if (reading.quotesIgnored() > 0) {
        result.logLines << QString::asprintf("StockQuote Response: %d quotes, first %d used, %d ignored",
                                             reading.quotesInReply, reading.quotesRead, reading.quotesIgnored());
    }

    deliver(table, reading.quotesRead, tickerFields, flags, result);
    return result;
}

void StockReplyHandling::deliver(stockQuoteStruct* table, int count, const QStringList& tickerFields,
                                 const TickerText::Flags& flags, Result& result)
{
    for (int q = 0; q < count; ++q) {
        stockQuoteStruct& quote = table[q];
        // Only a field this reply's quote matches may show it: a quote that
        // matches none is dropped, whatever its record matched before. A
        // quote without a symbol belongs to no field (an empty text would
        // match the first).
        const bool noSymbol = quote.symbol.isEmpty() || quote.unknownKeys.contains(QLatin1String("symbol"));
        quote.deliveryVar = noSymbol ? -1 : TickerText::matchDelivery(quote.symbol, tickerFields, -1);
        if (quote.deliveryVar >= 0 && quote.deliveryVar < TickerCount)
            TickerText::append(result.tickerTexts[quote.deliveryVar], TickerText::piece(quote, flags));
        result.logLines << TickerText::quoteLogLine(q, quote);
        if (!quote.unknownKeys.isEmpty())
            result.logLines << TickerText::missingLogLine(quote);
    }
    for (int v = 0; v < TickerCount; ++v)
        result.logLines << QString::asprintf("Var%d=%s", v, qUtf8Printable(result.tickerTexts[v]));
}

QString StockReplyHandling::sendingLogLine(const QString& address, int var, const QString& text)
{
    return QString::asprintf("Sending Stock Data to %s Var%d=%s", qUtf8Printable(address), var, qUtf8Printable(text));
}
