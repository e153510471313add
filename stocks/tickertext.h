#pragma once

#include <QString>
#include <QStringList>

#include "stocks/stockquoterecord.h"

// Where a quote goes and what it adds to its ticker text.
namespace TickerText {

// Which quote fields make up a ticker text (the setup dialog's five boxes).
struct Flags
{
    bool name = false;
    bool ticker = true;
    bool price = true;
    bool change = false;
    bool volume = false;
};

// The first ticker field (0..4) whose text contains `symbol`, case-sensitively
// (an empty symbol is contained in every text); `previous` when none does.
int matchDelivery(const QString& symbol, const QStringList& tickerFields, int previous);

// The quote's piece: name + ", ", "(" + symbol + ") ", the price as "%4.2f ",
// the change as "%c%4.2f " ("+" for 0 or more, a space before a negative
// number's own minus sign), then the volume as extracted (one stated as
// {"raw": n} as the digits of n's integer part); each part only when its flag
// is on. Nothing unknown is made up: a price or change that is
// unknown (see stockQuoteStruct::unknownKeys) or no number prints as "-- "
// (sign included, still followed by its space), and an unknown name, symbol or
// volume leaves its whole part out.
QString piece(const stockQuoteStruct& quote, const Flags& flags);

// The digits of a number's integer part, never in exponent form
// ("5.3242137E7" is "53242137"); a text of digits as it stands.
QString integerDigits(const QString& number);

// "Stock Data Missing: %s %s" with the symbol and the unknown keys.
QString missingLogLine(const stockQuoteStruct& quote);

// Adds a piece to a ticker text, after ", " when the text already holds one.
void append(QString& tickerText, const QString& piece);

// "i=%d Name=%s Symbol=%s Price=%s Change=%s Volume=%s DeliveryVar=%d"
QString quoteLogLine(int index, const stockQuoteStruct& quote);

}  // namespace TickerText
