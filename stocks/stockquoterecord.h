#pragma once

#include <QString>
#include <QStringList>

// One quote taken from a quote reply.
struct stockQuoteStruct
{
    // Each as the quote's own object holds it (a JSON null reads as the text
    // null); empty when the object lacks the key.
    QString change;  // "regularMarketChange", with "+" in front when it reads as 0 or more
    QString price;   // "regularMarketPrice"
    QString volume;  // "regularMarketVolume"
    QString name;    // "shortName"
    QString symbol;  // "symbol"
    // A value stated as an object, {"raw": 189.25, "fmt": "189.25"}, holds
    // its raw number's text; a volume stated so is shown as an integer's
    // digits.
    bool volumeFromRaw = false;
    // Ticker text (and clock variable) 0..4 this quote goes to; -1 while the
    // record has never matched a ticker field.
    int deliveryVar = -1;
    // The reply's names of the keys this quote's own object lacks or holds as
    // null, as an array or as an object without a raw number (or, for the
    // price and the change, as no number), in reading order:
    // regularMarketChange, regularMarketPrice, regularMarketVolume,
    // shortName, symbol.
    QStringList unknownKeys;
};
