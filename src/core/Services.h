// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Most effects the program has outside its own window (boxes, the clock,
// help, sound, power-off, the unit) go through these small interfaces, so that
// tests can stand in for the desktop, the clock and the unit without blocking,
// sleeping or touching the user's files. The logs, the mail program and the
// CPU counters have seams of their own, named below; the settings file is
// named by its path. Desktop notifications, the session's end and the
// history have theirs beside the features that use them.

#include <QDateTime>
#include <QString>

class IUnitLink;
class QDialog;
class QWidget;
class ICpuSources;  // host/CpuSources.h
class IProcessLauncher;  // logs/ProcessLauncher.h
class IMailTransport;    // logs/MailSender.h

class IMessageBoxes {
 public:
  virtual ~IMessageBoxes() = default;
  // A modal box with the text and an OK button; returns once it is dismissed.
  // For what the user asked to see (the About box) and for the last word
  // before the program ends.
  virtual void ShowMessage(const QString& text) = 0;
  // An error report: the box is opened over the owner and this returns at
  // once, so the handler that hit the fault is abandoned and everything else
  // (the next poll, the alarm decision, an armed shutdown) goes on. Qt never
  // fires a timer again while its own handler waits in a box, so a box that
  // waited here would stop the very poll that protects the computer.
  virtual void ShowReport(QWidget* owner, const QString& text) = 0;
  // The same box with a detail text under its text (what was looked for,
  // what to try). Boxes that show no detail show the text alone.
  virtual void ShowMessageWithDetail(const QString& text, const QString& detail) {
    (void)detail;
    ShowMessage(text);
  }
  // A modal question with OK and Cancel and no icon; true when OK was chosen.
  virtual bool AskOkCancel(const QString& text, const QString& caption) = 0;
  // Shows a dialog modally and returns its result code.
  virtual int ExecModal(QDialog& dialog) = 0;
};

class IClock {
 public:
  virtual ~IClock() = default;
  virtual QDateTime Now() const = 0;
  // Blocks the calling thread for the given time (the short pauses between
  // start-up requests, the waits of the shutdown path).
  virtual void Pause(int ms) = 0;
  // Lets the window handle what is waiting in its event queue, once.
  virtual void ProcessPendingEvents() = 0;
};

class IHelpViewer {
 public:
  virtual ~IHelpViewer() = default;
  virtual void ShowContext(int context) = 0;
  virtual void ShowContents() = 0;
};

class ISound {
 public:
  virtual ~ISound() = default;
  // Plays a sound file and returns when it has finished; a missing file plays
  // the desktop's bell instead, and no sound at all is not an error.
  virtual void PlaySync(const QString& file) = 0;
};

class IPowerOff {
 public:
  virtual ~IPowerOff() = default;
  // Asks the system to power the computer off; the answer is not awaited.
  virtual void RequestPowerOff() = 0;
};

// The set of seams handed to the main window. Everything here outlives it.
struct Services {
  IUnitLink* link = nullptr;
  IMessageBoxes* boxes = nullptr;
  IClock* clock = nullptr;
  IHelpViewer* help = nullptr;
  ISound* sound = nullptr;
  IPowerOff* powerOff = nullptr;
  // The settings file that stands for the program's settings key.
  QString settingsPath;
  // The computer's CPU counters for the sampler thread; left null, the main
  // window measures the real ones.
  ICpuSources* cpu = nullptr;
  // The folder of the two log files, with a trailing separator; the program
  // that opens them in a viewer; the mail system for the error report. Left
  // empty, the main window uses the desktop's own.
  QString logFolder;
  IProcessLauncher* launcher = nullptr;
  IMailTransport* mail = nullptr;
};
