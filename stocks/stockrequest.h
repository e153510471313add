#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>

// The quote request: one GET for the symbols of all five ticker fields.
namespace StockRequest {

// The five ticker field texts joined with ",", simplified, then one
// left-to-right pass that turns each ",," into ",". Nothing else is removed,
// so empty fields at either end leave a comma and three or more empty fields
// in a row still leave ",," (five empty fields give ",,").
QString symbolList(const QStringList& tickerFields);

// Whether any field holds a symbol: anything but commas and white space.
bool hasSymbol(const QStringList& tickerFields);

// baseUrl + "/qu/quote?symbol=" + the list, parsed in tolerant mode so the
// network library percent-encodes what needs it.
QUrl quoteUrl(const QString& baseUrl, const QString& symbolList);

}  // namespace StockRequest
