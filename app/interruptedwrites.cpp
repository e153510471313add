#include "app/interruptedwrites.h"

#include <QDir>
#include <QRegularExpression>

namespace InterruptedWrites {

int remove(const QString& dir, const QString& fileName)
{
    const QRegularExpression temporary(QStringLiteral("^%1\\.(?=[A-Za-z]*[a-z])(?=[A-Za-z]*[A-Z])[A-Za-z]{6}$")
                                           .arg(QRegularExpression::escape(fileName)));
    QDir folder(dir);
    int removed = 0;
    for (const QString& name : folder.entryList({fileName + ".??????"}, QDir::Files | QDir::Hidden | QDir::System)) {
        if (temporary.match(name).hasMatch() && folder.remove(name))
            ++removed;
    }
    return removed;
}

}  // namespace InterruptedWrites
