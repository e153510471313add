#pragma once

#include <QString>

#include "stocks/stockquote.h"

// Reads the quotes of a quote reply into the quote table.
//
// Each quote object opens with the marker {"preMarketChange". For quote q the
// five keys are each searched from just after the q-th marker, and an
// occurrence counts only when it begins inside the quote's own object, that is
// before the next marker (or anywhere up to the end of the reply for the last
// quote): a key a quote lacks is missing, never taken from another quote. A key
// found is cut out with the program's JSON text extraction at the first colon
// after it. For quotes that carry all five keys this is exactly the stated
// rule (search from just after the marker, nothing bounding it). The reader
// reaches these values in one forward pass over the reply: markers are found
// one after the other, and each key keeps the occurrence its previous search
// found for as long as the search start has not passed it.
namespace StockQuoteReader {

// The text that opens one quote object.
extern const QString QuoteMarker;

struct Reading
{
    int quotesInReply = 0;  // markers in the reply
    int quotesRead = 0;     // records filled: at most the table size
    int quotesIgnored() const { return quotesInReply - quotesRead; }
};

// Fills change, price, volume, name, symbol and unknownKeys of records
// 0 .. quotesRead-1; deliveryVar and every further record are left alone.
Reading read(const QString& text, stockQuoteStruct* table, int tableSize);

// "+" in front of a change that reads as 0 or more (as a single-precision number).
QString signedChange(const QString& rawChange);

// Whether the text reads as a finite single-precision number (a leading "+"
// and surrounding white space allowed).
bool isNumber(const QString& text);

// The reply's names of the five keys, in reading order.
extern const char* const KeyNames[5];

}  // namespace StockQuoteReader
