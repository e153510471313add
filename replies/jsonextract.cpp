#include "replies/jsonextract.h"

#include <limits>

namespace {

// A position outside the text matches no character.
bool charIs(const QString& text, qint64 index, char c)
{
    return index >= 0 && index < text.size() && text.at(int(index)) == QLatin1Char(c);
}

}  // namespace

void JsonText::extractValue(const QString& text, QString& key, QString& value, int position, int& resumePosition)
{
    const QLatin1Char quote('"');
    const qint64 p = position;

    const int q1 = text.lastIndexOf(quote, position);
    const int q0 = text.lastIndexOf(quote, q1 - 1);
    key = text.mid(q0 + 1, q1 - q0 - 1);

    // Object or array: the contents are left for further key searches.
    if (charIs(text, p + 1, '{') || charIs(text, p + 1, '[')) {
        value.clear();
        resumePosition = q1 + 1;
        return;
    }

    // String: starts after the opening mark, with or without one blank before it.
    if (charIs(text, p + 1, '"') || charIs(text, p + 2, '"')) {
        const qint64 start = charIs(text, p + 2, '"') ? p + 3 : p + 2;
        int q = text.indexOf(quote, int(start));
        while (charIs(text, qint64(q) - 1, '\\'))
            q = text.indexOf(quote, q + 2);
        value = text.mid(int(start), q - int(start));
        value.remove(QLatin1Char('}'));
        value.remove(QLatin1Char('\\'));
        resumePosition = q;
        return;
    }

    // Bare value: a number, true, false or null, up to the next comma.
    if (p + 1 > text.size()) {
        value.clear();
        resumePosition = -1;
        return;
    }
    const int from = int(p + 1);
    const int e = text.indexOf(QLatin1Char(','), from);
    // From a start far before the text, the length up to the comma does not
    // fit an int; the part of [from, e) inside the text is then [0, e).
    const qint64 length = qint64(e) - from;
    value = length > std::numeric_limits<int>::max() ? text.left(e) : text.mid(from, int(length));
    value.remove(QLatin1Char('}'));
    value.remove(QLatin1Char(' '));
    resumePosition = e;
}

bool JsonText::isNullValue(const QString& text, int position, const QString& value)
{
    const qint64 p = position;
    if (charIs(text, p + 1, '{') || charIs(text, p + 1, '[') || charIs(text, p + 1, '"') || charIs(text, p + 2, '"'))
        return false;
    return value.trimmed() == QLatin1String("null");
}

int JsonText::findKeyColon(const QString& text, const QString& quotedKey, int from, const QString& quotedInnerKey)
{
    int i = text.indexOf(quotedKey, from);
    if (!quotedInnerKey.isEmpty())
        i = text.indexOf(quotedInnerKey, i);
    return text.indexOf(QLatin1Char(':'), i);
}

JsonText::Field JsonText::extractField(const QString& text, const QString& quotedKey, int from,
                                       const QString& quotedInnerKey)
{
    Field field;
    int i = text.indexOf(quotedKey, from);
    field.keyFound = i >= 0;
    if (!quotedInnerKey.isEmpty()) {
        i = text.indexOf(quotedInnerKey, i);
        field.keyFound = field.keyFound && i >= 0;
    }
    const int colon = text.indexOf(QLatin1Char(':'), i);
    extractValue(text, field.key, field.value, colon, field.resumePosition);
    field.isNull = isNullValue(text, colon, field.value);
    return field;
}
