#pragma once

#include <QByteArray>
#include <QString>

// The weather service asks every caller for a User-Agent naming the
// application and a contact.
namespace UserAgent {

// "Corvelta/<major>.<minor>.<patch>" with the version of the build, followed by
// " (" + contact + ")" when the contact holds anything. Line breaks and other
// control characters of the contact are dropped (they would end the header)
// and its ends trimmed.
QByteArray weather(const QString& contact);

}  // namespace UserAgent
