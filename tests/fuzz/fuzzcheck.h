#pragma once

#include <QString>
#include <cstdlib>

// A property a fuzz target checks on every input: a failure aborts, so
// libFuzzer keeps the input that broke it.
inline void fuzzRequire(bool condition)
{
    if (!condition)
        abort();
}

// A text that went through number formatting must never show a value that
// was not a number.
inline bool showsNoInvalidNumber(const QString& text)
{
    const QString lower = text.toLower();
    return !lower.contains(QLatin1String("nan")) && !lower.contains(QLatin1String("inf"));
}
