#pragma once

#include <QString>

#include "stocks/stockquoterecord.h"

// Reads the quotes of a quote reply into the quote table.
//
// A reply holds its quotes in either of two forms, read in reply order: an
// object that opens with the marker {"preMarketChange" is a quote, and so is
// every object element of the root's "quoteResponse.result" list (the quote
// service's current answer form, whose quotes open with any member and name
// their symbol last); an object counts once, whichever forms it has.
// Each quote's five keys are read from its own object only, between its
// opening and its closing brace, found by following braces and brackets and
// skipping strings: a key a quote lacks is missing, never taken from another
// quote, an object nested in a quote or data after the quotes lends nothing
// (and is no quote), and a marker inside a string opens no quote. Each value
// ends where its own member ends (a bare value at the next "," "}" or "]", a
// string at its own closing mark), never at a comma further on; a value
// stated as an object reads as its "raw" number ({"raw": 189.25, "fmt":
// "189.25"}); a quote object the reply does not hold whole (cut short,
// broken) is no quote. One pass over the reply.
namespace StockQuoteReader {

// The text that opens one quote object.
extern const QString QuoteMarker;

struct Reading
{
    int quotesInReply = 0;  // whole quote objects in the reply
    int quotesRead = 0;     // records filled: at most the table size
    int quotesIgnored() const { return quotesInReply - quotesRead; }
};

// Fills change, price, volume, name, symbol, volumeFromRaw and unknownKeys of
// records 0 .. quotesRead-1; deliveryVar and every further record are left
// alone.
Reading read(const QString& text, stockQuoteStruct* table, int tableSize);

// "+" in front of a change that reads as 0 or more (as a single-precision
// number); a negative zero loses its minus.
QString signedChange(const QString& rawChange);

// Whether the text reads as a finite single-precision number (a leading "+"
// and surrounding white space allowed).
bool isNumber(const QString& text);

// The reply's names of the five keys, in reading order.
extern const char* const KeyNames[5];

}  // namespace StockQuoteReader
