#pragma once

#include <QString>

class QFileDevice;

// The modes of the files Corvelta writes, whatever umask it was started
// with: the settings file, which holds the quote service's key, is its
// owner's alone (0600); the log files and the status file may also be read
// by the owner's group (0640), so a monitoring user put in that group reads
// them and nobody else does. Every writer calls this once it has its file
// open; a file replaced whole (QSaveFile) is given its mode on the new text,
// which keeps it when it takes the old file's place.
namespace FileModes {

enum class Mode {
    OwnerOnly,      // 0600
    GroupReadable,  // 0640
};

// False when the mode could not be set (a file system without modes).
bool apply(QFileDevice& file, Mode mode);
bool apply(const QString& path, Mode mode);

}  // namespace FileModes
