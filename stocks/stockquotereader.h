#pragma once

#include <QString>

#include "stockquote.h"

// Reads the quotes of a quote reply into the quote table.
//
// Each quote object opens with the marker {"preMarketChange". For quote q the
// five keys are each searched from just after the q-th marker, with nothing
// bounding the search to the quote's own object (a key a quote lacks is taken
// from a later one), and cut out with the program's JSON text extraction. The
// reader reaches exactly those values in one forward pass over the reply:
// markers are found one after the other, and each key keeps the occurrence
// its previous search found for as long as the search start has not passed it.
namespace StockQuoteReader {

// The text that opens one quote object.
extern const QString QuoteMarker;

struct Reading
{
    int quotesInReply = 0;  // markers in the reply
    int quotesRead = 0;     // records filled: at most the table size
    int quotesIgnored() const { return quotesInReply - quotesRead; }
};

// Fills change, price, volume, name and symbol of records 0 .. quotesRead-1;
// deliveryVar and every further record are left alone.
Reading read(const QString& text, stockQuoteStruct* table, int tableSize);

// "+" in front of a change that reads as 0 or more (as a single-precision number).
QString signedChange(const QString& rawChange);

}  // namespace StockQuoteReader
