// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The two dialogs of the log size check: "Clear log file" asks whether to
// delete a large operation log now, and "Reminder" asks when to ask again.

#include <QDateTime>
#include <QDialog>
#include <QString>

#include <functional>
#include <memory>

namespace Ui {
class TClearLogForm;
class TReminderForm;
}
class IClock;

class TClearLogForm : public QDialog {
  Q_OBJECT
 public:
  // logClearCanceled receives the answer: false for "delete the log".
  // remindLater shows the reminder dialog, owned by the dialog it is given.
  TClearLogForm(QWidget* owner, bool& logClearCanceled, std::function<void(QWidget*)> remindLater);
  ~TClearLogForm() override;

  Ui::TClearLogForm& ui() { return *ui_; }
  void ShowSize(int sizeKb);

  void OkButtonClick();
  void RemindButtonClick();
  void CancelButtonClick();

 private:
  std::unique_ptr<Ui::TClearLogForm> ui_;
  bool& logClearCanceled_;
  std::function<void(QWidget*)> remindLater_;
};

class TReminderForm : public QDialog {
  Q_OBJECT
 public:
  // reportError shows a failure to store the reminder.
  TReminderForm(QWidget* owner, QString settingsPath, IClock& clock,
                std::function<void(const QString&)> reportError);
  ~TReminderForm() override;

  Ui::TReminderForm& ui() { return *ui_; }

  // Stores "Next Remind" for the chosen item, then closes.
  void OkButtonClick();
  void CancelButtonClick();

  // The next reminder for a list item, as stored: days since 1899-12-30.
  // "Never" is -1.0, a time before any the program can meet; no item is now.
  static double NextReminder(int item, const QDateTime& now);

 private:
  std::unique_ptr<Ui::TReminderForm> ui_;
  QString settingsPath_;
  IClock& clock_;
  std::function<void(const QString&)> reportError_;
};
