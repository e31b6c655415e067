// SPDX-License-Identifier: GPL-3.0-or-later
// Front-panel texts and fan modes through the window, down to the packets.

#include "WindowFixture.h"
#include "config/SettingsKey.h"
#include "widgets/Palette.h"

#include <QComboBox>
#include <QLineEdit>
#include <QSlider>
#include <QTest>

#include <algorithm>

namespace {

class DisplayAndFansTest : public WindowFixture {
 protected:
  void SetUp() override {
    WindowFixture::SetUp();
    // Writes are acknowledged without data, so the blocks keep what the window put into them.
    AnswerAsTheUnit(true);
    Start();
    fakes.link.requests.clear();
  }
  static std::string Line(const Bytes& r) { return std::string(r.begin() + 3, r.begin() + 19); }
  static int Word(const Bytes& r, int offset) { return r[3 + offset] | (r[4 + offset] << 8); }
  SettingsKey Saved() const { return SettingsKey(fakes.settingsPath(), SettingsKey::Open::Existing); }
};

TEST_F(DisplayAndFansTest, LineOneAlternatesAndKeepsTypedTexts) {
  ui().PrimaryTextComboBox->setEditText("Hello");
  ui().SecondaryTextComboBox->setEditText("World");
  std::vector<std::string> lines;
  for (int tick = 0; tick < 3; ++tick) form->Panel().DisplayIntervalTimerTimer();
  for (const Bytes& r : fakes.link.RequestsNumbered(0x06)) lines.push_back(Line(r));
  EXPECT_EQ(lines, (std::vector<std::string>{"Hello           ", "World           ", "Hello           "}));
  EXPECT_EQ(Saved().ReadString("DisplayLine1P"), "Hello");
  EXPECT_EQ(Saved().ReadString("DisplayLine1S"), "World");

  // A text typed between two ticks is in the file after the next.
  ui().SecondaryTextComboBox->setEditText("There");
  form->Panel().DisplayIntervalTimerTimer();
  EXPECT_EQ(Saved().ReadString("DisplayLine1S"), "There");
}

TEST_F(DisplayAndFansTest, APrimaryTextChoiceReachesTheUnitAtTheNextTick) {
  ui().PrimaryTextComboBox->setCurrentIndex(3);  // "Super Cooled"
  EXPECT_TRUE(form->Settings().Pending[PendingLine1Text]);
  form->Settings().WriteChangesTimerTimer();
  const auto sent = fakes.link.RequestsNumbered(0x06);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(Line(sent[0]), "Super Cooled    ");

  // Typing stops at sixteen characters.
  ui().PrimaryTextComboBox->lineEdit()->clear();
  QTest::keyClicks(ui().PrimaryTextComboBox->lineEdit(), "ABCDEFGHIJKLMNOPQ");
  EXPECT_EQ(ui().PrimaryTextComboBox->currentText(), "ABCDEFGHIJKLMNOP");
}

// The last close blanked line 1; with "Never" nothing else would fill it.
TEST_F(DisplayAndFansTest, WithNeverStoredThePrimaryTextGoesOutOnceAtStartAfterTheFans) {
  for (const auto& [interval, line1Sent] : {std::pair{7, true}, {0, false}}) {
    {
      SettingsKey key(fakes.settingsPath(), SettingsKey::Open::CreateIfMissing);
      key.WriteInteger("Display Update Interval", interval);
      key.WriteString("DisplayLine1P", "Cold and quiet");
    }
    fakes.link.requests.clear();
    Start();
    const auto sent = fakes.link.RequestsNumbered(0x06);
    const auto writes = std::count_if(sent.begin(), sent.end(), [](const Bytes& r) { return r.size() == 28; });
    EXPECT_EQ(writes, line1Sent ? 1 : 0) << interval;
    if (line1Sent) {
      EXPECT_EQ(Line(fakes.link.requests.back()), "Cold and quiet  ");
      EXPECT_EQ(fakes.link.requests.rbegin()[1][1], 0x03);  // the fans just before
    }
  }
}

TEST_F(DisplayAndFansTest, NeverStopsTheAlternationForTheRestOfTheRun) {
  ui().DispLine1Int->setCurrentIndex(7);
  EXPECT_FALSE(form->Panel().DisplayIntervalTimer.isActive());
  ui().DispLine1Int->setCurrentIndex(2);  // "30 Sec"
  EXPECT_FALSE(form->Panel().DisplayIntervalTimer.isActive());
  EXPECT_EQ(form->Panel().DisplayIntervalTimer.interval(), 30000);
  EXPECT_EQ(Saved().ReadInteger("Display Update Interval"), 2);
}

TEST_F(DisplayAndFansTest, LineTwoFollowsTheParametersAndGoesOutBeforeEveryStatusRequest) {
  *form->CpuSpeedMHz() = 2400;
  *form->CpuLoadPercent() = 7;
  SensorTable[1].Temperature = -35;
  Device.Settings.Bytes[3] = 'E';
  form->Watcher().UpdateDataTimerTimer();
  ASSERT_EQ(fakes.link.requests.size(), 2u);
  EXPECT_EQ(fakes.link.requests[0][1], 0x07);
  EXPECT_EQ(Line(fakes.link.requests[0]), std::string("2400MHz 7% -35\xDF "));
  EXPECT_EQ(fakes.link.requests[1], (Bytes{0x01, 0x01, 0x04}));
  EXPECT_TRUE(form->Queue()->IsEmpty());

  fakes.link.requests.clear();
  SensorTable[1].Temperature = -35;
  ui().DispParam1->setCurrentIndex(7);
  EXPECT_TRUE(form->Settings().Pending[PendingDisplayParams]);
  ASSERT_EQ(fakes.link.RequestsNumbered(0x07).size(), 1u);  // sent at once
  EXPECT_EQ(Line(fakes.link.requests[0]), std::string("     7% -35\xDF    "));
}

TEST_F(DisplayAndFansTest, FanPresetsReachTheUnitTogetherAtTheNextTick) {
  ui().FrontFanModeComboBox->setCurrentIndex(1);  // "Low noise"
  ui().RearFanModeComboBox->setCurrentIndex(2);   // "Turbo"
  EXPECT_TRUE(fakes.link.requests.empty());
  form->Settings().WriteChangesTimerTimer();
  const auto sent = fakes.link.RequestsNumbered(0x03);
  ASSERT_EQ(sent.size(), 1u);
  for (const auto& [offset, rpm] : {std::pair{0, 2100}, {2, 750}, {4, 750}, {16, 2100}, {18, 2100}})
    EXPECT_EQ(Word(sent[0], offset), rpm) << offset;
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
  form->Settings().WriteChangesTimerTimer();
  EXPECT_TRUE(fakes.link.RequestsNumbered(0x03).empty());

  ui().RearFanManual->setValue(1800);
  form->Settings().WriteChangesTimerTimer();
  auto sent = fakes.link.RequestsNumbered(0x03);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(Word(sent[0], 16), 1800);
  EXPECT_EQ(Word(sent[0], 18), 1800);
  EXPECT_EQ(Word(sent[0], 2), 1100);  // the front fan keeps its pair

  ui().RearFanModeComboBox->setCurrentIndex(0);  // back to a preset
  EXPECT_FALSE(ui().RearFanManual->isEnabled());
  form->Settings().WriteChangesTimerTimer();
  sent = fakes.link.RequestsNumbered(0x03);
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(Word(sent[1], 16), 1100);
  EXPECT_EQ(Word(sent[1], 18), 1400);
}

}  // namespace
