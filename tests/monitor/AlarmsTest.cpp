// SPDX-License-Identifier: GPL-3.0-or-later
#include "monitor/Alarms.h"

#include "app/StatusMessageQueue.h"
#include "support/FakeServices.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

int LevelAt(SensorRecord r, int temperature, bool celsius = true) {
  r.Temperature = temperature;
  EvaluateSensor(r, celsius);
  return r.Level;
}

SensorRecord Sensor(const QString& name, bool higher, int warning, int shutdown) {
  SensorRecord r;
  r.Name = name;
  r.Higher = higher;
  r.WarningLimit = warning;
  r.ShutdownLimit = shutdown;
  return r;
}

}  // namespace

TEST(EvaluateSensor, LimitsAreReachedIncludingEquality) {
  const SensorRecord evaporator = Sensor("Evaporator", true, -10, 0);
  EXPECT_EQ(LevelAt(evaporator, -11), 0);
  EXPECT_EQ(LevelAt(evaporator, -10), 1);
  EXPECT_EQ(LevelAt(evaporator, 0), 2);
  EXPECT_EQ(LevelAt(evaporator, 5), 2);

  const SensorRecord lower = Sensor("Ambient", false, 5, 0);
  EXPECT_EQ(LevelAt(lower, 6), 0);
  EXPECT_EQ(LevelAt(lower, 5), 1);
  EXPECT_EQ(LevelAt(lower, 0), 2);
  EXPECT_EQ(LevelAt(lower, -3), 2);

  // The shut-down test stands alone: limits set the "wrong" way round still
  // report the shut-down level.
  const SensorRecord crossed = Sensor("Harddisk", true, 50, 40);
  EXPECT_EQ(LevelAt(crossed, 45), 2);
}

TEST(EvaluateSensor, FahrenheitLimitsCompareInCelsius) {
  const SensorRecord evaporator = Sensor("Evaporator", true, 14, 32);
  EXPECT_EQ(LevelAt(evaporator, -11, false), 0);
  EXPECT_EQ(LevelAt(evaporator, -10, false), 1);
  EXPECT_EQ(LevelAt(evaporator, 0, false), 2);
}

TEST(EvaluateSensor, UnfittedSensorsKeepTheirLevel) {
  for (const char* name : {"Optional", "N/A"}) {
    SensorRecord r = Sensor(name, true, -10, 0);
    r.Level = 2;
    r.Temperature = -50;
    EvaluateSensor(r, true);
    EXPECT_EQ(r.Level, 2) << name;
  }
  // An empty name is evaluated like a named one.
  EXPECT_EQ(LevelAt(Sensor("", true, -10, 0), 3), 2);
}

// --- the alarms without a window ---------------------------------------------

namespace {

// Records what the alarms ask of the rest of the program.
struct FakeContext : AlarmsContext {
  int handling = 3;
  bool animating = false, alternation = true, terminating = false;
  int picture = -1, opened = 0, snapshots = 0, resets = 0;
  QString line1 = QStringLiteral("Speed Load Temp");
  PendingWrites pending;
  mutable StatusMessageQueue queue;
  std::vector<packet::Request> sent;

  int WarningHandling() const override { return handling; }
  void AnimateTrayIcon(bool on) override { animating = on; }
  void ShowTrayPicture(int index) override { picture = index; }
  void OpenWindow() override { ++opened; }
  void ShowStatus(bool) override {}
  void ShowSensorStates() override {}
  QString PrimaryText() const override { return line1; }
  void SetPrimaryText(const QString& text) override { line1 = text; }
  bool AlternationRunning() const override { return alternation; }
  bool AlternationChosen() const override { return true; }
  void SetAlternation(bool on) override { alternation = on; }
  void RaisePending(PendingWrite write) override { pending.Raise(write); }
  void WriteErrorLogSnapshot() override { ++snapshots; }
  void ResetSettingsToDefaults() override { ++resets; }
  bool Terminating() const override { return terminating; }
  StatusMessageQueue* Queue() const override { return &queue; }
  void ExchangePacket(const packet::Request& request) override { sent.push_back(request); }
};

struct AlarmsWithoutWindow : ::testing::Test {
  UnitModel model;
  FakeContext context;
  FakeSound sound;
  FakePowerOff powerOff;
  FakeClock clock;
  QStringList reports;
  QTemporaryDir folder;
  QString settingsPath = folder.filePath(QStringLiteral("tessalinique.conf"));
  Alarms alarms{model, context, {&sound, &powerOff, &clock, settingsPath, [this](const QString& t) { reports << t; }}};

  void Decide(PanelColour colour, std::uint8_t state = 1) {
    Device.Status.UnitState = state;
    model.status = {QStringLiteral("x"), colour};
    alarms.BeginReply();
    alarms.AlarmDecision();
  }
  void TearDown() override { ResetDeviceData(); }
};

TEST_F(AlarmsWithoutWindow, RedArmsOnceANonRedReplyCancelsAndLine1ComesBack) {
  Decide(PanelColour::Red);
  ASSERT_TRUE(alarms.ShutDownTimer.isActive());
  EXPECT_TRUE(alarms.BlinkTimer.isActive());
  EXPECT_TRUE(context.animating);
  EXPECT_FALSE(context.alternation);
  EXPECT_EQ(context.line1, kCriticalText);
  EXPECT_TRUE(context.pending[PendingLine1Text] && context.pending[PendingDisplayParams]);
  EXPECT_EQ(context.snapshots, 1);
  EXPECT_FALSE(alarms.AlarmRaisedThisReply());  // red alone arms; it is no alarm action

  Decide(PanelColour::Silver);  // between two flashes: still armed, not again
  EXPECT_TRUE(alarms.ShutDownTimer.isActive());
  EXPECT_EQ(context.snapshots, 1);

  Decide(PanelColour::Green);
  EXPECT_FALSE(alarms.ShutDownTimer.isActive());
  EXPECT_FALSE(alarms.BlinkTimer.isActive());
  EXPECT_EQ(context.line1, "Speed Load Temp");
  EXPECT_TRUE(context.alternation);
  for (const QString& text : context.queue.Texts()) EXPECT_NE(text, kCriticalText);
  EXPECT_EQ(powerOff.requests, 0);
}

TEST_F(AlarmsWithoutWindow, TheAlarmActionFollowsTheChoiceAndAFaultCodeRaisesIt) {
  const struct {
    int handling;
    qsizetype sounds;
    bool animating;
    int opened;
  } choices[] = {{0, 1, false, 0}, {1, 0, true, 0}, {2, 0, false, 1}, {3, 0, false, 0}};
  for (const auto& c : choices) {
    SCOPED_TRACE(c.handling);
    context = FakeContext{};
    context.handling = c.handling;
    sound.played.clear();
    Decide(PanelColour::Green, 80);  // a fault code, whatever the colour
    EXPECT_TRUE(alarms.AlarmRaisedThisReply());
    EXPECT_EQ(sound.played.size(), c.sounds);
    EXPECT_EQ(context.animating, c.animating);
    EXPECT_EQ(context.opened, c.opened);
    EXPECT_EQ(context.picture, 0);
    EXPECT_EQ(context.snapshots, 1);
  }
}

TEST_F(AlarmsWithoutWindow, TheShutdownTickPowersOffThenTellsTheUnitUnlessTheProgramEnds) {
  { QFile(settingsPath).open(QIODevice::WriteOnly); }
  context.terminating = true;
  alarms.ShutDownTimerTimer();
  EXPECT_EQ(powerOff.requests, 0);
  EXPECT_TRUE(context.sent.empty());

  context.terminating = false;
  alarms.ShutDownTimerTimer();
  EXPECT_EQ(context.resets, 1);
  EXPECT_FALSE(QFile::exists(settingsPath));  // the next start runs on the built-in settings
  EXPECT_EQ(powerOff.requests, 1);
  EXPECT_EQ(clock.pauses, std::vector<int>{10000});
  ASSERT_EQ(context.sent.size(), 1u);
  EXPECT_EQ(context.sent[0], packet::MakeReadRequest(packet::kShutdownNotice));
  EXPECT_EQ(context.queue.Texts().back(), kShuttingDownText);
  EXPECT_FALSE(alarms.ShutdownSequenceRunning());
  EXPECT_TRUE(reports.isEmpty());
}

}  // namespace
