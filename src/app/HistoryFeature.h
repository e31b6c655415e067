// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The history as the main window feeds it: every status sample and every
// change of the link goes into the store, and into the history window while
// that is open. The window opens from the tray menu and from a double-click
// on the System tab's temperatures.

#include "history/HistoryStore.h"
#include "app/HistoryWindow.h"

#include <QObject>
#include <QPointer>

#include <memory>

class TForm1;
class HistoryWindow;
struct StatusSample;

inline const QString kHistoryNotSavedText = QStringLiteral("History is not being saved: %1");
inline const QString kHistorySavedAgainText = QStringLiteral("History is being saved again");

class HistoryFeature : public QObject {
  Q_OBJECT
 public:
  HistoryFeature(TForm1& form, const QString& path, QObject* parent = nullptr);
  ~HistoryFeature() override;

  HistoryStore& Store() { return *store_; }
  // Null while closed.
  HistoryWindow* Window() const { return window_; }
  void OpenWindow();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Sampled(const StatusSample& sample);
  void LinkChanged(bool up);
  void Failed(const QString& reason);
  void Resumed();
  void Say(const QString& text);

  TForm1& form_;
  std::unique_ptr<HistoryStore> store_;
  QPointer<HistoryWindow> window_;
};
