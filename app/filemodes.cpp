#include "app/filemodes.h"

#include <QFile>
#include <QFileDevice>

namespace {

QFileDevice::Permissions permissions(FileModes::Mode mode)
{
    const QFileDevice::Permissions owner = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
    return mode == FileModes::Mode::OwnerOnly ? owner : owner | QFileDevice::ReadGroup;
}

}  // namespace

namespace FileModes {

bool apply(QFileDevice& file, Mode mode)
{
    return file.setPermissions(permissions(mode));
}

bool apply(const QString& path, Mode mode)
{
    return QFile::setPermissions(path, permissions(mode));
}

}  // namespace FileModes
