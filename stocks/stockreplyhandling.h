#pragma once

#include <QString>
#include <QStringList>

#include "stocks/stockquotereader.h"
#include "stocks/stockquoterecord.h"
#include "stocks/tickertext.h"

// What one quote reply comes to, before anything is shown or sent.
namespace StockReplyHandling {

constexpr int TickerCount = 5;

struct Result
{
    QStringList logLines;              // in the order they are logged
    QString tickerTexts[TickerCount];  // shown in the five labels; sent when not empty
    int quotesInReply = 0;             // 0: the reply held no quote (a failed refresh)
};

// Reads the reply into the quote table (at most tableSize quotes; a line says
// how many further quotes were ignored), then delivers the quotes read.
Result handle(const QString& text, stockQuoteStruct* table, int tableSize, const QStringList& tickerFields,
              const TickerText::Flags& flags);

// For records 0 .. count-1: matches each to a ticker field, logs it (and, when
// it has unknown keys, one "Stock Data Missing" line), and adds its piece to
// that field's ticker text. A quote that matches no field now gets deliveryVar
// -1 and goes nowhere, whatever its record matched in an earlier reply. Then
// logs the five "Var%d=%s" lines.
void deliver(stockQuoteStruct* table, int count, const QStringList& tickerFields, const TickerText::Flags& flags,
             Result& result);

// "Sending Stock Data to %s Var%d=%s"
QString sendingLogLine(const QString& address, int var, const QString& text);

}  // namespace StockReplyHandling
