#include "replies/jsonscan.h"

#include <QVarLengthArray>

namespace {

bool isSpace(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\n') || c == QLatin1Char('\r') || c == QLatin1Char('\t');
}

// Where a bare value (number, true, false, null) ends.
bool endsBareValue(QChar c)
{
    return c == QLatin1Char(',') || c == QLatin1Char('}') || c == QLatin1Char(']') || isSpace(c) ||
           c == QLatin1Char('{') || c == QLatin1Char('[') || c == QLatin1Char('"') || c == QLatin1Char(':');
}

}  // namespace

int JsonScan::valueEnd(const QString& text, int start)
{
    const int size = text.size();
    if (start < 0 || start >= size)
        return -1;
    const QChar* data = text.constData();
    const QChar first = data[start];
    if (first == QLatin1Char('"'))
        return stringEnd(text, start);
    if (first != QLatin1Char('{') && first != QLatin1Char('[')) {
        if (endsBareValue(first))
            return -1;
        int at = start + 1;
        while (at < size && !endsBareValue(data[at]))
            ++at;
        return at;
    }
    // Objects and arrays: count the nesting, strings skipped whole. A closing
    // brace or bracket of the wrong kind means the structure is broken.
    // Nesting up to 64 levels deep is kept without a heap allocation.
    QVarLengthArray<char, 64> open;
    for (int at = start; at < size; ++at) {
        const QChar c = data[at];
        if (c == QLatin1Char('"')) {
            at = stringEnd(text, at);
            if (at < 0)
                return -1;
            --at;
        } else if (c == QLatin1Char('{') || c == QLatin1Char('[')) {
            open.append(char(c.unicode()));
        } else if (c == QLatin1Char('}') || c == QLatin1Char(']')) {
            const char expected = c == QLatin1Char('}') ? '{' : '[';
            if (open.isEmpty() || open.back() != expected)
                return -1;
            open.removeLast();
            if (open.isEmpty())
                return at + 1;
        }
    }
    return -1;
}

bool JsonScan::readMember(const QString& text, int from, Member& member)
{
    const int keyStart = skipSpace(text, from);
    const int keyEnd = stringEnd(text, keyStart);
    if (keyEnd < 0)
        return false;
    const int colon = skipSpace(text, keyEnd);
    if (colon >= text.size() || text.at(colon) != QLatin1Char(':'))
        return false;
    const int valueStart = skipSpace(text, colon + 1);
    const int end = valueEnd(text, valueStart);
    if (end < 0)
        return false;
    member = {keyStart, keyEnd, colon, valueStart, end};
    return true;
}

bool JsonScan::findMember(const QString& text, int open, QStringView key, Member& found)
{
    bool have = false;
    forEachMember(text, open, [&](const Member& member) {
        if (member.key(text) != key)
            return true;
        found = member;
        have = true;
        return false;
    });
    return have;
}

QString JsonScan::valueText(QStringView value)
{
    if (value.size() < 2 || value.front() != QLatin1Char('"') || value.back() != QLatin1Char('"'))
        return value.toString();
    const QStringView inner = value.mid(1, value.size() - 2);
    if (!inner.contains(QLatin1Char('\\')))
        return inner.toString();
    QString out;
    out.reserve(inner.size());
    for (int at = 0; at < inner.size(); ++at) {
        const QChar c = inner.at(at);
        if (c != QLatin1Char('\\') || at + 1 >= inner.size()) {
            out.append(c);
            continue;
        }
        const QChar escaped = inner.at(++at);
        switch (escaped.unicode()) {
        case 'b':
            out.append(QLatin1Char('\b'));
            break;
        case 'f':
            out.append(QLatin1Char('\f'));
            break;
        case 'n':
            out.append(QLatin1Char('\n'));
            break;
        case 'r':
            out.append(QLatin1Char('\r'));
            break;
        case 't':
            out.append(QLatin1Char('\t'));
            break;
        case 'u': {
            bool ok = false;
            const ushort code = at + 4 < inner.size() ? inner.mid(at + 1, 4).toUShort(&ok, 16) : 0;
            if (ok) {
                out.append(QChar(code));
                at += 4;
            } else {
                out.append(escaped);
            }
            break;
        }
        default:
            out.append(escaped);
            break;  // \" \\ \/ and anything else as it stands
        }
    }
    return out;
}

QString JsonScan::stringAt(const QString& text, int start, int end)
{
    if (start < 0 || end <= start + 1 || end > text.size() || text.at(start) != QLatin1Char('"'))
        return QString();
    return valueText(QStringView(text).mid(start, end - start));
}

int JsonScan::documentStart(const QString& text)
{
    const int start = skipSpace(text, 0);
    return start < text.size() && text.at(start) == QChar(0xFEFF) ? skipSpace(text, start + 1) : start;
}
