#pragma once

#include <QString>

// A file replaced whole (QSaveFile, and QSettings, which writes through it)
// is written under a temporary name beside it, the file's name, a dot and
// six letters of both cases (crv_settings.ini.vUxOPW), and renamed over it.
// A process ended in that moment (SIGKILL, a power cut) leaves the temporary
// file behind, and nothing else ever removes it. Run at start, while no
// other copy can be writing in the folder.
namespace InterruptedWrites {

// Removes the temporary files that writes of `fileName` in `dir` left;
// returns how many. A name of six letters of one case
// (crv_settings.ini.backup) is an operator's, never one of these.
int remove(const QString& dir, const QString& fileName);

}  // namespace InterruptedWrites
