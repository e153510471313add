#pragma once

#include <QObject>

class QSocketNotifier;

// One Corvelta per machine: two copies would share UDP port 7372, the
// kernel would hand each clock's answer to only one of them, and both
// would judge their clocks wrongly. The guard is a listening Unix socket
// of a fixed name in the abstract namespace (Linux): it belongs to the
// network namespace and the kernel releases it when its holder ends,
// however it ends, so no stale lock survives a crash or a power cut. A
// second copy that finds it taken asks the holder to bring its window to
// the front; the holder writes a byte back once it has, and a holder that
// has not answered within 2 s (stopped, hung, its queue full) is taken as
// one that does not answer. Beside the socket the holder keeps a lock
// (flock) on corvelta.lock in the program's folder, which holds its process
// id: a copy of the same folder started in another network namespace, where
// the socket's name is free, is refused by the lock. The kernel releases
// the lock too when its holder ends. Only main takes the guard; windows that
// tests build take none. Elsewhere than on Linux every start is let through.
class InstanceGuard : public QObject
{
    Q_OBJECT

public:
    enum class Outcome {
        Taken,
        Refused,       // another copy holds it (and raised its window, or cannot be asked)
        NotAnswering,  // another copy holds it and gave no answer within the time limit
    };

    explicit InstanceGuard(QObject* parent = nullptr);
    ~InstanceGuard() override;

    // Takes the guard, or tells the copy holding it; when another copy
    // holds it, its process id is in holderProcess() (0 if unknown).
    // Needs no application object, so a refused copy starts nothing.
    Outcome take();
    qint64 holderProcess() const { return holder; }

    // From now on (an application object exists) each refused start is
    // reported by anotherStartRefused and answered once its slots ran.
    void watchForOtherStarts();

signals:
    void anotherStartRefused();

private:
    void acceptOtherStart();

    int listening = -1;
    int folderLock = -1;
    qint64 holder = 0;
    QSocketNotifier* notifier = nullptr;
};
