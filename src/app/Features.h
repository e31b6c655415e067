// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The program's own capabilities beyond the window: each lives in its own
// folder and is fed from the main window's status samples and link changes.
// This class only creates them and wires them to the window; it lives as
// long as the window does.

#include "app/CommandLine.h"

#include "desktop/NotificationPolicy.h"

#include <QObject>

class TForm1;
class DesktopNotifier;

class Features : public QObject {
  Q_OBJECT
 public:
  Features(TForm1& form, const CommandLine& commandLine, QObject* parent = nullptr);
  ~Features() override;

 private:
  NotificationChoices Choices() const;

  TForm1& form_;
  NotificationPolicy notificationPolicy_;
  DesktopNotifier* notifier_ = nullptr;
};
