#include "tickertext.h"

int TickerText::matchDelivery(const QString& symbol, const QStringList& tickerFields, int previous)
{
    for (int field = 0; field < tickerFields.size() && field < 5; ++field) {
        if (tickerFields[field].contains(symbol, Qt::CaseSensitive))
            return field;
    }
    return previous;
}

QString TickerText::piece(const stockQuoteStruct& quote, const Flags& flags)
{
    QString text;
    if (flags.name)
        text += quote.name + QStringLiteral(", ");
    if (flags.ticker)
        text += QStringLiteral("(") + quote.symbol + QStringLiteral(") ");
    if (flags.price)
        text += QString::asprintf("%4.2f ", double(quote.price.toFloat()));
    if (flags.change) {
        const float change = quote.change.toFloat();
        text += QString::asprintf("%c%4.2f ", change >= 0 ? '+' : ' ', double(change));
    }
    if (flags.volume)
        text += quote.volume;
    return text;
}

void TickerText::append(QString& tickerText, const QString& piece)
{
    if (!tickerText.isEmpty())
        tickerText += QStringLiteral(", ");
    tickerText += piece;
}

QString TickerText::quoteLogLine(int index, const stockQuoteStruct& quote)
{
    return QString::asprintf("i=%d Name=%s Symbol=%s Price=%s Change=%s Volume=%s DeliveryVar=%d", index,
                             qUtf8Printable(quote.name), qUtf8Printable(quote.symbol),
                             qUtf8Printable(quote.price), qUtf8Printable(quote.change),
                             qUtf8Printable(quote.volume), quote.deliveryVar);
}
