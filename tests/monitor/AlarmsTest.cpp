// SPDX-License-Identifier: GPL-3.0-or-later
#include "monitor/Alarms.h"

#include "core/StatusMessageQueue.h"
#include "monitor/StatusCycle.h"
#include "support/FakeServices.h"
#include "support/StatusReply.h"

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

// --- the watch without a window ----------------------------------------------

namespace {

// Records what the alarms and the status cycle ask of the rest of the program.
struct FakeContext : AlarmsContext, StatusCycleContext {
  int handling = 3;
  bool animating = false, alternation = true, terminating = false;
  int picture = -1, opened = 0, snapshots = 0, resets = 0;
  bool cycleWanted = true;
  int rowRefreshes = 0, blinkStops = 0, shownTemperatures = 0;
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

  bool CycleWanted() const override { return cycleWanted; }
  void RefreshSetupRows() override { ++rowRefreshes; }
  void ShowStatusPanel() override {}
  void StopTrayBlink() override { ++blinkStops; }
  void ShowTemperatures() override { ++shownTemperatures; }
  void ShowFans() override {}
  void ShowOperatingHours() override {}
  int SampledCpuClock() const override { return 3600; }
  int SampledCpuLoad() const override { return 42; }
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

// The status cycle on the same fakes: a decoded reply decides, the sample tells.
struct StatusCycleWithoutWindow : AlarmsWithoutWindow {
  StatusCycle cycle{model, alarms, context, clock, [this](const QString& t) { reports << t; }};
  std::vector<StatusSample> samples;

  void SetUp() override {
    QObject::connect(&cycle, &StatusCycle::statusSampled, [this](const StatusSample& s) { samples.push_back(s); });
    SensorTable[1] = Sensor(QStringLiteral("Evaporator"), true, -10, 0);
    SensorTable[2] = Sensor(QStringLiteral("Ambient"), true, 40, 50);
    SensorTable[3] = Sensor(QStringLiteral("Harddisk"), true, 50, 60);
  }
  void Reply(int evaporatorTenths) {
    Reading r;
    r.tenths[0] = evaporatorTenths;
    const packet::Payload p = StatusPayload(r);
    cycle.ComDataPacket1Packet(nullptr, QByteArray(reinterpret_cast<const char*>(p.data()), p.size()));
  }
};

TEST_F(StatusCycleWithoutWindow, AReplyPastTheShutdownLimitArmsAndItsSampleSaysSo) {
  Reply(50);
  EXPECT_EQ(model.status, (PanelState{QStringLiteral("ALARM"), PanelColour::Red}));
  EXPECT_TRUE(alarms.ShutDownTimer.isActive());
  EXPECT_EQ(context.blinkStops, 1);
  EXPECT_EQ(context.shownTemperatures, 1);
  // A sensor without a reading is not fitted for the rest of the run.
  EXPECT_EQ(SensorTable[3].Name, kSensorNotAvailable);
  EXPECT_EQ(SensorTable[2].Name, "Ambient");
  ASSERT_EQ(samples.size(), 1u);
  const StatusSample& s = samples[0];
  EXPECT_TRUE(s.shutdownArmed);
  EXPECT_NEAR(s.shutdownSecondsLeft, 180, 1);  // Qt rounds a long timer to whole seconds
  EXPECT_EQ(s.statusColour, StatusColour::Red);
  EXPECT_EQ(s.sensor(1).celsius, 5);
  EXPECT_EQ(s.sensor(1).level, 2);
  EXPECT_FALSE(s.sensor(3).fitted);
  EXPECT_EQ(s.cpuLoadPercent, 42);
  EXPECT_EQ(s.time, clock.now);
  EXPECT_EQ(cycle.LastSample().time, clock.now);

  Reply(-350);
  EXPECT_FALSE(alarms.ShutDownTimer.isActive());
  EXPECT_FALSE(samples.back().shutdownArmed);
  EXPECT_TRUE(reports.isEmpty());
}

TEST_F(StatusCycleWithoutWindow, BeforeTheCycleIsWantedAReplyOnlyUpdatesTheReadings) {
  context.cycleWanted = false;
  Reply(50);
  EXPECT_EQ(SensorTable[1].Temperature, 5);
  EXPECT_FALSE(alarms.ShutDownTimer.isActive());
  EXPECT_EQ(context.rowRefreshes + context.blinkStops, 0);
  EXPECT_EQ(SensorTable[3].Name, "Harddisk");
  EXPECT_EQ(samples.size(), 1u);

  // Once the program is ending nothing more is sampled.
  context.terminating = true;
  Reply(50);
  EXPECT_EQ(samples.size(), 1u);
}

}  // namespace
