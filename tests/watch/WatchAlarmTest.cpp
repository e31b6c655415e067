// SPDX-License-Identifier: GPL-3.0-or-later
// Warnings, alarm actions and the emergency shutdown, driven by status
// replies to the watch without a window.

#include "support/WatchFixture.h"

#include "config/SettingsKey.h"
#include "host/TrayHint.h"
#include "monitor/Alarms.h"

#include <QFile>

namespace {

class WatchAlarmTest : public WatchFixture {
 protected:
  void SetUp() override {
    WatchFixture::SetUp();
    reading.tenths = {-350, 240, 200, 200, 200};
    AnswerAsTheUnit();
    // Sensors 2..5 fitted, all "Lower" with limits 5 / 0 (the defaults).
    UseDefaultSensors({"Ambient", "Compressor", "Harddisk", "Graphic Processor"});
    OpenLogs();
    face.handling = 0;  // alarm sound
    // Line 1 alternates from the start, as the window's start leaves it.
    watch.Panel().SetAlternation(true);
  }
  const PanelState& Status() { return watch.Model().status; }
  const PanelState& SensorState(int sensor) { return watch.Model().SensorState(sensor); }
  Alarms& Alarm() { return watch.Alarm(); }
  // Records in a log, less its head and space line.
  static int RecordLines(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll().count("\r\n") - 2 : 0;
  }
};

TEST_F(WatchAlarmTest, AllNormalGivesNoAction) {
  Poll();
  EXPECT_EQ(Status().caption, "Normal");
  EXPECT_EQ(SensorState(1).caption, "Normal");
  EXPECT_EQ(SensorState(3).colour, PanelColour::Green);
  EXPECT_TRUE(fakes.sound.played.isEmpty());
  EXPECT_FALSE(Alarm().ShutDownTimer.isActive());
  EXPECT_TRUE(TrayHintOverride.Get().isEmpty());
}

TEST_F(WatchAlarmTest, AnOrangeFaultCodeRaisesTheAlarmAtEveryReplyButNoShutdown) {
  reading.state = 81;
  Poll();
  Poll();
  EXPECT_EQ(Status().caption, "RESTART DELAY");
  EXPECT_EQ(Status().colour, PanelColour::Orange);
  EXPECT_EQ(fakes.sound.played.size(), 2);
  EXPECT_TRUE(fakes.sound.played.front().endsWith("/Alarm.wav"));
  EXPECT_FALSE(Alarm().ShutDownTimer.isActive());
  EXPECT_EQ(TrayHintOverride.Get(), "RESTART DELAY");

  reading.state = 3;
  Poll();
  EXPECT_TRUE(TrayHintOverride.Get().isEmpty());
}

TEST_F(WatchAlarmTest, ASensorAlarmUnderAGreenStateArmsTheShutdownWithoutTheAction) {
  reading.tenths[3] = -10;  // sensor 4, "Lower" with shut-down limit 0
  Poll();
  EXPECT_EQ(Status().caption, "ALARM");
  EXPECT_EQ(Status().colour, PanelColour::Red);
  EXPECT_EQ(SensorState(4).caption, "ALARM");
  EXPECT_TRUE(fakes.sound.played.isEmpty());
  EXPECT_TRUE(Alarm().ShutDownTimer.isActive());
  EXPECT_TRUE(Alarm().BlinkTimer.isActive());
  EXPECT_FALSE(watch.Panel().DisplayIntervalTimer.isActive());
  EXPECT_EQ(face.line1, kCriticalText);
  EXPECT_TRUE(face.Raised(PendingLine1Text));
  EXPECT_EQ(Drain(), (QStringList{kCriticalText, kCriticalText, kCancelShutdownText}));

  // A reply without the alarm cancels the armed shutdown; the front panel goes
  // back to the user's text and alternation, and the status bar stops
  // announcing the shutdown.
  Alarm().BlinkTimerTimer();
  watch.Queue()->Append("Log Cleared");
  face.raised.clear();
  reading.tenths[3] = 200;
  Poll();
  EXPECT_FALSE(Alarm().ShutDownTimer.isActive());
  EXPECT_FALSE(Alarm().BlinkTimer.isActive());
  EXPECT_EQ(Status().caption, "Normal");
  EXPECT_EQ(face.line1, "Speed Load Temp");
  EXPECT_TRUE(face.Raised(PendingLine1Text));
  EXPECT_TRUE(watch.Panel().DisplayIntervalTimer.isActive());
  EXPECT_EQ(Drain(), QStringList{"Log Cleared"});
}

TEST_F(WatchAlarmTest, ACancelledShutdownLeavesAStoppedAlternationStopped) {
  face.alternationChosen = false;
  watch.Panel().DispLine1IntChange(7);  // "Never"
  face.line1 = "Frosty";
  reading.state = 85;
  Poll();
  ASSERT_TRUE(Alarm().ShutDownTimer.isActive());
  reading.state = 3;
  Poll();
  EXPECT_EQ(face.line1, "Frosty");
  EXPECT_FALSE(watch.Panel().DisplayIntervalTimer.isActive());
}

TEST_F(WatchAlarmTest, ARedFaultCodeGetsBothTheActionAndTheShutdown) {
  reading.state = 83;
  Poll();
  EXPECT_EQ(Status().caption, "SENSOR FAILED");
  EXPECT_EQ(fakes.sound.played.size(), 1);
  EXPECT_TRUE(Alarm().ShutDownTimer.isActive());
  // Later replies while armed do not arm it again.
  Drain();
  Poll();
  EXPECT_EQ(Drain(), QStringList{"SENSOR FAILED"});
}

TEST_F(WatchAlarmTest, AnEarlierWarningKeepsTheStatusOrangeOverALaterAlarm) {
  reading.tenths[1] = 50;   // sensor 2 at its warning limit
  reading.tenths[2] = -20;  // sensor 3 past its shut-down limit
  Poll();
  EXPECT_EQ(Status().caption, "Warning");
  EXPECT_EQ(Status().colour, PanelColour::Orange);
  EXPECT_EQ(SensorState(3).caption, "ALARM");
  EXPECT_EQ(fakes.sound.played.size(), 1);
  EXPECT_FALSE(Alarm().ShutDownTimer.isActive());
  const QStringList queued = Drain();
  EXPECT_TRUE(queued.contains("Temperature warning on Ambient"));
  EXPECT_TRUE(queued.contains(kCriticalText));
}

TEST_F(WatchAlarmTest, AGreenUnitStateIsReplacedOnlyByTheEvaporator) {
  reading.state = 0;       // POWER UP
  reading.tenths[1] = 50;  // sensor 2 warning
  Poll();
  EXPECT_EQ(Status().caption, "POWER UP");
  EXPECT_EQ(Status().colour, PanelColour::Green);
  EXPECT_EQ(SensorState(2).caption, "Warning");
  EXPECT_TRUE(Drain().contains("Temperature warning on Ambient"));

  reading.tenths[0] = -100;  // the evaporator at its warning limit
  Poll();
  EXPECT_EQ(Status().caption, "Warning");
  EXPECT_EQ(Status().colour, PanelColour::Orange);
}

TEST_F(WatchAlarmTest, AnOptionalSensorKeepsItsLastLevel) {
  reading.tenths[2] = -20;
  Poll();
  ASSERT_EQ(SensorTable[3].Level, 2);
  SensorTable[3].Name = kSensorOptional;  // the user's choice for the row
  Alarm().ShutDownTimer.stop();
  reading.tenths[2] = 200;
  Poll();
  EXPECT_EQ(SensorTable[3].Level, 2);
  EXPECT_EQ(Status().caption, "ALARM");
  EXPECT_TRUE(Drain().contains(kCriticalText));
  EXPECT_TRUE(Alarm().ShutDownTimer.isActive());
}

TEST_F(WatchAlarmTest, EveryAlarmReplyAndEveryArmedShutdownLeaveAnErrorLogRecord) {
  const QString errorLog = fakes.logPath("Error.log");
  reading.state = 82;
  face.handling = 3;  // "Ignore" still logs
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

TEST_F(WatchAlarmTest, TheChosenActionRuns) {
  reading.state = 82;
  face.handling = 1;  // blinking tray icon
  Poll();
  EXPECT_TRUE(face.animating);
  reading.state = 3;  // the next reply without a warning stops it
  Poll();
  EXPECT_FALSE(face.animating);

  reading.state = 82;
  face.handling = 3;  // ignore
  Poll();
  EXPECT_TRUE(fakes.sound.played.isEmpty());
  EXPECT_FALSE(face.animating);
  face.handling = 2;  // open the control centre
  Poll();
  EXPECT_EQ(face.opened, 1);
}

TEST_F(WatchAlarmTest, BlinkingAlternatesTheColourAndRepeatsTextsAndSound) {
  watch.Model().status.colour = PanelColour::Red;
  // Two texts and the sound while at most four texts wait; the colour always.
  const struct {
    PanelColour colour;
    std::size_t queued;
    qsizetype sounds;
  } ticks[] = {{PanelColour::Silver, 2, 1},
               {PanelColour::Red, 4, 2},
               {PanelColour::Silver, 6, 3},
               {PanelColour::Red, 6, 3}};
  for (const auto& t : ticks) {
    Alarm().BlinkTimerTimer();
    EXPECT_EQ(Status().colour, t.colour) << t.queued;
    EXPECT_EQ(watch.Queue()->Count(), t.queued);
    EXPECT_EQ(fakes.sound.played.size(), t.sounds) << t.queued;
  }
}

TEST_F(WatchAlarmTest, TheShutdownResetsAndDeletesTheSettingsAndTellsTheUnit) {
  SettingsKey(fakes.settingsPath(), SettingsKey::Open::CreateIfMissing).WriteInteger("Sensor1Alm", -20);
  ASSERT_TRUE(QFile::exists(fakes.settingsPath()));

  Alarm().ShutDownTimerTimer();
  EXPECT_EQ(face.resets, 1);
  EXPECT_FALSE(QFile::exists(fakes.settingsPath()));
  EXPECT_EQ(fakes.powerOff.requests, 1);
  EXPECT_EQ(fakes.clock.pauses, std::vector<int>{10000});
  ASSERT_FALSE(fakes.link.requests.empty());
  EXPECT_EQ(fakes.link.requests.back(), (Bytes{0x01, 0x85, 0x04}));
  EXPECT_TRUE(Drain().contains(kShuttingDownText));
}

TEST_F(WatchAlarmTest, ATickDueOnceTheProgramIsEndingNeverAsksForPowerOff) {
  reading.state = 85;
  Poll();
  ASSERT_TRUE(Alarm().ShutDownTimer.isActive());
  watch.SetTerminating();  // what closing the program decides first
  Alarm().ShutDownTimerTimer();
  EXPECT_EQ(fakes.powerOff.requests, 0);
}

}  // namespace
