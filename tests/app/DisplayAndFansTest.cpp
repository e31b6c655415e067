// Front-panel texts and fan modes through the window, down to the packets.

#include "app/TForm1.h"
#include "config/SettingsKey.h"
#include "monitor/DeviceData.h"
#include "support/FakeServices.h"
#include "ui_TForm1.h"
#include "widgets/Palette.h"

#include <QComboBox>
#include <QLineEdit>
#include <QSlider>
#include <QTest>

#include <gtest/gtest.h>

namespace {

class DisplayAndFansTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetDeviceData();
    // Writes are acknowledged without data, so the blocks keep what the
    // window put into them.
    fakes.link.respond = [](const Bytes& req) {
      if (req.size() == 28) return FakeLink::Answer{3, Bytes{0x01, req[1], 0x04}};
      return FakeLink::Answer{28, MakeReplyFrame(req[1])};
    };
    form = std::make_unique<TForm1>(fakes.services());
    form->show();
    fakes.link.requests.clear();
  }
  Ui::TForm1& ui() { return form->ui(); }
  static std::string Line(const Bytes& r) { return std::string(r.begin() + 3, r.begin() + 19); }
  static int Word(const Bytes& r, int offset) { return r[3 + offset] | (r[4 + offset] << 8); }

  FakeServices fakes;
  std::unique_ptr<TForm1> form;
};

TEST_F(DisplayAndFansTest, LineOneAlternatesAndKeepsTypedTexts) {
  ui().PrimaryTextComboBox->setEditText("Hello");
  ui().SecondaryTextComboBox->setEditText("World");
  form->DisplayIntervalTimerTimer();
  form->DisplayIntervalTimerTimer();
  form->DisplayIntervalTimerTimer();
  const auto sent = fakes.link.RequestsNumbered(0x06);
  ASSERT_EQ(sent.size(), 3u);
  EXPECT_EQ(Line(sent[0]), "Hello           ");
  EXPECT_EQ(Line(sent[1]), "World           ");
  EXPECT_EQ(Line(sent[2]), "Hello           ");
  const SettingsKey key(fakes.settingsPath(), SettingsKey::Open::Existing);
  EXPECT_EQ(key.ReadString("DisplayLine1P"), "Hello");
  EXPECT_EQ(key.ReadString("DisplayLine1S"), "World");
}

TEST_F(DisplayAndFansTest, APrimaryTextChoiceReachesTheUnitAtTheNextTick) {
  ui().PrimaryTextComboBox->setCurrentIndex(3);  // "Super Cooled"
  EXPECT_TRUE(form->PendingLine1Text);
  form->WriteChangesTimerTimer();
  const auto sent = fakes.link.RequestsNumbered(0x06);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(Line(sent[0]), "Super Cooled    ");

  // Typing stops at sixteen characters.
  ui().PrimaryTextComboBox->lineEdit()->clear();
  QTest::keyClicks(ui().PrimaryTextComboBox->lineEdit(), "ABCDEFGHIJKLMNOPQ");
  EXPECT_EQ(ui().PrimaryTextComboBox->currentText(), "ABCDEFGHIJKLMNOP");
}

TEST_F(DisplayAndFansTest, NeverStopsTheAlternationForTheRestOfTheRun) {
  ui().DispLine1Int->setCurrentIndex(7);
  EXPECT_FALSE(form->DisplayIntervalTimer.isActive());
  ui().DispLine1Int->setCurrentIndex(2);  // "30 Sec"
  EXPECT_FALSE(form->DisplayIntervalTimer.isActive());
  EXPECT_EQ(form->DisplayIntervalTimer.interval(), 30000);
  const SettingsKey key(fakes.settingsPath(), SettingsKey::Open::Existing);
  EXPECT_EQ(key.ReadInteger("Display Update Interval"), 2);
}

TEST_F(DisplayAndFansTest, LineTwoFollowsTheParametersAndGoesOutBeforeEveryStatusRequest) {
  *form->CpuSpeedMHz = 2400;
  *form->CpuLoadPercent = 7;
  SensorTable[1].Temperature = -35;
  Device.Settings.Bytes[3] = 'E';
  form->UpdateDataTimerTimer();
  ASSERT_EQ(fakes.link.requests.size(), 2u);
  EXPECT_EQ(Line(fakes.link.requests[0]), std::string("2400MHz 7% -35\xDF "));

  fakes.link.requests.clear();
  SensorTable[1].Temperature = -35;
  ui().DispParam1->setCurrentIndex(7);
  EXPECT_TRUE(form->PendingDisplayParams);
  ASSERT_EQ(fakes.link.RequestsNumbered(0x07).size(), 1u);  // sent at once
  EXPECT_EQ(Line(fakes.link.requests[0]), std::string("     7% -35\xDF    "));
}

TEST_F(DisplayAndFansTest, FanPresetsReachTheUnitTogetherAtTheNextTick) {
  ui().FrontFanModeComboBox->setCurrentIndex(1);  // "Low noise"
  ui().RearFanModeComboBox->setCurrentIndex(2);   // "Turbo"
  EXPECT_TRUE(fakes.link.requests.empty());
  form->WriteChangesTimerTimer();
  const auto sent = fakes.link.RequestsNumbered(0x03);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(Word(sent[0], 0), 2100);
  EXPECT_EQ(Word(sent[0], 2), 750);
  EXPECT_EQ(Word(sent[0], 4), 750);
  EXPECT_EQ(Word(sent[0], 16), 2100);
  EXPECT_EQ(Word(sent[0], 18), 2100);
  EXPECT_EQ(ui().FrontFanManual->value(), 750);
  EXPECT_FALSE(ui().FrontFanManual->isEnabled());
  EXPECT_FALSE(ui().ManualLabel->isEnabled());
  EXPECT_FALSE(ui().FanMinLabel->isEnabled());

  ui().FrontFanModeComboBox->setCurrentIndex(0);  // "Normal": bar shows the midpoint
  EXPECT_EQ(ui().FrontFanManual->value(), 1250);
  EXPECT_FALSE(SliderThumbVisible(ui().FrontFanManual));
}

TEST_F(DisplayAndFansTest, ManualSpeedIsSentOnlyOnceTheBarMoves) {
  ui().RearFanModeComboBox->setCurrentIndex(3);  // "Manual"
  EXPECT_TRUE(ui().RearFanManual->isEnabled());
  EXPECT_TRUE(SliderThumbVisible(ui().RearFanManual));
  EXPECT_TRUE(ui().ManualLabel->isEnabled());
  EXPECT_TRUE(ui().FanMaxLabel->isEnabled());
  form->WriteChangesTimerTimer();
  EXPECT_TRUE(fakes.link.RequestsNumbered(0x03).empty());

  ui().RearFanManual->setValue(1800);
  form->WriteChangesTimerTimer();
  auto sent = fakes.link.RequestsNumbered(0x03);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(Word(sent[0], 16), 1800);
  EXPECT_EQ(Word(sent[0], 18), 1800);
  EXPECT_EQ(Word(sent[0], 2), 1100);  // the front fan keeps its pair

  ui().RearFanModeComboBox->setCurrentIndex(0);  // back to a preset
  EXPECT_FALSE(ui().RearFanManual->isEnabled());
  form->WriteChangesTimerTimer();
  sent = fakes.link.RequestsNumbered(0x03);
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(Word(sent[1], 16), 1100);
  EXPECT_EQ(Word(sent[1], 18), 1400);
}

}  // namespace
