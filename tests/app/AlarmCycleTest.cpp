// SPDX-License-Identifier: GPL-3.0-or-later
// Warnings, alarm actions and the emergency shutdown, driven by status replies.

#include "WindowFixture.h"
#include "app/DesktopServices.h"
#include "app/Features.h"
#include "config/SettingsKey.h"
#include "host/TrayHint.h"
#include "monitor/Alarms.h"
#include "status/MetricsFile.h"
#include "widgets/Palette.h"
#include "widgets/TTrayIcon.h"

#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QElapsedTimer>
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
  QString Status() { return ui().SystemStatPanel->text(); }
  QColor StatusColour() { return TextColor(ui().SystemStatPanel); }
  // Records in a log, less its head and space line.
  static int RecordLines(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll().count("\r\n") - 2 : 0;
  }
};

TEST_F(AlarmCycleTest, AllNormalGivesNoAction) {
  Poll();
  EXPECT_EQ(Status(), "Normal");
  EXPECT_EQ(ui().TempStat1->text(), "Normal");
  EXPECT_EQ(TextColor(ui().TempStat3), StatusGreen);
  EXPECT_TRUE(fakes.sound.played.isEmpty());
  EXPECT_FALSE(form->Alarm().ShutDownTimer.isActive());
  EXPECT_TRUE(TrayHintOverride.Get().isEmpty());
}

TEST_F(AlarmCycleTest, AnOrangeFaultCodeRaisesTheAlarmAtEveryReplyButNoShutdown) {
  reading.state = 81;
  Poll();
  Poll();
  EXPECT_EQ(Status(), "RESTART DELAY");
  EXPECT_EQ(StatusColour(), StatusOrange);
  EXPECT_EQ(fakes.sound.played.size(), 2);
  EXPECT_TRUE(fakes.sound.played.front().endsWith("/Alarm.wav"));
  EXPECT_FALSE(form->Alarm().ShutDownTimer.isActive());
  EXPECT_EQ(TrayHintOverride.Get(), "RESTART DELAY");

  reading.state = 3;
  Poll();
  EXPECT_TRUE(TrayHintOverride.Get().isEmpty());
}

TEST_F(AlarmCycleTest, ASensorAlarmUnderAGreenStateArmsTheShutdownWithoutTheAction) {
  reading.tenths[3] = -10;  // sensor 4, "Lower" with shut-down limit 0
  Poll();
  EXPECT_EQ(Status(), "ALARM");
  EXPECT_EQ(StatusColour(), StatusRed);
  EXPECT_EQ(ui().TempStat4->text(), "ALARM");
  EXPECT_TRUE(fakes.sound.played.isEmpty());
  EXPECT_TRUE(form->Alarm().ShutDownTimer.isActive());
  EXPECT_TRUE(form->Alarm().BlinkTimer.isActive());
  EXPECT_FALSE(form->Panel().DisplayIntervalTimer.isActive());
  EXPECT_EQ(ui().PrimaryTextComboBox->currentText(), kCriticalText);
  EXPECT_TRUE(form->Settings().Pending[PendingLine1Text]);
  EXPECT_EQ(Drain(), (QStringList{kCriticalText, kCriticalText, kCancelShutdownText}));

  // The front panel gets its first sixteen characters at the next tick.
  fakes.link.requests.clear();
  form->Settings().WriteChangesTimerTimer();
  const auto line1 = fakes.link.RequestsNumbered(0x06);
  ASSERT_EQ(line1.size(), 1u);
  EXPECT_EQ(std::string(line1[0].begin() + 3, line1[0].begin() + 19), "TEMPERATURE CRIT");

  // A reply without the alarm cancels the armed shutdown; the front panel goes
  // back to the user's text and alternation, and the status bar stops
  // announcing the shutdown.
  form->Alarm().BlinkTimerTimer();
  form->Queue()->Append("Log Cleared");
  reading.tenths[3] = 200;
  Poll();
  EXPECT_FALSE(form->Alarm().ShutDownTimer.isActive());
  EXPECT_FALSE(form->Alarm().BlinkTimer.isActive());
  EXPECT_EQ(Status(), "Normal");
  EXPECT_EQ(ui().PrimaryTextComboBox->currentText(), "Speed Load Temp");
  EXPECT_TRUE(form->Settings().Pending[PendingLine1Text]);
  EXPECT_TRUE(form->Panel().DisplayIntervalTimer.isActive());
  EXPECT_EQ(Drain(), QStringList{"Log Cleared"});
}

TEST_F(AlarmCycleTest, ACancelledShutdownLeavesAStoppedAlternationStopped) {
  ui().DispLine1Int->setCurrentIndex(7);  // "Never"
  ui().PrimaryTextComboBox->setEditText("Frosty");
  reading.state = 85;
  Poll();
  ASSERT_TRUE(form->Alarm().ShutDownTimer.isActive());
  reading.state = 3;
  Poll();
  EXPECT_EQ(ui().PrimaryTextComboBox->currentText(), "Frosty");
  EXPECT_FALSE(form->Panel().DisplayIntervalTimer.isActive());
}

TEST_F(AlarmCycleTest, ARedFaultCodeGetsBothTheActionAndTheShutdown) {
  reading.state = 83;
  Poll();
  EXPECT_EQ(Status(), "SENSOR FAILED");
  EXPECT_EQ(fakes.sound.played.size(), 1);
  EXPECT_TRUE(form->Alarm().ShutDownTimer.isActive());
  // Later replies while armed do not arm it again.
  Drain();
  Poll();
  EXPECT_EQ(Drain(), QStringList{"SENSOR FAILED"});
}

TEST_F(AlarmCycleTest, AnEarlierWarningKeepsTheStatusOrangeOverALaterAlarm) {
  reading.tenths[1] = 50;   // sensor 2 at its warning limit
  reading.tenths[2] = -20;  // sensor 3 past its shut-down limit
  Poll();
  EXPECT_EQ(Status(), "Warning");
  EXPECT_EQ(StatusColour(), StatusOrange);
  EXPECT_EQ(ui().TempStat3->text(), "ALARM");
  EXPECT_EQ(fakes.sound.played.size(), 1);
  EXPECT_FALSE(form->Alarm().ShutDownTimer.isActive());
  const QStringList queued = Drain();
  EXPECT_TRUE(queued.contains("Temperature warning on Ambient"));
  EXPECT_TRUE(queued.contains(kCriticalText));
}

TEST_F(AlarmCycleTest, AGreenUnitStateIsReplacedOnlyByTheEvaporator) {
  reading.state = 0;       // POWER UP
  reading.tenths[1] = 50;  // sensor 2 warning
  Poll();
  EXPECT_EQ(Status(), "POWER UP");
  EXPECT_EQ(StatusColour(), StatusGreen);
  EXPECT_EQ(ui().TempStat2->text(), "Warning");
  EXPECT_TRUE(Drain().contains("Temperature warning on Ambient"));

  reading.tenths[0] = -100;  // the evaporator at its warning limit
  Poll();
  EXPECT_EQ(Status(), "Warning");
  EXPECT_EQ(StatusColour(), StatusOrange);
}

TEST_F(AlarmCycleTest, AnOptionalSensorKeepsItsLastLevel) {
  reading.tenths[2] = -20;
  Poll();
  ASSERT_EQ(SensorTable[3].Level, 2);
  ui().SetupSensorComboBox3->setCurrentIndex(0);  // "Optional"
  form->Alarm().ShutDownTimer.stop();
  reading.tenths[2] = 200;
  Poll();
  EXPECT_EQ(SensorTable[3].Level, 2);
  EXPECT_TRUE(ui().TempStat3->isHidden());
  EXPECT_EQ(Status(), "ALARM");
  EXPECT_TRUE(Drain().contains(kCriticalText));
  EXPECT_TRUE(form->Alarm().ShutDownTimer.isActive());
}

TEST_F(AlarmCycleTest, EveryAlarmReplyAndEveryArmedShutdownLeaveAnErrorLogRecord) {
  const QString errorLog = fakes.logPath("Error.log");
  reading.state = 82;
  ui().WarningHandlingComboBox->setCurrentIndex(3);  // "Ignore" still logs
  Poll();
  Poll();
  EXPECT_EQ(RecordLines(errorLog), 2);
  reading.state = 3;
  reading.tenths[0] = 50;  // evaporator past its shut-down limit: armed, no action
  Poll();
  EXPECT_EQ(RecordLines(errorLog), 3);
  Poll();  // armed already: nothing new
  EXPECT_EQ(RecordLines(errorLog), 3);
}

TEST_F(AlarmCycleTest, TheChosenActionRuns) {
  reading.state = 82;
  ui().WarningHandlingComboBox->setCurrentIndex(1);  // blinking tray icon
  Poll();
  EXPECT_TRUE(form->TrayIcon1()->Animate());
  reading.state = 3;  // the next reply without a warning stops it
  Poll();
  EXPECT_FALSE(form->TrayIcon1()->Animate());

  reading.state = 82;
  ui().WarningHandlingComboBox->setCurrentIndex(3);  // ignore
  Poll();
  EXPECT_TRUE(fakes.sound.played.isEmpty());
  EXPECT_FALSE(form->TrayIcon1()->Animate());
  ui().WarningHandlingComboBox->setCurrentIndex(2);  // open the control centre
  form->showMinimized();
  Poll();
  EXPECT_FALSE(form->isMinimized());
  const SettingsKey key(fakes.settingsPath(), SettingsKey::Open::Existing);
  EXPECT_EQ(key.ReadInteger("Warning handling Index"), 2);
}

TEST_F(AlarmCycleTest, BlinkingAlternatesTheColourAndRepeatsTextsAndSound) {
  form->Model().status.colour = PanelColour::Red;
  // Two texts and the sound while at most four texts wait; the colour always.
  const struct {
    QColor colour;
    std::size_t queued;
    qsizetype sounds;
  } ticks[] = {{BlinkSilver, 2, 1}, {StatusRed, 4, 2}, {BlinkSilver, 6, 3}, {StatusRed, 6, 3}};
  for (const auto& t : ticks) {
    form->Alarm().BlinkTimerTimer();
    EXPECT_EQ(StatusColour(), t.colour) << t.queued;
    EXPECT_EQ(form->Queue()->Count(), t.queued);
    EXPECT_EQ(fakes.sound.played.size(), t.sounds) << t.queued;
  }
}

TEST_F(AlarmCycleTest, TheShutdownResetsAndDeletesTheSettingsAndTellsTheUnit) {
  ui().Sensor1Alm->setValue(-20);
  form->Settings().WriteChangesTimerTimer();
  ASSERT_TRUE(QFile::exists(fakes.settingsPath()));
  fakes.link.requests.clear();
  fakes.clock.pauses.clear();

  form->Alarm().ShutDownTimerTimer();
  EXPECT_EQ(ui().Sensor1Alm->value(), -10);
  EXPECT_FALSE(QFile::exists(fakes.settingsPath()));
  EXPECT_EQ(fakes.powerOff.requests, 1);
  EXPECT_EQ(fakes.clock.pauses, std::vector<int>{10000});
  ASSERT_FALSE(fakes.link.requests.empty());
  EXPECT_EQ(fakes.link.requests.back(), (Bytes{0x01, 0x85, 0x04}));
  EXPECT_TRUE(Drain().contains(kShuttingDownText));
  EXPECT_TRUE(form->Settings().Pending[PendingFanBlock]);
}

TEST_F(AlarmCycleTest, ClosingTheProgramWhileArmedNeverAsksForPowerOff) {
  reading.state = 85;
  Poll();
  ASSERT_TRUE(form->Alarm().ShutDownTimer.isActive());
  form->close();
  form->Alarm().ShutDownTimerTimer();  // a tick still due as the program ends
  EXPECT_EQ(fakes.powerOff.requests, 0);
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
