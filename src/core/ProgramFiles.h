// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Where the program's read-only files (help, alarm sound, access-rule installer)
// are found: beside the executable in the build tree, or in the installed data
// folder.

#include <QString>

namespace programfiles {

// Full path of a read-only program file; the first existing candidate, or the
// one beside the executable when none exists.
QString Find(const QString& fileName);

// The folder of the program file, with a trailing separator.
QString ProgramFolder();

}  // namespace programfiles
