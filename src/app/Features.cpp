// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/Features.h"

#include "app/TForm1.h"
#include "desktop/DesktopNotifier.h"

#include "ui_TForm1.h"

#include <QCheckBox>
#include <QComboBox>

namespace {
constexpr int kIgnoreWarnings = 3;  // the warning choice "Ignore"
}

Features::Features(TForm1& form, const CommandLine& commandLine, QObject* parent)
    : QObject(parent), form_(form) {
  Q_UNUSED(commandLine);

  notifier_ = new DesktopNotifier(QDBusConnection::sessionBus(), this);
  connect(&form_, &TForm1::statusSampled, this, [this](const StatusSample& sample) {
    for (const Notice& notice : notificationPolicy_.OnSample(sample, Choices())) notifier_->Show(notice);
  });
  connect(&form_, &TForm1::linkStateChanged, this, [this](bool up) {
    if (const auto notice = notificationPolicy_.OnLinkChanged(up, Choices())) notifier_->Show(*notice);
  });
  // Closing the control centre is how an armed shutdown is cancelled.
  connect(notifier_, &DesktopNotifier::cancelShutdownRequested, &form_, &TForm1::close);
}

Features::~Features() = default;

NotificationChoices Features::Choices() const {
  return {form_.ui().NotificationsCheckBox->isChecked(),
          form_.ui().WarningHandlingComboBox->currentIndex() == kIgnoreWarnings};
}
