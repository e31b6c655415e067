// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Starting another program (the desktop's log viewer) without waiting for it.
// The program and each argument are handed over as they are, never through a
// shell, so file names with blanks or quotes reach the program whole.

#include <QString>
#include <QStringList>

class IProcessLauncher {
 public:
  virtual ~IProcessLauncher() = default;
  // True when the program could be started.
  virtual bool StartDetached(const QString& program, const QStringList& arguments) = 0;
};

class DetachedProcessLauncher : public IProcessLauncher {
 public:
  bool StartDetached(const QString& program, const QStringList& arguments) override;
};
