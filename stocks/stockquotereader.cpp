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
// backslash as the feed has always shown names; a bare value as it stands; an
// object's "raw" number as it stands. `stated` is false for an array and for
// an object without a raw number ({}, {"raw": null}, {"fmt": "1.2M"}).
QString memberValue(const QString& text, const JsonScan::Member& member, bool& stated, bool& fromRaw)
{
    const QStringView value = member.value(text);
    if (value.startsWith(QLatin1Char('{'))) {
        JsonScan::Member raw;
        const bool haveRaw = JsonScan::findMember(text, member.valueStart, u"raw", raw);
        const QString number = haveRaw ? raw.value(text).toString() : QString();
        bool ok = false;
        const double read = number.toDouble(&ok);  // a string, null or anything else is no number
        fromRaw = stated = ok && qIsFinite(read);
        return fromRaw ? number : QString();
    }
    if (value.startsWith(QLatin1Char('['))) {
        stated = false;
        return QString();
    }
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
    bool missing[5] = {};
    bool fromRaw[5] = {};
    const int end = JsonScan::forEachMember(text, open, [&](const JsonScan::Member& member) {
        const QStringView key = member.key(text);
        for (int k = 0; k < 5; ++k) {
            if (found[k] || key != QLatin1String(StockQuoteReader::KeyNames[k]))
                continue;
            bool stated = true;
            values[k] = memberValue(text, member, stated, fromRaw[k]);
            missing[k] = !stated || member.value(text) == QLatin1String("null");
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
    quote.volumeFromRaw = fromRaw[2];
    for (int k = 0; k < 5; ++k) {
        // The price and the change must be numbers; the other three are shown
        // as they stand unless absent, null or stated as no value.
        if (!found[k] || missing[k] || (k <= 1 && !StockQuoteReader::isNumber(values[k])))
            quote.unknownKeys << StockQuoteReader::KeyNames[k];
    }
    return end;
}

// One pass over a quote reply. Strings are skipped whole, so a marker inside
// one opens nothing; an object that opens with the marker is a quote, and
// so is every object element of the root's "quoteResponse.result" list
// (the service's current answer form, whose quotes open with any member);
// each quote is read from its own members only and passed over whole, so
// what is nested in it (or follows it) never reads as part of a quote, and
// an object counts once.
class QuoteScan
{
public:
    QuoteScan(const QString& text, stockQuoteStruct* table, int tableSize)
        : text(text)
        , table(table)
        , tableSize(tableSize)
    {}

    // Every quote in [from, to); at the reply's top level (`root`) the
    // "quoteResponse" member of the root object too.
    void scan(int from, int to, bool root)
    {
        const QChar* const data = text.constData();
        int depth = 0;
        bool answered = false;
        int at = from;
        while (at < to) {
            const QChar c = data[at];
            if (c == QLatin1Char('"')) {
                const int end = JsonScan::stringEnd(text, at);
                if (end < 0)
                    break;
                const int open = root && depth == 1 && !answered ? quoteResponseObject(at, end) : -1;
                if (open >= 0) {
                    answered = true;
                    at = quoteResponse(open);
                } else {
                    at = end;
                }
                continue;
            }
            if (c == QLatin1Char('{') && QStringView(text).mid(at).startsWith(StockQuoteReader::QuoteMarker)) {
                const int end = quote(at);
                // A broken or cut-short quote object ends nowhere and counts
                // for nothing: look on past its marker.
                if (end < 0) {
                    at += StockQuoteReader::QuoteMarker.size();
                    ++depth;
                } else {
                    at = end;
                }
                continue;
            }
            if (c == QLatin1Char('{') || c == QLatin1Char('['))
                ++depth;
            else if (c == QLatin1Char('}') || c == QLatin1Char(']'))
                --depth;
            ++at;
        }
    }

    StockQuoteReader::Reading reading;

private:
    // The quote object at `open`: one past its end, or -1 when the reply does
    // not hold it whole. Quotes beyond the table are counted, not read.
    int quote(int open)
    {
        const bool room = reading.quotesRead < tableSize;
        const int end = room ? readQuote(text, open, table[reading.quotesRead]) : JsonScan::valueEnd(text, open);
        if (end < 0)
            return -1;
        if (room)
            ++reading.quotesRead;
        ++reading.quotesInReply;
        return end;
    }

    // The "{" of the object the key string [start, end) opens when that key
    // is "quoteResponse", or -1.
    int quoteResponseObject(int start, int end) const
    {
        if (QStringView(text).mid(start, end - start) != QLatin1String("\"quoteResponse\""))
            return -1;
        const int colon = JsonScan::skipSpace(text, end);
        const int open = JsonScan::skipSpace(text, colon + 1);
        return JsonScan::charAt(text, colon, ':') && JsonScan::charAt(text, open, '{') ? open : -1;
    }

    // The "quoteResponse" object at `open`: each object element of its
    // "result" list a quote, the rest searched for quotes of the other form.
    // Returns one past its end or, when it is broken, where the scan goes on
    // (after the last value it held whole).
    int quoteResponse(int open)
    {
        int resume = open + 1;
        const int end = JsonScan::walkMembers(text, open, [&](QStringView key, int start) {
            int valueEnd;
            if (key == QLatin1String("result") && JsonScan::charAt(text, start, '[')) {
                valueEnd = JsonScan::walkElements(text, start, [&](int element) {
                    const int elementEnd = JsonScan::charAt(text, element, '{') ? quote(element) : scanValue(element);
                    resume = qMax(resume, elementEnd);
                    return elementEnd;
                });
            } else {
                valueEnd = scanValue(start);
            }
            resume = qMax(resume, valueEnd);
            return valueEnd;
        });
        return end >= 0 ? end : resume;
    }

    // The quotes inside the value at `start`; one past its end, or -1.
    int scanValue(int start)
    {
        const int end = JsonScan::valueEnd(text, start);
        if (end >= 0)
            scan(start, end, false);
        return end;
    }

    const QString& text;
    stockQuoteStruct* const table;
    const int tableSize;
};

}  // namespace

StockQuoteReader::Reading StockQuoteReader::read(const QString& text, stockQuoteStruct* table, int tableSize)
{
    QuoteScan scan(text, table, tableSize);
    scan.scan(0, text.size(), true);
    return scan.reading;
}
