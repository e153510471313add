#pragma once

// Tests and benchmarks that bind UDP port 7372 hold this lock (tests also
// hold the CTest resource lock), so that two build trees tested at once never
// share the port. The lock is a listening Unix socket in the abstract
// namespace, which belongs to the network namespace (tests in two namespaces
// do not wait for each other) and which the kernel releases when its holder
// ends, however it ends. Whoever has to wait says once for whom: process id
// and name. tools/clockportlock.py takes the same lock for scripts.
// A Unix socket of `name` in the abstract namespace, bound and listening
// (`listen`) or connected to its holder; -1 (errno set) when that fails.
// Also the single-copy guard's kind of socket (app/instanceguard.cpp).
int abstractSocket(const char* name, bool listen);

class ClockPortLock
{
public:
    ClockPortLock();
    ~ClockPortLock();
    ClockPortLock(const ClockPortLock&) = delete;
    ClockPortLock& operator=(const ClockPortLock&) = delete;

private:
    int holder = -1;
};
