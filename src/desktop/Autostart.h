// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The desktop entry that starts the control centre with the user's desktop
// session ($XDG_CONFIG_HOME/autostart). Whether the program starts with the
// session is read from that file each time, never kept anywhere else: the
// user (or the desktop's own "startup applications" tool) may change it while
// the program runs.

#include <QByteArray>
#include <QString>

inline constexpr char kAutostartEntryName[] = "org.quelmark.VornalithControlCentre.desktop";

class Autostart {
 public:
  // $XDG_CONFIG_HOME/autostart/<entry>, or ~/.config/... when the variable is
  // unset or not an absolute path (the base directory rules ignore it then).
  static QString DefaultPath();

  // executable: the program the entry starts, as an absolute path.
  Autostart(QString path, QString executable);

  const QString& Path() const { return path_; }

  // True while the entry exists, starts one of our programs (or one of the
  // executable's name) and has not been switched off (Hidden=true, or GNOME's
  // X-GNOME-Autostart-enabled=false).
  bool Enabled() const;

  // Writes the entry (atomically, creating the folder) or removes it. Returns
  // what went wrong, empty when it worked.
  QString SetEnabled(bool on);

  // The entry as written: the program started with --minimized.
  QByteArray EntryText() const;

 private:
  QString path_;
  QString executable_;
};

// One argument of an Exec line, quoted where the desktop entry rules call for
// it (before the file's own backslash escaping).
QString QuoteExecArgument(const QString& argument);
