// The dormant "RTC" tab: never offered, but its weekday rows work when shown.

#include "app/TForm1.h"
#include "monitor/DeviceData.h"
#include "support/FakeServices.h"
#include "ui_TForm1.h"
#include "widgets/Palette.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>

#include <gtest/gtest.h>

namespace {

class WeeklyScheduleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetDeviceData();
    form = std::make_unique<TForm1>(fakes.services());
    form->show();
  }
  void TearDown() override { form.reset(); }
  Ui::TForm1& ui() { return form->ui(); }

  std::vector<QWidget*> DayControls(int day) {
    Ui::TForm1& u = ui();
    switch (day) {
      case 1: return {u.Monday, u.MondayHour, u.MondayMin, u.MondayTime};
      case 2: return {u.Tuesday, u.TuesdayHour, u.TuesdayMin, u.TuesdayTime};
      case 3: return {u.Wednesday, u.WednesdayHour, u.WednesdayMin, u.WednesdayTime};
      case 4: return {u.Thursday, u.ThursdayHour, u.ThursdayMin, u.ThursdayTime};
      default: return {u.Friday, u.FridayHour, u.FridayMin, u.FridayTime};
    }
  }

  FakeServices fakes;
  std::unique_ptr<TForm1> form;
};

TEST_F(WeeklyScheduleTest, TheRtcTabIsNotAmongTheVisibleTabs) {
  QTabWidget* pages = ui().PageControl1;
  QStringList visible;
  for (int i = 0; i < pages->count(); ++i)
    if (pages->isTabVisible(i)) visible << pages->tabText(i);
  EXPECT_EQ(visible, (QStringList{"System", "Setup", "Display", "Misc."}));
}

TEST_F(WeeklyScheduleTest, AWeekdayCheckBoxTogglesOnlyItsOwnFourControls) {
  ui().TabSheet3->setEnabled(true);
  ui().GroupBox8->setEnabled(true);
  QCheckBox* boxes[] = {ui().MondayCheckBox, ui().TuesdayCheckBox, ui().WednesdayCheckBox,
                        ui().ThursdayCheckBox, ui().FridayCheckBox};
  for (QCheckBox* b : boxes) b->setEnabled(true);

  boxes[2]->click();  // Wednesday
  for (int day = 1; day <= 5; ++day) {
    for (QWidget* w : DayControls(day)) EXPECT_EQ(w->isEnabled(), day == 3) << w->objectName().toStdString();
  }
  EXPECT_EQ(EditColor(ui().WednesdayHour), SystemWindowColor);
  EXPECT_EQ(EditColor(ui().WednesdayMin), SystemWindowColor);

  boxes[2]->click();
  for (QWidget* w : DayControls(3)) EXPECT_FALSE(w->isEnabled()) << w->objectName().toStdString();
  EXPECT_EQ(EditColor(ui().WednesdayHour), SystemScrollBarColor);
  EXPECT_EQ(EditColor(ui().WednesdayMin), SystemScrollBarColor);
}

}  // namespace
