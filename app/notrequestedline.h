#pragma once

#include <QString>

// A feed's "Not Requested" line: said once while what a request needs is
// missing, and once more only after a request went out again.
class NotRequestedLine
{
public:
    // Whether what the request needs is there; when it is not, `say` is
    // handed `line` the first time.
    template <typename Say>
    bool ready(bool isReady, const char* line, Say&& say)
    {
        if (isReady) {
            said = false;
            return true;
        }
        if (!said)
            say(QString::fromUtf8(line));
        said = true;
        return false;
    }

private:
    bool said = false;
};
