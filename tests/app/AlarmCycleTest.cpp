// SPDX-License-Identifier: GPL-3.0-or-later
// What the window makes of warnings, alarm actions and the emergency shutdown:
// the front panel's line 1 and the settings it writes, the window raised, the
// metrics file, and the logs on a full folder.

#include "WindowFixture.h"
#include "app/DesktopServices.h"
#include "app/Features.h"
#include "app/ShutdownCountdown.h"
#include "config/SettingsKey.h"
#include "monitor/Alarms.h"
#include "status/MetricsFile.h"
#include "widgets/Palette.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QSpinBox>
#include <QTest>

#include <sys/resource.h>

#include <csignal>
#include <cstdio>

namespace {

class AlarmCycleTest : public WindowFixture {
 protected:
  void SetUp() override {
    WindowFixture::SetUp();
    reading.tenths = {-350, 240, 200, 200, 200};
    AnswerAsTheUnit(true);
    Start();
    // Sensors 2..5 fitted, all "Lower" with limits 5 / 0 (the defaults).
    const char* names[] = {"Ambient", "Compressor", "Harddisk", "Graphic Processor"};
    QComboBox* boxes[] = {ui().SetupSensorComboBox2, ui().SetupSensorComboBox3,
                          ui().SetupSensorComboBox4, ui().SetupSensorComboBox5};
    for (int i = 0; i < 4; ++i) boxes[i]->setEditText(names[i]);
    ui().WarningHandlingComboBox->setCurrentIndex(0);  // alarm sound
    Drain();
  }
};

TEST_F(AlarmCycleTest, AnArmedShutdownsTextReachesTheFrontPanelAtTheNextWriteTick) {
  reading.tenths[3] = -10;  // sensor 4, "Lower" with shut-down limit 0
  Poll();
  ASSERT_TRUE(form->Alarm().ShutDownTimer.isActive());
  // The panels draw what the watch decided.
  EXPECT_EQ(ui().SystemStatPanel->text(), "ALARM");
  EXPECT_EQ(TextColor(ui().SystemStatPanel), StatusRed);
  EXPECT_EQ(ui().TempStat4->text(), "ALARM");
  EXPECT_EQ(TextColor(ui().TempStat3), StatusGreen);
  EXPECT_EQ(ui().PrimaryTextComboBox->currentText(), kCriticalText);
  EXPECT_TRUE(form->Settings().Pending[PendingLine1Text]);

  // The front panel gets its first sixteen characters at the next tick.
  fakes.link.requests.clear();
  form->Settings().WriteChangesTimerTimer();
  const auto line1 = fakes.link.RequestsNumbered(0x06);
  ASSERT_EQ(line1.size(), 1u);
  EXPECT_EQ(std::string(line1[0].begin() + 3, line1[0].begin() + 19), "TEMPERATURE CRIT");
}

TEST_F(AlarmCycleTest, OpeningTheWindowAsTheActionIsSavedAndBringsAMinimisedWindowBack) {
  reading.state = 82;
  ui().WarningHandlingComboBox->setCurrentIndex(2);  // open the control centre
  form->showMinimized();
  Poll();
  EXPECT_EQ(TextColor(ui().SystemStatPanel), StatusOrange);
  EXPECT_FALSE(form->isMinimized());
  const SettingsKey key(fakes.settingsPath(), SettingsKey::Open::Existing);
  EXPECT_EQ(key.ReadInteger("Warning handling Index"), 2);
}

TEST_F(AlarmCycleTest, TheShutdownPutsTheWindowsSettingsBackToTheirDefaults) {
  ui().Sensor1Alm->setValue(-20);
  form->Settings().WriteChangesTimerTimer();
  ASSERT_TRUE(QFile::exists(fakes.settingsPath()));

  form->Alarm().ShutDownTimerTimer();
  EXPECT_EQ(ui().Sensor1Alm->value(), -10);
  EXPECT_FALSE(QFile::exists(fakes.settingsPath()));
  EXPECT_TRUE(form->Settings().Pending[PendingFanBlock]);
}

TEST_F(AlarmCycleTest, AMetricsFileThatCannotBeWrittenIsSaidInTheStatusBarAndHoldsNothingUp) {
  CommandLine line;
  line.metricsFile = fakes.logDir.path() + "/missing/vornalith.prom";
  Features features(*form, line);
  reading.tenths[0] = 50;  // the evaporator at 5 degrees, past its shut-down limit
  Poll();
  EXPECT_TRUE(form->Alarm().ShutDownTimer.isActive());
  Poll();
  EXPECT_TRUE(fakes.boxes.shown.isEmpty()) << fakes.boxes.shown.join('|').toStdString();
  const QStringList said = QueueTexts().filter("Metrics file not written: ");
  ASSERT_EQ(said.size(), 1);
  EXPECT_TRUE(said[0].startsWith(kMetricsNotWrittenText.arg(line.metricsFile + ": ")));
}

TEST_F(AlarmCycleTest, AnArmedShutdownCountsDownAboveTheReadingsTillItIsCancelled) {
  Features features(*form, CommandLine{});
  auto* countdown = features.findChild<ShutdownCountdown*>();
  ASSERT_NE(countdown, nullptr);
  QLabel* line = ui().LinkLostLabel;
  reading.tenths[3] = -10;  // sensor 4 past its shut-down limit
  Poll();
  ASSERT_TRUE(form->Alarm().ShutDownTimer.isActive());
  EXPECT_TRUE(line->isVisibleTo(form.get()));
  EXPECT_EQ(line->text(), "Emergency power-off in 3:00 - close the control centre to cancel");
  fakes.clock.now = fakes.clock.now.addMSecs(61500);
  countdown->Tick();
  EXPECT_EQ(line->text(), ShutdownCountdown::Text(119));
  // Replies while armed leave the count where the clock has it.
  Poll();
  EXPECT_EQ(line->text(), ShutdownCountdown::Text(119));
  // A lost link does not take the line from the power-off that still runs.
  emit form->linkStateChanged(false);
  fakes.clock.now = fakes.clock.now.addSecs(200);
  countdown->Tick();
  EXPECT_EQ(line->text(), "Emergency power-off in 0:00 - close the control centre to cancel");
  emit form->linkStateChanged(true);
  reading.tenths[3] = 200;
  Poll();
  ASSERT_FALSE(form->Alarm().ShutDownTimer.isActive());
  EXPECT_FALSE(line->isVisibleTo(form.get()));
}

// The state folder full: the logs cannot grow (a file-size limit at their
// size, with SIGXFSZ ignored, fails each write as a full disk does). The
// boxes are the real ones, and the poll runs on its own timer.
class FullStateFolder : public WindowFixture {
 protected:
  static constexpr rlim_t kLimit = 64 * 1024;
  void SetUp() override {
    WindowFixture::SetUp();
    for (const char* name : {"Operatation.log", "Error.log"}) {
      QFile log(fakes.logPath(name));
      ASSERT_TRUE(log.open(QIODevice::WriteOnly) && log.write(QByteArray(kLimit - 1, 'x') + '\n') == kLimit);
    }
    std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved_), 0);
    rlimit full = saved_;
    full.rlim_cur = kLimit;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &full), 0);
    reading.tenths = {-350, 240, 200, 200, 200};
    AnswerAsTheUnit(true);
  }
  void TearDown() override {
    form.reset();
    setrlimit(RLIMIT_FSIZE, &saved_);
    std::signal(SIGXFSZ, SIG_DFL);
    WindowFixture::TearDown();
  }
  rlimit saved_{};
  QtMessageBoxes boxes;
};

TEST_F(FullStateFolder, TheWindowComesUpPollsAndArmsTheShutdownWhileTheBoxesStand) {
  Services services = fakes.services();
  services.boxes = &boxes;
  StartWith(services);
  // The start went on past its operation-log snapshot, which could not be written.
  ASSERT_EQ(boxes.ReportsOnScreen(), 1);
  EXPECT_TRUE(form->isVisible());
  ASSERT_TRUE(form->Watcher().UpdateDataTimer.isActive());

  form->Watcher().UpdateDataTimer.setInterval(20);
  reading.state = 80;  // POWER FAILURE: red, alarm action and shutdown
  QElapsedTimer sinceRed;
  sinceRed.start();
  ASSERT_TRUE(QTest::qWaitFor([&] { return form->Alarm().ShutDownTimer.isActive(); }, 2000));
  std::printf("armed %lld ms after the red reading was offered\n", static_cast<long long>(sinceRed.elapsed()));
  const std::size_t polls = fakes.link.RequestsNumbered(packet::kStatus).size();
  QTest::qWait(400);
  EXPECT_GT(fakes.link.RequestsNumbered(packet::kStatus).size(), polls + 5) << "the poll stopped under a box";
  // One box for the operation log and one for the error log's snapshot at
  // every red reply, not one a poll.
  EXPECT_EQ(boxes.ReportsOnScreen(), 2);

  EXPECT_EQ(form->Alarm().ShutDownTimer.interval(), 180000);
  EXPECT_GT(form->Alarm().ShutDownTimer.remainingTime(), 179000);
  form->Alarm().ShutDownTimerTimer();  // 180 s on
  EXPECT_EQ(fakes.powerOff.requests, 1);
  EXPECT_EQ(fakes.link.requests.back(), (Bytes{0x01, 0x85, 0x04}));
}

}  // namespace
