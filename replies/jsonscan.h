#pragma once

#include <QString>
#include <QStringView>

// Follows the structure of a JSON reply without building it: where a string,
// object or array ends, and which members belong to one object. Readers use
// it to bound each record of a reply (a quote, an alert) by its own braces, so
// a value is never taken from a neighbouring or nested record, in one pass
// over the text and far faster than a full parse. Nothing here reads outside
// the text; every function gives -1 for a text that ends before the value
// does or whose structure is broken.
namespace JsonScan {

// One past the closing quotation mark of the string whose opening mark is at
// `quote` (escaped marks followed), or -1.
inline int stringEnd(const QString& text, int quote)
{
    const int size = text.size();
    if (quote < 0 || quote >= size)
        return -1;
    const QChar* const data = text.constData();
    if (data[quote] != QLatin1Char('"'))
        return -1;
    for (int at = quote + 1; at < size; ++at) {
        const QChar c = data[at];
        if (c == QLatin1Char('\\'))
            ++at;  // the escaped character, whatever it is
        else if (c == QLatin1Char('"'))
            return at + 1;
    }
    return -1;
}

// The first character at or after `from` that is not white space (the
// text's size when there is none). Inline: the readers call it between
// every two tokens.
inline int skipSpace(const QString& text, int from)
{
    const QChar* const data = text.constData();
    const int size = text.size();
    int at = from < 0 ? 0 : from;
    while (at < size) {
        const ushort c = data[at].unicode();
        if (c != ' ' && c != '\n' && c != '\r' && c != '\t')
            break;
        ++at;
    }
    return at;
}

// One past the end of the value that begins at `start`: an object or array
// through all its nesting, a string through its closing mark, a bare value
// (number, true, false, null) up to the next comma, closing brace or bracket
// or white space. -1 when `start` holds no value or the text ends first.
int valueEnd(const QString& text, int start);

// One member of an object, as positions in the reply's text.
struct Member
{
    int keyStart = -1;    // the key's opening quotation mark
    int keyEnd = -1;      // one past its closing mark
    int colon = -1;       // the colon after the key
    int valueStart = -1;  // the value's first character
    int valueEnd = -1;    // one past its last character

    // The key as it stands between its quotation marks (escapes kept).
    QStringView key(const QString& text) const { return QStringView(text).mid(keyStart + 1, keyEnd - keyStart - 2); }
    QStringView value(const QString& text) const { return QStringView(text).mid(valueStart, valueEnd - valueStart); }
};

// Reads the member at `from` (white space before it skipped) of an object.
// Returns false when no well-formed member stands there.
bool readMember(const QString& text, int from, Member& member);

// Walks the top-level members of the object whose "{" is at `open` in one
// pass, so that a reader can descend into the members it wants without
// scanning them twice: visit(QStringView key, int valueStart) reads the value
// (descending into it, or skipping it whole with valueEnd) and returns one
// past its end, or -1 to stop. Returns one past the object's "}", or -1 when
// the walk was stopped, the object is broken or the text ends inside it.
template <typename Visit>
int walkMembers(const QString& text, int open, Visit visit)
{
    if (open < 0 || open >= text.size() || text.at(open) != QLatin1Char('{'))
        return -1;
    int at = skipSpace(text, open + 1);
    if (at < text.size() && text.at(at) == QLatin1Char('}'))
        return at + 1;
    for (;;) {
        const int keyStart = skipSpace(text, at);
        const int keyEnd = stringEnd(text, keyStart);
        if (keyEnd < 0)
            return -1;
        const int colon = skipSpace(text, keyEnd);
        if (colon >= text.size() || text.at(colon) != QLatin1Char(':'))
            return -1;
        const int valueStart = skipSpace(text, colon + 1);
        const int end = visit(QStringView(text).mid(keyStart + 1, keyEnd - keyStart - 2), valueStart);
        if (end <= valueStart || end > text.size())
            return -1;
        at = skipSpace(text, end);
        if (at >= text.size())
            return -1;
        if (text.at(at) == QLatin1Char('}'))
            return at + 1;
        if (text.at(at) != QLatin1Char(','))
            return -1;
        ++at;
    }
}

// The same for the elements of the array whose "[" is at `open`:
// visit(int start) returns one past the element's end, or -1 to stop.
template <typename Visit>
int walkElements(const QString& text, int open, Visit visit)
{
    if (open < 0 || open >= text.size() || text.at(open) != QLatin1Char('['))
        return -1;
    int at = skipSpace(text, open + 1);
    if (at < text.size() && text.at(at) == QLatin1Char(']'))
        return at + 1;
    for (;;) {
        const int start = skipSpace(text, at);
        const int end = visit(start);
        if (end <= start || end > text.size())
            return -1;
        at = skipSpace(text, end);
        if (at >= text.size())
            return -1;
        if (text.at(at) == QLatin1Char(']'))
            return at + 1;
        if (text.at(at) != QLatin1Char(','))
            return -1;
        ++at;
    }
}

// Calls visit(const Member&) for each top-level member of the object whose
// "{" is at `open`, in order, until visit returns false. Returns one past the
// object's "}" (-1 when visiting was stopped early, the object is broken, or
// the text ends inside it; the members visited before were well formed).
template <typename Visit>
int forEachMember(const QString& text, int open, Visit visit)
{
    return walkMembers(text, open, [&](QStringView key, int valueStart) {
        const int end = valueEnd(text, valueStart);
        if (end < 0)
            return -1;
        const int keyStart = int(key.data() - text.constData()) - 1;
        const int keyEnd = keyStart + key.size() + 2;
        const Member member{keyStart, keyEnd, text.indexOf(QLatin1Char(':'), keyEnd), valueStart, end};
        return visit(member) ? end : -1;
    });
}

// Calls visit(int start, int end) for each element of the array whose "[" is
// at `open`, until visit returns false. Returns as forEachMember does.
template <typename Visit>
int forEachElement(const QString& text, int open, Visit visit)
{
    return walkElements(text, open, [&](int start) {
        const int end = valueEnd(text, start);
        return end >= 0 && visit(start, end) ? end : -1;
    });
}

// Whether the character at `at` is `c` (false outside the text).
inline bool charAt(const QString& text, int at, char c)
{
    return at >= 0 && at < text.size() && text.at(at) == QLatin1Char(c);
}

// Where a reply's JSON value begins: after white space and a byte order mark.
int documentStart(const QString& text);

// The decoded text of the string value that runs from `start` to `end` (as
// valueEnd gives it); empty when the value is no string (null, a number, an
// object...).
QString stringAt(const QString& text, int start, int end);

// The top-level member `key` of the object whose "{" is at `open`; false
// when the object has no such member before its end (or before it breaks).
bool findMember(const QString& text, int open, QStringView key, Member& found);

// The text of a string value without its quotation marks, JSON escapes
// decoded (\" \\ \/ \b \f \n \r \t \uXXXX); a bare value as it stands.
QString valueText(QStringView value);

}  // namespace JsonScan
