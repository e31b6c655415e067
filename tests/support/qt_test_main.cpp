// SPDX-License-Identifier: GPL-3.0-or-later
#include <QApplication>
#include <QDir>
#include <QFile>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

// ctest points the XDG folders at a scratch tree of the test's own; make sure
// they exist (the runtime folder private, as the desktop would have it).
void PrepareScratchFolders() {
  for (const char* var : {"XDG_CONFIG_HOME", "XDG_STATE_HOME", "XDG_RUNTIME_DIR"}) {
    const QString dir = qEnvironmentVariable(var);
    if (dir.isEmpty()) continue;
    QDir().mkpath(dir);
    if (qstrcmp(var, "XDG_RUNTIME_DIR") == 0)
      QFile::setPermissions(dir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  PrepareScratchFolders();
  QApplication app(argc, argv);
  ::testing::InitGoogleMock(&argc, argv);
  return RUN_ALL_TESTS();
}
