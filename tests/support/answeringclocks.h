#pragma once

// Many clocks that answer every datagram at once with "A": one socket per
// clock (127.0.0.2 upward, port 7372), all read by one thread through epoll,
// so that ten thousand of them cost little. Linux only.

#include <QByteArray>
#include <QHostAddress>
#include <atomic>
#include <thread>
#include <vector>

class AnsweringClocks
{
public:
    explicit AnsweringClocks(int count);
    ~AnsweringClocks();
    AnsweringClocks(const AnsweringClocks&) = delete;
    AnsweringClocks& operator=(const AnsweringClocks&) = delete;

    // Clock i's address: 0 is 127.0.0.2, 254 is 127.0.1.0, ...
    static QHostAddress address(int i) { return QHostAddress(quint32(0x7F000002u + quint32(i))); }

    // While held, the clocks take their datagrams without answering; once
    // let go, they answer all they took, then each as it comes.
    void hold(bool held) { holding = held; }
    // While held, answers the `count` oldest datagrams taken.
    void answerHeld(int count) { toAnswer += count; }

    int unbound = 0;
    std::atomic<qint64> received{0};
    // Datagrams that came again after the clock had answered them: sent
    // again by the link though their answer was on its way or waiting.
    std::atomic<qint64> repeated{0};

private:
    void answerLoop();

    int epollFd = -1;
    std::vector<int> fds;
    std::vector<QByteArray> lastAnswered;  // per clock, the reader thread's
    std::atomic<bool> holding{false};
    std::atomic<int> toAnswer{0};
    std::atomic<bool> stop{false};
    std::thread reader;
};
