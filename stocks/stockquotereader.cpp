#include "stocks/stockquotereader.h"

#include <QtGlobal>
#include <QtMath>

#include "replies/jsonscan.h"

const QString StockQuoteReader::QuoteMarker = QStringLiteral("{\"preMarketChange\"");

const char* const StockQuoteReader::KeyNames[5] = {"regularMarketChange", "regularMarketPrice", "regularMarketVolume",
                                                   "shortName", "symbol"};

QString StockQuoteReader::signedChange(const QString& rawChange)
{
    const float value = rawChange.toFloat();
    if (value < 0)
        return rawChange;
    // A negative zero ("-0", "-0.00") is a zero like any other.
    const QString trimmed = rawChange.trimmed();
    if (value == 0 && trimmed.startsWith(QLatin1Char('-')))
        return QStringLiteral("+") + trimmed.mid(1);
    return QStringLiteral("+") + rawChange;
}

bool StockQuoteReader::isNumber(const QString& text)
{
    bool ok = false;
    const float number = text.toFloat(&ok);
    return ok && qIsFinite(number);
}

namespace {

// The text of one member's value, cut at the end of that member: a string's
// contents up to its own closing mark (escapes counted), less every "}" and
// backslash as the feed has always shown names; a bare value as it stands;
// an object or array gives nothing.
QString memberValue(const QString& text, const JsonScan::Member& member)
{
    const QStringView value = member.value(text);
    if (value.startsWith(QLatin1Char('{')) || value.startsWith(QLatin1Char('[')))
        return QString();
    if (!value.startsWith(QLatin1Char('"')))
        return value.toString();
    QString inner = value.mid(1, value.size() - 2).toString();
    inner.remove(QLatin1Char('}'));
    inner.remove(QLatin1Char('\\'));
    return inner;
}

// One quote's five values, from the top-level members of its own object: the
// first member of each name counts. Returns one past the object's end, or -1
// when the object is broken or cut short (then `quote` is left alone: a quote
// the reply does not hold whole is no quote).
int readQuote(const QString& text, int open, stockQuoteStruct& quote)
{
    QString values[5];
    bool found[5] = {};
    bool isNull[5] = {};
    const int end = JsonScan::forEachMember(text, open, [&](const JsonScan::Member& member) {
        const QStringView key = member.key(text);
        for (int k = 0; k < 5; ++k) {
            if (found[k] || key != QLatin1String(StockQuoteReader::KeyNames[k]))
                continue;
            values[k] = memberValue(text, member);
            isNull[k] = member.value(text) == QLatin1String("null");
            found[k] = true;
        }
        return true;
    });
    if (end < 0)
        return -1;
    quote.unknownKeys.clear();
    quote.change = StockQuoteReader::signedChange(values[0]);
    quote.price = values[1];
    quote.volume = values[2];
    quote.name = values[3];
    quote.symbol = values[4];
    for (int k = 0; k < 5; ++k) {
        // The price and the change must be numbers; the other three are shown
        // as they stand unless absent or null.
        if (!found[k] || isNull[k] || (k <= 1 && !StockQuoteReader::isNumber(values[k])))
            quote.unknownKeys << StockQuoteReader::KeyNames[k];
    }
    return end;
}

}  // namespace

StockQuoteReader::Reading StockQuoteReader::read(const QString& text, stockQuoteStruct* table, int tableSize)
{
    // One pass over the reply's structure: strings are skipped whole, so a
    // marker inside one opens nothing; an object that opens with the marker
    // is a quote, read from its own members only and passed over whole, so
    // what is nested in it (or follows it) never reads as part of a quote.
    Reading reading;
    const QChar* data = text.constData();
    const int size = text.size();
    int at = 0;
    while (at < size) {
        const QChar c = data[at];
        if (c == QLatin1Char('"')) {
            const int end = JsonScan::stringEnd(text, at);
            if (end < 0)
                break;
            at = end;
            continue;
        }
        if (c != QLatin1Char('{') || !QStringView(text).mid(at).startsWith(QuoteMarker)) {
            ++at;
            continue;
        }
        const int end = reading.quotesRead < tableSize ? readQuote(text, at, table[reading.quotesRead])
                                                       : JsonScan::valueEnd(text, at);
        // A broken or cut-short quote object ends nowhere and counts for
        // nothing: look on past its marker.
        if (end < 0) {
            at += QuoteMarker.size();
            continue;
        }
        if (reading.quotesRead < tableSize)
            ++reading.quotesRead;
        ++reading.quotesInReply;
        at = end;
    }
    return reading;
}
