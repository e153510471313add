#pragma once

#include <QString>

// One quote taken from a quote reply.
struct stockQuoteStruct
{
    QString change;  // "regularMarketChange", with "+" in front when 0 or more
    QString price;   // "regularMarketPrice"
    QString volume;  // "regularMarketVolume"
    QString name;    // "shortName"
    QString symbol;  // "symbol"
    // Ticker text (and clock variable) 0..4 this quote goes to; -1 while the
    // record has never matched a ticker field.
    int deliveryVar = -1;
};
