#pragma once

#include <QString>

// The program reads the services' JSON replies by plain text search: a caller
// finds a quoted key, then the colon after it, and cuts out the value that
// follows. Every search has QString::indexOf/lastIndexOf semantics, including
// their handling of negative and out-of-range starts.
namespace JsonText {

// Cuts the value that follows the colon at `position` out of `text`, and gives
// the key name before the colon and the position a chained search resumes at.
// Never fails and never reads outside `text`.
void extractValue(const QString& text, QString& key, QString& value, int position, int& resumePosition);

// The callers' key search: the quoted key from `from`, then (for a member one
// level down) the quoted inner key from there, then the colon after it.
// Returns the colon's index, or -1.
int findKeyColon(const QString& text, const QString& quotedKey, int from, const QString& quotedInnerKey = QString());

// Whether the value cut at the colon `position` is a bare JSON null: neither an
// object, an array nor a string by the extraction's rules, and reading "null"
// once the line breaks and tabs it may carry are set aside. A quoted "null" is
// a string, not a null.
bool isNullValue(const QString& text, int position, const QString& value);

// One key search followed by one extraction.
struct Field
{
    QString key;
    QString value;
    int resumePosition = -1;
    bool keyFound = false;  // the quoted key (and inner key) occur from `from` on
    bool isNull = false;    // the value is a bare JSON null
};
Field extractField(const QString& text, const QString& quotedKey, int from, const QString& quotedInnerKey = QString());

}  // namespace JsonText
