// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The real desktop behind the seams: Qt message boxes, the help window and
// the sound (the clock and the power-off are the computer's: host/SystemServices.h).

#include "core/Services.h"
#include "host/SystemServices.h"

#include <functional>

#include <QHash>
#include <QUrl>
#include <QPointer>

class QMessageBox;

class QTextBrowser;

class QtMessageBoxes : public IMessageBoxes {
 public:
  // Distinct reports standing at once; more would bury the window, and each
  // is in the program's messages anyway.
  static constexpr int kMaxReportsOnScreen = 8;

  void ShowMessage(const QString& text) override;
  // One box per distinct text: while it stands, the same text again only
  // counts on it ("Repeated 3 times since, the last at 14:02:11.").
  void ShowReport(QWidget* owner, const QString& text) override;
  int ReportsOnScreen();
  void ShowMessageWithDetail(const QString& text, const QString& detail) override;
  bool AskOkCancel(const QString& text, const QString& caption) override;
  int ExecModal(QDialog& dialog) override;

 private:
  struct Report {
    QPointer<QMessageBox> box;
    int repeats = 0;
  };
  void ForgetDismissedReports();
  QHash<QString, Report> reports_;
};

// libcanberra: the file played to its end (bounded, so that a stuck sound
// server cannot hang the window), the theme's bell when the file is missing,
// silence when there is no sound server.
class CanberraSound : public ISound {
 public:
  CanberraSound();
  ~CanberraSound() override;
  void PlaySync(const QString& file) override;

 private:
  struct Context;
  Context* d;
};

// The help file shown in the program's own window, scrolled to a context's
// anchor; the contents are the same window at its table of contents.
class HelpWindow : public IHelpViewer {
 public:
  explicit HelpWindow(QString helpFile);
  ~HelpWindow() override;
  void ShowContext(int context) override;
  void ShowContents() override;
  // The About box, for the help's "about:" links and its key: without a
  // notification area the help window is the one way there.
  std::function<void()> ShowAbout;
  // Null until the help was first shown.
  QTextBrowser* Browser() const;

 private:
  void ShowAnchor(const QString& anchor);
  void Follow(const QUrl& link);
  QString helpFile_;
  QPointer<QTextBrowser> browser_;
};
