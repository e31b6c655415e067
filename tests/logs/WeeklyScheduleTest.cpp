// SPDX-License-Identifier: GPL-3.0-or-later
// The dormant "RTC" tab: never offered, but its weekday rows work when shown.

#include "../app/WindowFixture.h"
#include "widgets/Palette.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>

namespace {

class WeeklyScheduleTest : public WindowFixture {
 protected:
  void SetUp() override {
    WindowFixture::SetUp();
    Start();
  }
  // Monday to Friday: the check box, the hour and minute boxes and the time label.
  std::vector<std::vector<QWidget*>> Days() {
    Ui::TForm1& u = ui();
    return {{u.MondayCheckBox, u.Monday, u.MondayHour, u.MondayMin, u.MondayTime},
            {u.TuesdayCheckBox, u.Tuesday, u.TuesdayHour, u.TuesdayMin, u.TuesdayTime},
            {u.WednesdayCheckBox, u.Wednesday, u.WednesdayHour, u.WednesdayMin, u.WednesdayTime},
            {u.ThursdayCheckBox, u.Thursday, u.ThursdayHour, u.ThursdayMin, u.ThursdayTime},
            {u.FridayCheckBox, u.Friday, u.FridayHour, u.FridayMin, u.FridayTime}};
  }
};

TEST_F(WeeklyScheduleTest, AWeekdayCheckBoxTogglesOnlyItsOwnFourControls) {
  ui().TabSheet3->setEnabled(true);
  ui().GroupBox8->setEnabled(true);
  const auto days = Days();
  for (const auto& day : days) day[0]->setEnabled(true);

  auto* wednesday = static_cast<QCheckBox*>(days[2][0]);
  for (const bool on : {true, false}) {
    wednesday->click();
    for (std::size_t d = 0; d < days.size(); ++d)
      for (std::size_t c = 1; c < days[d].size(); ++c)
        EXPECT_EQ(days[d][c]->isEnabled(), on && d == 2) << days[d][c]->objectName().toStdString();
    const QColor colour = on ? SystemWindowColor() : SystemScrollBarColor();
    EXPECT_EQ(EditColor(ui().WednesdayHour), colour);
    EXPECT_EQ(EditColor(ui().WednesdayMin), colour);
  }
}

}  // namespace
