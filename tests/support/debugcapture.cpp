#include "support/debugcapture.h"

#include <QRegularExpression>
#include <atomic>

namespace {
std::atomic<DebugCapture*> activeCapture{nullptr};
}

DebugCapture::DebugCapture(Options options)
    : options(options)
{
    activeCapture = this;
    previous = qInstallMessageHandler(&DebugCapture::handle);
}

DebugCapture::~DebugCapture()
{
    qInstallMessageHandler(previous);
    activeCapture = nullptr;
}

void DebugCapture::handle(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    DebugCapture* self = activeCapture;
    if (!self)
        return;
    if (type != QtDebugMsg) {
        {
            std::lock_guard<std::mutex> lock(self->mutex);
            self->other << message;
        }
        if (self->previous)
            self->previous(type, context, message);
        return;
    }
    if (!self->options.keepDebug)
        return;
    static const QRegularExpression stamp("^\\d\\d/\\d\\d/\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d: ");
    QString line = message;
    if (self->options.stripTimestamp)
        line.remove(stamp);
    if (self->options.maxLineLength >= 0)
        line.truncate(self->options.maxLineLength);
    std::lock_guard<std::mutex> lock(self->mutex);
    self->debug << line;
}

QStringList DebugCapture::debugLines() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return debug;
}

QStringList DebugCapture::debugSince(int mark) const
{
    std::lock_guard<std::mutex> lock(mutex);
    return debug.mid(mark);
}

int DebugCapture::mark() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return debug.size();
}

QStringList DebugCapture::otherLines() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return other;
}
