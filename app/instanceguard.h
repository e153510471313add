#pragma once

#include <QObject>

class QSocketNotifier;

// One Corvelta per machine: two copies would share UDP port 7372, the
// kernel would hand each clock's answer to only one of them, and both
// would judge their clocks wrongly. The guard is a listening Unix socket
// of a fixed name in the abstract namespace (Linux): it belongs to the
// network namespace and the kernel releases it when its holder ends,
// however it ends, so no stale lock survives a crash or a power cut. A
// second copy that finds it taken connects to it, which asks the holder to
// bring its window to the front. Only main takes it; windows that tests
// build take none. Elsewhere than on Linux every start is let through.
class InstanceGuard : public QObject
{
    Q_OBJECT

public:
    explicit InstanceGuard(QObject* parent = nullptr);
    ~InstanceGuard() override;

    // Takes the guard, or tells the copy holding it; false when another
    // copy holds it (its process id in holderProcess(), 0 if unknown).
    // Needs no application object, so a refused copy starts nothing.
    bool take();
    qint64 holderProcess() const { return holder; }

    // From now on (an application object exists) each refused start is
    // reported by anotherStartRefused.
    void watchForOtherStarts();

signals:
    void anotherStartRefused();

private:
    void acceptOtherStart();

    int listening = -1;
    qint64 holder = 0;
    QSocketNotifier* notifier = nullptr;
};
