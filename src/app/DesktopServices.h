#pragma once
// The real desktop behind the seams: Qt message boxes, the system clock and
// the help window.

#include "app/Services.h"

#include <QPointer>

class QTextBrowser;

class QtMessageBoxes : public IMessageBoxes {
 public:
  void ShowMessage(const QString& text) override;
  bool AskOkCancel(const QString& text, const QString& caption) override;
  int ExecModal(QDialog& dialog) override;
};

class SystemClock : public IClock {
 public:
  QDateTime Now() const override;
  void Pause(int ms) override;
  void ProcessPendingEvents() override;
};

// The help file shown in the program's own window, scrolled to a context's
// anchor; the contents are the same window at its table of contents.
class HelpWindow : public IHelpViewer {
 public:
  explicit HelpWindow(QString helpFile);
  ~HelpWindow() override;
  void ShowContext(int context) override;
  void ShowContents() override;

 private:
  void ShowAnchor(const QString& anchor);
  QString helpFile_;
  QPointer<QTextBrowser> browser_;
};
