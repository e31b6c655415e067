// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The heater group on the Misc. tab (built hidden and disabled): a power
// slider, and a dialog that reduces the heating for up to 59 minutes while a
// one-minute countdown runs. Nothing here reaches the unit; the slider only
// shows up in the log's "Heater effect" column.

#include <QDialog>
#include <QString>

#include <memory>

namespace Ui {
class TForm2;
}

// A midnight (days since 1899-12-30). A reduction end at this value means no
// reduction runs; kReductionBase + m/1440 means m minutes are left.
constexpr double kReductionBase = 37553.0;
constexpr double kOneMinuteInDays = 1.0 / 1440.0;

// Whether a reduction is running. Counted to the millisecond: a minute taken
// off sixty times in floating point must end exactly at zero, not one tick later.
bool ReductionRuns(double reductionEnd);

// The remaining time as shown: the minutes of reductionEnd's time of day
// without a leading zero, and " Min" ("15 Min", "0 Min").
QString RemainingTimeText(double reductionEnd);

// "Heating Reducement": asks for how many minutes the heating is reduced.
class TForm2 : public QDialog {
  Q_OBJECT
 public:
  // The dialog writes its answer to reductionEnd and clears modalDialogOpen
  // however it closes.
  TForm2(QWidget* owner, double& reductionEnd, bool& modalDialogOpen);
  ~TForm2() override;

  Ui::TForm2& ui() { return *ui_; }

  void OkButtonClick();
  void CancelButtonClick();
  // FormClose: runs for the buttons and for the close box alike.
  void done(int result) override;

 private:
  std::unique_ptr<Ui::TForm2> ui_;
  double& reductionEnd_;
  bool& modalDialogOpen_;
};
