// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/Entry.h"
#include "core/ProgramFiles.h"
#include "device/UsbLink.h"

#include <QFileInfo>

#include <memory>

int main(int argc, char** argv) {
  EntryOptions options;
  options.makeLink = [](UsbIdPair unitIds) {
    // The access-rule installer and the rule itself lie with the program's
    // other read-only files.
    const QString installer = programfiles::Find(QString::fromLatin1(kInstallerFileName));
    return MakeUsbLink((QFileInfo(installer).absolutePath() + '/').toStdString(), unitIds);
  };
  options.askGuard = true;
  return RunControlCentre(argc, argv, options);
}
