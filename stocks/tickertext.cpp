#include "stocks/tickertext.h"

#include <QRegularExpression>
#include <cmath>

#include "stocks/stockquotereader.h"

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
    const auto unknown = [&quote](const char* key) { return quote.unknownKeys.contains(QLatin1String(key)); };
    QString text;
    // An unknown name or symbol leaves its whole part out.
    if (flags.name && !unknown("shortName"))
        text += quote.name + QStringLiteral(", ");
    if (flags.ticker && !unknown("symbol"))
        text += QStringLiteral("(") + quote.symbol + QStringLiteral(") ");
    if (flags.price) {
        if (unknown("regularMarketPrice") || !StockQuoteReader::isNumber(quote.price))
            text += QStringLiteral("-- ");
        else
            text += QString::asprintf("%4.2f ", double(quote.price.toFloat()));
    }
    if (flags.change) {
        if (unknown("regularMarketChange") || !StockQuoteReader::isNumber(quote.change)) {
            text += QStringLiteral("-- ");
        } else {
            const float change = quote.change.toFloat();
            text += QString::asprintf("%c%4.2f ", change >= 0 ? '+' : ' ', double(change));
        }
    }
    if (flags.volume && !unknown("regularMarketVolume"))
        text += quote.volumeFromRaw ? integerDigits(quote.volume) : quote.volume;
    return text;
}

QString TickerText::integerDigits(const QString& number)
{
    static const QRegularExpression digits(QStringLiteral("^-?[0-9]+$"));
    if (digits.match(number).hasMatch())
        return number;
    const QString whole = QString::number(std::trunc(number.toDouble()), 'f', 0);
    return whole == QLatin1String("-0") ? QStringLiteral("0") : whole;
}

QString TickerText::missingLogLine(const stockQuoteStruct& quote)
{
    const bool symbolKnown = !quote.unknownKeys.contains(QLatin1String("symbol"));
    return QString::asprintf("Stock Data Missing: %s %s", qUtf8Printable(symbolKnown ? quote.symbol : QString()),
                             qUtf8Printable(quote.unknownKeys.join(QStringLiteral(", "))));
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
                             qUtf8Printable(quote.name), qUtf8Printable(quote.symbol), qUtf8Printable(quote.price),
                             qUtf8Printable(quote.change), qUtf8Printable(quote.volume), quote.deliveryVar);
}
