#include "support/answeringclocks.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "clocklink/clockdatagram.h"

AnsweringClocks::AnsweringClocks(int count)
{
    epollFd = ::epoll_create1(0);
    for (int i = 0; i < count; ++i) {
        const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
        if (fd < 0) {
            ++unbound;
            continue;
        }
        const int one = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in a = {};
        a.sin_family = AF_INET;
        a.sin_port = htons(CLOCK_UDP_PORT);
        a.sin_addr.s_addr = htonl(address(i).toIPv4Address());
        if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
            ::close(fd);
            ++unbound;
            continue;
        }
        epoll_event event = {};
        event.events = EPOLLIN;
        event.data.u32 = quint32(fds.size());
        ::epoll_ctl(epollFd, EPOLL_CTL_ADD, fd, &event);
        fds.push_back(fd);
    }
    lastAnswered.resize(fds.size());
    reader = std::thread([this] { answerLoop(); });
}

AnsweringClocks::~AnsweringClocks()
{
    stop = true;
    reader.join();
    for (int fd : fds)
        ::close(fd);
    ::close(epollFd);
}

void AnsweringClocks::answerLoop()
{
    struct Held  // from: room for the link's dual-stack address
    {
        quint32 index;
        sockaddr_in6 from;
        socklen_t fromLength;
        QByteArray data;
    };
    std::vector<Held> held;
    std::vector<epoll_event> events(256);
    char buffer[2048];
    while (!stop) {
        const int n = ::epoll_wait(epollFd, events.data(), int(events.size()), holding ? 5 : 50);
        for (int e = 0; e < n; ++e) {
            const quint32 index = events[e].data.u32;
            for (;;) {
                Held got = {index, {}, sizeof(sockaddr_in6), QByteArray()};
                const ssize_t size = ::recvfrom(fds[index], buffer, sizeof buffer, 0,
                                                reinterpret_cast<sockaddr*>(&got.from), &got.fromLength);
                if (size < 0)
                    break;
                ++received;
                got.data = QByteArray(buffer, int(size));
                if (lastAnswered[index] == got.data)
                    ++repeated;
                if (holding || !held.empty()) {
                    held.push_back(got);
                    continue;
                }
                ::sendto(fds[index], "A", 1, 0, reinterpret_cast<const sockaddr*>(&got.from), got.fromLength);
                lastAnswered[index] = got.data;
            }
        }
        size_t answered = 0;
        for (; answered < held.size() && (!holding || toAnswer > 0); ++answered) {
            const Held& h = held[answered];
            ::sendto(fds[h.index], "A", 1, 0, reinterpret_cast<const sockaddr*>(&h.from), h.fromLength);
            lastAnswered[h.index] = h.data;
            if (holding)
                --toAnswer;
        }
        held.erase(held.begin(), held.begin() + long(answered));
    }
}
