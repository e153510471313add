#include "stockquotereader.h"

#include <QtGlobal>

#include "jsonextract.h"

const QString StockQuoteReader::QuoteMarker = QStringLiteral("{\"preMarketChange\"");

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

    QString valueFrom(int start)
    {
        Q_ASSERT(start >= lastStart);
        lastStart = start;

        // The first occurrence at or after an earlier start is still the first
        // one at or after this start unless the start has passed it; once
        // there is none, there is none further on either.
        if (keyAt == NotSearched || (keyAt >= 0 && keyAt < start))
            keyAt = text.indexOf(quotedKey, start);

        // A colon search from -1 starts at the last character. The effective
        // starts never decrease either, so the same reasoning holds.
        const int colonStart = keyAt >= 0 ? keyAt : qMax(text.size() - 1, 0);
        if (colonAt == NotSearched || colonStart < colonSearchedFrom || (colonAt >= 0 && colonAt < colonStart))
            colonAt = text.indexOf(QLatin1Char(':'), keyAt);
        colonSearchedFrom = colonStart;

        // The extraction depends on the colon's position alone.
        if (colonAt != extractedAt) {
            QString key;
            int resume = -1;
            JsonText::extractValue(text, key, value, colonAt, resume);
            extractedAt = colonAt;
        }
        return value;
    }

private:
    static constexpr int NotSearched = -2;

    const QString& text;
    const QString quotedKey;
    int lastStart = 0;
    int keyAt = NotSearched;
    int colonSearchedFrom = 0;
    int colonAt = NotSearched;
    int extractedAt = NotSearched;
    QString value;
};

}  // namespace

QString StockQuoteReader::signedChange(const QString& rawChange)
{
    return rawChange.toFloat() < 0 ? rawChange : QStringLiteral("+") + rawChange;
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
        if (reading.quotesRead < tableSize) {
            const int start = marker + 1;
            stockQuoteStruct& quote = table[reading.quotesRead];
            quote.change = signedChange(change.valueFrom(start));
            quote.price = price.valueFrom(start);
            quote.volume = volume.valueFrom(start);
            quote.name = name.valueFrom(start);
            quote.symbol = symbol.valueFrom(start);
            ++reading.quotesRead;
        }
        ++reading.quotesInReply;
        // The marker cannot overlap itself (its only "{" is its first
        // character), so the next one lies past this one's end.
        marker = text.indexOf(QuoteMarker, marker + QuoteMarker.size());
    }
    return reading;
}
