// SPDX-License-Identifier: GPL-3.0-or-later
// The weekday rows of the dormant "RTC" tab: a day's check box makes that
// day's time controls usable. Nothing here is stored or sent to the unit.

#include "app/TForm1.h"
#include "core/Guard.h"
#include "widgets/Palette.h"

#include "ui_TForm1.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>

#include <exception>

namespace {

struct WeekdayRow {
  QLabel* day;
  QComboBox* hour;
  QComboBox* minute;
  QCheckBox* active;
  QLabel* timeLabel;
};

WeekdayRow RowOfDay(Ui::TForm1& u, int day) {
  switch (day) {
    case 1: return {u.Monday, u.MondayHour, u.MondayMin, u.MondayCheckBox, u.MondayTime};
    case 2: return {u.Tuesday, u.TuesdayHour, u.TuesdayMin, u.TuesdayCheckBox, u.TuesdayTime};
    case 3: return {u.Wednesday, u.WednesdayHour, u.WednesdayMin, u.WednesdayCheckBox, u.WednesdayTime};
    case 4: return {u.Thursday, u.ThursdayHour, u.ThursdayMin, u.ThursdayCheckBox, u.ThursdayTime};
    case 5: return {u.Friday, u.FridayHour, u.FridayMin, u.FridayCheckBox, u.FridayTime};
    default: return {};
  }
}

}  // namespace

void TForm1::ConnectWeekdayHandlers() {
  Ui::TForm1& u = *ui_;
  connect(u.MondayCheckBox, &QCheckBox::toggled, this, &TForm1::MondayCheckBoxClick);
  connect(u.TuesdayCheckBox, &QCheckBox::toggled, this, &TForm1::TuesdayCheckBoxClick);
  connect(u.WednesdayCheckBox, &QCheckBox::toggled, this, &TForm1::WednesdayCheckBoxClick);
  connect(u.ThursdayCheckBox, &QCheckBox::toggled, this, &TForm1::ThursdayCheckBoxClick);
  connect(u.FridayCheckBox, &QCheckBox::toggled, this, &TForm1::FridayCheckBoxClick);
}

void TForm1::WeekdayCheckBoxClick(int day) {
  Guarded(report_, [&] {
    const WeekdayRow row = RowOfDay(*ui_, day);
    if (!row.active) return;
    const bool on = row.active->isChecked();
    for (QWidget* w : std::initializer_list<QWidget*>{row.day, row.hour, row.minute, row.timeLabel})
      w->setEnabled(on);
    for (QWidget* box : std::initializer_list<QWidget*>{row.hour, row.minute})
      SetEditColor(box, on ? SystemWindowColor() : SystemScrollBarColor());
  });
}
