// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The program's own capabilities beyond the window: each lives in its own
// folder and is fed from the main window's status samples and link changes.
// This class only creates them and wires them to the window; it lives as
// long as the window does.

#include "app/CommandLine.h"

#include "desktop/NotificationPolicy.h"

#include <QObject>

#include <memory>

class TForm1;
class SingleInstance;
class StatusPublisher;
class MetricsFile;
class HistoryFeature;
class LinkLostView;
class DesktopNotifier;

class Features : public QObject {
  Q_OBJECT
 public:
  // settingsPath: the settings file that may name a metrics file; empty: the
  // user's own.
  Features(TForm1& form, const CommandLine& commandLine, QObject* parent = nullptr,
           const QString& settingsPath = QString());
  ~Features() override;

  // Answers `--status` requests that reach the running instance's socket.
  void ServeStatusQueries(SingleInstance& instance);

  MetricsFile* Metrics() const { return metrics_.get(); }
  HistoryFeature* History() const { return history_; }

 private:
  NotificationChoices Choices() const;

  TForm1& form_;
  std::unique_ptr<StatusPublisher> statusPublisher_;
  std::unique_ptr<MetricsFile> metrics_;
  LinkLostView* linkLost_ = nullptr;
  HistoryFeature* history_ = nullptr;
  NotificationPolicy notificationPolicy_;
  DesktopNotifier* notifier_ = nullptr;
};
