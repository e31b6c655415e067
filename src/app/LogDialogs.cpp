// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/LogDialogs.h"

#include "app/Accessibility.h"

#include "core/Services.h"
#include "config/SettingsKey.h"
#include "config/SettingsValues.h"

#include "ui_TClearLogForm.h"
#include "ui_TReminderForm.h"

#include <array>

TClearLogForm::TClearLogForm(QWidget* owner, bool& logClearCanceled,
                             std::function<void(QWidget*)> remindLater)
    : QDialog(owner), ui_(std::make_unique<Ui::TClearLogForm>()), logClearCanceled_(logClearCanceled),
      remindLater_(std::move(remindLater)) {
  ui_->setupUi(this);
  setFixedSize(sizeHint());
  connect(ui_->OkButton, &QPushButton::clicked, this, &TClearLogForm::OkButtonClick);
  connect(ui_->RemindButton, &QPushButton::clicked, this, &TClearLogForm::RemindButtonClick);
  connect(ui_->CancelButton, &QPushButton::clicked, this, &TClearLogForm::CancelButtonClick);
}

TClearLogForm::~TClearLogForm() = default;

void TClearLogForm::ShowSize(int sizeKb) {
  ui_->MessageLabel1->setText(QStringLiteral("Your operation log is getting big (%1kb).").arg(sizeKb));
  ui_->MessageLabel2->setText(QStringLiteral("Do you want to clear it now?"));
}

void TClearLogForm::OkButtonClick() {
  logClearCanceled_ = false;
  accept();
}

void TClearLogForm::RemindButtonClick() {
  hide();
  if (remindLater_) remindLater_(this);
  logClearCanceled_ = true;
  reject();
}

void TClearLogForm::CancelButtonClick() {
  logClearCanceled_ = true;
  reject();
}

TReminderForm::TReminderForm(QWidget* owner, QString settingsPath, IClock& clock,
                             std::function<void(const QString&)> reportError)
    : QDialog(owner), ui_(std::make_unique<Ui::TReminderForm>()), settingsPath_(std::move(settingsPath)),
      clock_(clock), reportError_(std::move(reportError)) {
  ui_->setupUi(this);
  NameDialogControls(*this);
  setFixedSize(sizeHint());
  ui_->ReminderComboBox->setCurrentIndex(0);
  connect(ui_->OkButton, &QPushButton::clicked, this, &TReminderForm::OkButtonClick);
  connect(ui_->CancelButton, &QPushButton::clicked, this, &TReminderForm::CancelButtonClick);
}

TReminderForm::~TReminderForm() = default;

double TReminderForm::NextReminder(int item, const QDateTime& now) {
  static constexpr std::array<double, 5> kDaysAhead{1.0, 2.0, 3.0, 7.0, 30.0};
  if (item == 5) return -1.0;
  const double today = DateTimeToDays(now);
  if (item < 0 || item >= static_cast<int>(kDaysAhead.size())) return today;
  return today + kDaysAhead[static_cast<std::size_t>(item)];
}

void TReminderForm::OkButtonClick() {
  const double next = NextReminder(ui_->ReminderComboBox->currentIndex(), clock_.Now());
  try {
    SettingsKey key(settingsPath_, SettingsKey::Open::CreateIfMissing);
    key.WriteDateTime(settings::kNextRemind, next);
  } catch (const SettingsError& e) {
    if (reportError_) reportError_(e.Text());
  }
  accept();
}

void TReminderForm::CancelButtonClick() { reject(); }
