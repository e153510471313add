#include "stocks/stockquotereader.h"

#include <QtGlobal>
#include <QtMath>

#include "replies/jsonextract.h"

const QString StockQuoteReader::QuoteMarker = QStringLiteral("{\"preMarketChange\"");

const char* const StockQuoteReader::KeyNames[5] = {"regularMarketChange", "regularMarketPrice",
                                                   "regularMarketVolume", "shortName", "symbol"};

namespace {

// The value of one key as a search from `start` finds it: the quoted key from
// start, the first ":" from there, and the extraction at that colon. Starts
// must never decrease. Each step remembers its last answer and searches again
// only when the new start has moved past it, so every character of the reply
// is examined a bounded number of times however many quotes are read (also
// when a key is missing from the rest of the reply and every search fails).
class KeyReader
{
public:
    KeyReader(const QString& text, const QString& quotedKey)
        : text(text)
        , quotedKey(quotedKey)
    {
    }

    struct Value
    {
        QString text;
        bool found = false;  // the key lies inside the quote's own object
        bool isNull = false;
    };

    // The key's value for the quote whose object runs from `start` up to (not
    // including) `end`: the first occurrence of the key at or after `start`
    // counts only when it begins before `end`. The colon search and the
    // extraction that follow are those of the stated rule.
    Value valueFrom(int start, int end)
    {
        Q_ASSERT(start >= lastStart);
        lastStart = start;

        // The first occurrence at or after an earlier start is still the first
        // one at or after this start unless the start has passed it; once
        // there is none, there is none further on either.
        if (keyAt == NotSearched || (keyAt >= 0 && keyAt < start))
            keyAt = text.indexOf(quotedKey, start);
        if (keyAt < 0 || keyAt >= end)
            return {};

        // Likewise for the first colon after the key (key positions never
        // decrease either).
        if (colonAt == NotSearched || (colonAt >= 0 && colonAt < keyAt))
            colonAt = text.indexOf(QLatin1Char(':'), keyAt);

        // The extraction depends on the colon's position alone.
        if (colonAt != extractedAt) {
            QString key;
            int resume = -1;
            JsonText::extractValue(text, key, value, colonAt, resume);
            valueIsNull = JsonText::isNullValue(text, colonAt, value);
            extractedAt = colonAt;
        }
        return {value, true, valueIsNull};
    }

private:
    static constexpr int NotSearched = -2;

    const QString& text;
    const QString quotedKey;
    int lastStart = 0;
    int keyAt = NotSearched;
    int colonAt = NotSearched;
    int extractedAt = NotSearched;
    QString value;
    bool valueIsNull = false;
};

}  // namespace

QString StockQuoteReader::signedChange(const QString& rawChange)
{
    return rawChange.toFloat() < 0 ? rawChange : QStringLiteral("+") + rawChange;
}

bool StockQuoteReader::isNumber(const QString& text)
{
    bool ok = false;
    const float number = text.toFloat(&ok);
    return ok && qIsFinite(number);
}

StockQuoteReader::Reading StockQuoteReader::read(const QString& text, stockQuoteStruct* table,
                                                 int tableSize)
{
    KeyReader change(text, QStringLiteral("\"regularMarketChange\""));
    KeyReader price(text, QStringLiteral("\"regularMarketPrice\""));
    KeyReader volume(text, QStringLiteral("\"regularMarketVolume\""));
    KeyReader name(text, QStringLiteral("\"shortName\""));
    KeyReader symbol(text, QStringLiteral("\"symbol\""));

    Reading reading;
    int marker = text.indexOf(QuoteMarker);
    while (marker >= 0) {
        // The marker cannot overlap itself (its only "{" is its first
        // character), so the next one lies past this one's end. The quote's
        // own object runs up to the next marker, or to the end of the reply.
        const int next = text.indexOf(QuoteMarker, marker + QuoteMarker.size());
        if (reading.quotesRead < tableSize) {
            const int start = marker + 1;
            const int end = next >= 0 ? next : text.size();
            stockQuoteStruct& quote = table[reading.quotesRead];
            quote.unknownKeys.clear();
            const KeyReader::Value values[5] = {change.valueFrom(start, end), price.valueFrom(start, end),
                                                volume.valueFrom(start, end), name.valueFrom(start, end),
                                                symbol.valueFrom(start, end)};
            quote.change = signedChange(values[0].text);
            quote.price = values[1].text;
            quote.volume = values[2].text;
            quote.name = values[3].text;
            quote.symbol = values[4].text;
            for (int k = 0; k < 5; ++k) {
                // The price and the change must be numbers; the other three
                // are shown as they stand unless absent or null.
                const bool unknown = !values[k].found || values[k].isNull
                                     || (k <= 1 && !isNumber(values[k].text));
                if (unknown)
                    quote.unknownKeys << KeyNames[k];
            }
            ++reading.quotesRead;
        }
        ++reading.quotesInReply;
        marker = next;
    }
    return reading;
}
