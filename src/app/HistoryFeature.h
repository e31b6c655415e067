// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The history as the main window shows it: the recorder is fed the window's
// status samples and link changes, and what it stores goes into the history
// window while that is open. The window opens from the tray menu and from a
// double-click on the System tab's temperatures. The recorder's notices go
// to the status bar as well as the program's messages.

#include "history/HistoryRecorder.h"
#include "app/HistoryWindow.h"

#include <QObject>
#include <QPointer>

class TForm1;
class HistoryWindow;
struct StatusSample;

class HistoryFeature : public QObject {
  Q_OBJECT
 public:
  HistoryFeature(TForm1& form, const QString& path, QObject* parent = nullptr);
  ~HistoryFeature() override;

  HistoryRecorder& Recorder() { return recorder_; }
  HistoryStore& Store() { return recorder_.Store(); }
  // Null while closed.
  HistoryWindow* Window() const { return window_; }
  void OpenWindow();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Sampled(const StatusSample& sample);
  void LinkChanged(bool up);
  void Say(QtMsgType type, const QString& text);

  TForm1& form_;
  HistoryRecorder recorder_;
  QPointer<HistoryWindow> window_;
};
