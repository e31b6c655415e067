// SPDX-License-Identifier: GPL-3.0-or-later
// The CPU sampler: its readings, the run loop's rules, the hint texts, and that
// its results reach the window on the window's thread. The stand-in computer's
// time passes only when the sampler sleeps, so no test waits for real windows.

#include "app/SamplerView.h"
#include "host/CPUThread.h"
#include "host/TrayHint.h"
#include "monitor/DeviceData.h"
#include "monitor/QStringPrinter.h"
#include "support/FakeCpuSources.h"
#include "widgets/TPerformanceGraph.h"
#include "widgets/TTrayIcon.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <stdexcept>
#include <thread>

namespace {

TEST(CpuReadings, ProcStatIdleIncludesIowaitAndTotalLeavesOutGuestTime) {
  const std::string stat =
      "cpu  100 20 30 400 50 6 7 8 900 900\n"
      "cpu0 50 10 15 200 25 3 3 4 0 0\n"
      "intr 12345\n";
  const std::optional<CpuTimes> times = ParseProcStat(stat);
  ASSERT_TRUE(times);
  EXPECT_EQ(times->idle, 450u);
  EXPECT_EQ(times->total, 621u);

  EXPECT_FALSE(ParseProcStat("cpu0 1 2 3 4\n"));
  EXPECT_FALSE(ParseProcStat("cpu  1 2\n"));
  EXPECT_FALSE(ParseProcStat(""));
}

TEST(CpuReadings, LoadIsTheBusyShareRoundedAndHeldToItsRange) {
  EXPECT_EQ(LoadBetween({100, 200}, {175, 300}), 25);
  EXPECT_EQ(LoadBetween({0, 0}, {875, 1000}), 13);  // 12.5 % rounds up
  EXPECT_EQ(LoadBetween({0, 0}, {876, 1000}), 12);
  EXPECT_EQ(LoadBetween({50, 100}, {50, 200}), 100);
  EXPECT_EQ(LoadBetween({50, 100}, {150, 200}), 0);
  // A counter stepping back (iowait does) must not give a load above 100.
  EXPECT_EQ(LoadBetween({100, 200}, {90, 300}), 100);
  EXPECT_EQ(LoadBetween({100, 200}, {100, 200}), -1);
}

TEST(CpuReadings, ClockIsCyclesOverOneSecondAtRaisedPriority) {
  FakeCpuSources cpu;
  SamplerStop stop;
  cpu.clockMHz = 2400;
  EXPECT_EQ(MeasureCpuSpeed(cpu, stop), 2400);
  EXPECT_EQ(cpu.Sleeps(), std::vector<int>{1000});
  EXPECT_EQ(cpu.Raised(), 1);
  EXPECT_EQ(cpu.Restored(), 1);

  // Beyond 32 bits of cycles per second.
  cpu.clockMHz = 5200;
  EXPECT_EQ(MeasureCpuSpeed(cpu, stop), 5200);

  cpu.hasCycleCounter = false;
  cpu.frequencyDriverMHz = 1800;
  EXPECT_EQ(MeasureCpuSpeed(cpu, stop), 1800);

  stop.Request();
  EXPECT_FALSE(MeasureCpuSpeed(cpu, stop));
  EXPECT_EQ(cpu.Raised(), cpu.Restored());
}

TEST(CpuReadings, LoadIsMeasuredOverOneSecondAndASampleTakesTwo) {
  FakeCpuSources cpu;
  SamplerStop stop;
  cpu.loadPercent = 37;
  EXPECT_EQ(MeasureCpuLoad(cpu, stop), 37);
  EXPECT_EQ(cpu.Sleeps(), (std::vector<int>{1000, 1000}));

  // Unreadable counters: -1, after the usual time.
  cpu.timesReadable = false;
  EXPECT_EQ(MeasureCpuLoad(cpu, stop), -1);
  EXPECT_EQ(cpu.Sleeps().size(), 4u);
}

class HintTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetDeviceData();
    TrayHintOverride.Set(QString());
    TrayHintSource = 0;
  }
  void TearDown() override { SetUp(); }
};

TEST_F(HintTest, TextsForEverySource) {
  const int temperatures[] = {-35, 25, kNoReading, 0, kNoReading};
  for (int i = 0; i < 5; ++i) SensorTable[i + 1].Temperature = temperatures[i];
  CelsiusFlag = true;
  const QStringList celsius{"Evaporator Temp: -35", "Sensor 2 Temp: 25", "Sensor 3 Temp: N/A",
                            "Sensor 4 Temp: 0",     "Sensor 5 Temp: N/A", "CPU Speed: 2400 MHz",
                            "CPU load: 12 %",       ""};
  for (int source = 0; source < celsius.size(); ++source)
    EXPECT_EQ(TrayHintText(source, 2400, 12), celsius[source]) << source;
  EXPECT_EQ(TrayHintText(6, 2400, -1), "CPU load: -1 %");
  EXPECT_EQ(TrayHintText(-1, 2400, 12), "");

  CelsiusFlag = false;
  EXPECT_EQ(TrayHintText(1, 2400, 12), "Sensor 2 Temp: 77");
  EXPECT_EQ(TrayHintText(0, 2400, 12), "Evaporator Temp: -31");
  EXPECT_EQ(TrayHintText(2, 2400, 12), "Sensor 3 Temp: N/A");
}

TEST_F(HintTest, TheOverrideWinsWhateverTheSource) {
  FakeCpuSources cpu;
  RelaxedAtomic<int> speed, load;
  CPUThread sampler(true, &speed, &load, cpu);
  QSignalSpy hints(&sampler, &CPUThread::HintChanged);
  TrayHintSource = 5;
  sampler.UpdateTrayHint();
  TrayHintOverride.Set(QStringLiteral("RESTART DELAY"));
  sampler.UpdateTrayHint();
  TrayHintSource = 6;
  sampler.UpdateTrayHint();
  TrayHintOverride.Set(QString());
  sampler.UpdateTrayHint();
  ASSERT_EQ(hints.count(), 4);
  EXPECT_EQ(hints[0][0].toString(), "CPU Speed: 2400 MHz");
  EXPECT_EQ(hints[1][0].toString(), "RESTART DELAY");
  EXPECT_EQ(hints[2][0].toString(), "RESTART DELAY");
  EXPECT_EQ(hints[3][0].toString(), "CPU load: 0 %");
}

// The run loop, one pass at a time on the test's thread.
class SamplerLoopTest : public HintTest {
 protected:
  void SetUp() override {
    HintTest::SetUp();
    sampler = std::make_unique<CPUThread>(true, &speed, &load, cpu);
    captions = std::make_unique<QSignalSpy>(sampler.get(), &CPUThread::SpeedCaptionChanged);
    loads = std::make_unique<QSignalSpy>(sampler.get(), &CPUThread::LoadSampled);
    hints = std::make_unique<QSignalSpy>(sampler.get(), &CPUThread::HintChanged);
  }

  FakeCpuSources cpu;
  RelaxedAtomic<int> speed{-5}, load{-5};
  std::unique_ptr<CPUThread> sampler;
  std::unique_ptr<QSignalSpy> captions, loads, hints;
};

TEST_F(SamplerLoopTest, ASampleStoresTheLoadAndRefreshesPanelGraphAndHint) {
  // Creation measures the clock and clears the load, without starting the loop.
  EXPECT_EQ(speed, 2400);
  EXPECT_EQ(load, 0);
  EXPECT_EQ(sampler->SpeedCheckCounter(), 0);
  EXPECT_FALSE(sampler->isRunning());

  sampler->SetMainWindowVisible(true);
  TrayHintSource = 6;
  cpu.loadPercent = 37;
  ASSERT_TRUE(sampler->Step());
  EXPECT_EQ(load, 37);
  ASSERT_EQ(captions->count(), 1);
  EXPECT_EQ((*captions)[0][0].toString(), "2400 MHz ");
  ASSERT_EQ(loads->count(), 1);
  EXPECT_EQ((*loads)[0][0].toInt(), 37);
  ASSERT_EQ(hints->count(), 1);
  EXPECT_EQ((*hints)[0][0].toString(), "CPU load: 37 %");
  // The clock measurement at creation, the sample's two seconds with the
  // short pause at the end of its rest.
  EXPECT_EQ(cpu.Sleeps(), (std::vector<int>{1000, 1000, 1001}));
}

TEST_F(SamplerLoopTest, TheClockIsCheckedEveryTenthSampleUnlessTheLoadIsHigh) {
  sampler->SetMainWindowVisible(true);
  cpu.clockMHz = 3000;
  cpu.loadPercent = 39;
  for (int i = 1; i <= 9; ++i) ASSERT_TRUE(sampler->Step());
  EXPECT_EQ(speed, 2400);
  EXPECT_EQ(sampler->SpeedCheckCounter(), 9);
  ASSERT_TRUE(sampler->Step());
  EXPECT_EQ(speed, 3000);
  EXPECT_EQ(sampler->SpeedCheckCounter(), 0);
  EXPECT_EQ((*captions)[9][0].toString(), "3000 MHz ");

  // At 40 % the tenth sample keeps the old rate but still starts a new count.
  cpu.clockMHz = 3600;
  cpu.loadPercent = 40;
  for (int i = 1; i <= 10; ++i) ASSERT_TRUE(sampler->Step());
  EXPECT_EQ(speed, 3000);
  EXPECT_EQ(sampler->SpeedCheckCounter(), 0);
  cpu.loadPercent = 5;
  for (int i = 1; i <= 9; ++i) ASSERT_TRUE(sampler->Step());
  EXPECT_EQ(speed, 3000);
  ASSERT_TRUE(sampler->Step());
  EXPECT_EQ(speed, 3600);
}

TEST_F(SamplerLoopTest, HiddenWindowWithATemperatureHintTakesNoSample) {
  SensorTable[1].Temperature = -35;
  load = 12;
  for (int source = 0; source <= 4; ++source) {
    TrayHintSource = source;
    ASSERT_TRUE(sampler->Step());
  }
  EXPECT_EQ(load, 12);
  EXPECT_EQ(loads->count(), 0);
  EXPECT_EQ(hints->count(), 0);
  const std::vector<int> sleeps = cpu.Sleeps();
  EXPECT_EQ(sleeps.size(), 6u);
  for (std::size_t i = 1; i < sleeps.size(); ++i) EXPECT_EQ(sleeps[i], CPUThread::kIdleWaitMs);  // idle waits only

  for (int source : {5, 6}) {
    TrayHintSource = source;
    ASSERT_TRUE(sampler->Step());
  }
  EXPECT_EQ(loads->count(), 2);
  EXPECT_EQ(load, 10);

  // Shown (or minimised to the notification area) it samples whatever the hint.
  TrayHintSource = 0;
  sampler->SetMainWindowVisible(true);
  ASSERT_TRUE(sampler->Step());
  EXPECT_EQ(loads->count(), 3);
  EXPECT_EQ((*hints)[2][0].toString(), "Evaporator Temp: -35");
}

TEST_F(SamplerLoopTest, AFailingSampleIsReportedAndEndsTheLoop) {
  struct Broken : FakeCpuSources {
    bool ReadCpuTimes(CpuTimes&) override { throw std::runtime_error("no counters"); }
  } broken;
  CPUThread failing(true, &speed, &load, broken);
  QSignalSpy errors(&failing, &CPUThread::ErrorRaised);
  failing.SetMainWindowVisible(true);
  EXPECT_FALSE(failing.Step());
  ASSERT_EQ(errors.count(), 1);
  EXPECT_EQ(errors[0][0].toString(), "no counters");
}

TEST_F(SamplerLoopTest, AFailedClockCheckIsReportedAndTriedAgainAtTheNextSample) {
  struct FlakyClock : FakeCpuSources {
    int failures = 0;
    int RaisePriority() override {
      if (failures > 0) {
        --failures;
        throw std::runtime_error("no clock");
      }
      return 0;
    }
  } flaky;
  RelaxedAtomic<int> mhz, percent;
  CPUThread sampler2(true, &mhz, &percent, flaky);
  QSignalSpy errors(&sampler2, &CPUThread::ErrorRaised);
  sampler2.SetMainWindowVisible(true);
  flaky.clockMHz = 2000;
  flaky.failures = 1;
  for (int i = 1; i <= 10; ++i) ASSERT_TRUE(sampler2.Step());
  EXPECT_EQ(errors.count(), 1);
  EXPECT_EQ(mhz, 2400);
  EXPECT_EQ(sampler2.SpeedCheckCounter(), 10);
  ASSERT_TRUE(sampler2.Step());
  EXPECT_EQ(mhz, 2000);
  EXPECT_EQ(sampler2.SpeedCheckCounter(), 0);
}

class RecordingTray : public ITrayBackend {
 public:
  bool Available() const override { return true; }
  bool Add(const QIcon&, const QString&) override { return true; }
  bool Modify(const QIcon&, const QString& tip) override {
    tips << tip;
    onGuiThread = onGuiThread && QThread::currentThread() == qApp->thread();
    return true;
  }
  bool Remove() override { return true; }
  QStringList tips;
  bool onGuiThread = true;
};

template <typename Done>
bool ProcessEventsUntil(Done done, int ms = 5000) {
  QElapsedTimer timer;
  timer.start();
  while (!done() && timer.elapsed() < ms) QApplication::processEvents(QEventLoop::AllEvents, 20);
  return done();
}

TEST_F(HintTest, ResultsReachPanelGraphAndIconOnTheWindowsThreadInSampleOrder) {
  QLabel panel(QStringLiteral("MHz "));
  TPerformanceGraph graph;
  graph.Model().SetGradient(100);
  std::vector<bool> graphOnGuiThread;
  graph.Model().OnScaleChange = [&] {
    graphOnGuiThread.push_back(QThread::currentThread() == qApp->thread());
  };
  auto ownedTray = std::make_unique<RecordingTray>();
  RecordingTray* tray = ownedTray.get();
  TTrayIcon icon(nullptr, std::move(ownedTray));
  icon.SetVisible(true);

  FakeCpuSources cpu{4};  // two samples, then the third one waits
  cpu.loadPercent = 37;
  TrayHintSource = 6;
  RelaxedAtomic<int> speed, load;
  CPUThread sampler(true, &speed, &load, cpu);
  ShowSamplerIn(sampler, &panel, &graph, &icon);
  sampler.SetMainWindowVisible(true);
  sampler.start();

  const auto& bands = graph.Model().Bands();
  auto points = [&] {
    int n = 0;
    for (const GraphBand& b : bands) n += b.count;
    return n;
  };
  ASSERT_TRUE(ProcessEventsUntil([&] { return points() == 2 && tray->tips.size() == 1; }));
  EXPECT_EQ(panel.text(), "2400 MHz ");
  EXPECT_EQ(tray->tips, QStringList{"CPU load: 37 %"});  // the same hint twice is sent once
  EXPECT_TRUE(tray->onGuiThread);
  ASSERT_FALSE(graphOnGuiThread.empty());
  for (bool b : graphOnGuiThread) EXPECT_TRUE(b);
  // One point per band, in the bands before the one being filled.
  const int n = static_cast<int>(bands.size());
  const int current = graph.Model().Current();
  EXPECT_EQ(bands[static_cast<std::size_t>((current + n - 1) % n)].values[0], 37);
  EXPECT_EQ(bands[static_cast<std::size_t>((current + n - 2) % n)].values[0], 37);
  EXPECT_TRUE(sampler.isRunning());

  // Asked to end while it waits in a measurement, it ends at once.
  QElapsedTimer stopping;
  stopping.start();
  sampler.TerminateAndWait();
  EXPECT_LT(stopping.elapsed(), 500);
  EXPECT_TRUE(sampler.isFinished());
  EXPECT_EQ(cpu.Lowered(), 1);  // it ran at the lowest priority
}

// Idle, the sampler wakes only every two seconds, yet a change that wants
// samples starts them at once.
TEST_F(HintTest, AnIdleSamplerStartsAtOnceWhenTheWindowShowsOrACpuHintIsChosen) {
  for (const bool byWindow : {true, false}) {
    SCOPED_TRACE(byWindow ? "window shown" : "CPU hint chosen");
    TrayHintSource = 0;
    FakeCpuSources cpu;
    cpu.idleWaitMs = 60000;  // only a nudge (or the stop) ends it
    RelaxedAtomic<int> speed, load;
    CPUThread sampler(true, &speed, &load, cpu);
    QSignalSpy loads(&sampler, &CPUThread::LoadSampled);
    sampler.start();
    ASSERT_TRUE(ProcessEventsUntil([&] { return cpu.Sleeps().size() >= 2; }));  // clock, then idle
    QElapsedTimer started;
    started.start();
    if (byWindow) {
      sampler.SetMainWindowVisible(true);
    } else {
      TrayHintSource = 6;
      sampler.UpdateTrayHint();
    }
    ASSERT_TRUE(ProcessEventsUntil([&] { return loads.count() > 0; }, 3000));
    EXPECT_LT(started.elapsed(), 1000);
    sampler.TerminateAndWait();
  }
}

TEST(SamplerStopTest, ANudgeEndsOnlyAnIdleWait) {
  SamplerStop stop;
  QElapsedTimer timer;
  timer.start();
  std::thread nudger([&] {
    QThread::msleep(50);
    stop.Nudge();
  });
  EXPECT_TRUE(stop.WaitFor(300));  // a measurement window runs its full time
  EXPECT_GE(timer.elapsed(), 290);
  timer.restart();
  EXPECT_TRUE(stop.WaitUntilNudged(5000));  // the nudge that came meanwhile
  EXPECT_LT(timer.elapsed(), 100);
  nudger.join();
  timer.restart();
  EXPECT_TRUE(stop.WaitUntilNudged(50));  // used up: the next one waits
  EXPECT_GE(timer.elapsed(), 45);
  stop.Request();
  EXPECT_FALSE(stop.WaitUntilNudged(5000));
}

TEST_F(HintTest, AnIdleThreadEndsAtOnce) {
  FakeCpuSources cpu{0};
  RelaxedAtomic<int> speed, load;
  auto sampler = std::make_unique<CPUThread>(false, &speed, &load, cpu);
  ASSERT_TRUE(ProcessEventsUntil([&] { return cpu.Sleeps().size() >= 3; }));
  QElapsedTimer stopping;
  stopping.start();
  sampler.reset();
  EXPECT_LT(stopping.elapsed(), 150);
}

}  // namespace
