#pragma once

// A stand-in for a running Corvelta as a starting one finds it: it holds
// the single-copy guard's name (the abstract Unix socket of
// app/instanceguard.cpp) and answers nothing. A start that asks it is held
// in its guard, early in main, until the stand-in ends.

#include <cstddef>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

class GuardStandIn
{
public:
    GuardStandIn()
    {
        const char name[] = "corvelta-running-instance";
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path + 1, name, sizeof name - 1);
        listening = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (::bind(listening, reinterpret_cast<sockaddr*>(&address), offsetof(sockaddr_un, sun_path) + sizeof name) ||
            ::listen(listening, 8))
            close();
    }
    ~GuardStandIn() { close(); }
    bool holds() const { return listening >= 0; }

    // Whether a start asked within `ms`; it waits for the answer from then on.
    bool asked(int ms)
    {
        pollfd ask{listening, POLLIN, 0};
        return holds() && ::poll(&ask, 1, ms) == 1 && (asking = ::accept(listening, nullptr, nullptr)) >= 0;
    }
    // Ends as a stopped holder would: the start that asked takes the guard.
    void close()
    {
        for (int* fd : {&asking, &listening}) {
            if (*fd >= 0)
                ::close(*fd);
            *fd = -1;
        }
    }

private:
    int listening = -1;
    int asking = -1;
};
