// SPDX-License-Identifier: GPL-3.0-or-later
// The CPU cost of one data-poll tick: display line 2 sent as packet 07,
// packet 01 requested, and the whole status cycle its reply drives, with the
// System tab's panels updated. The main window runs offscreen against the
// simulated unit with a stepped clock; the other seams are the test fakes, so
// nothing waits and nothing but the tick is measured.
//
// Two links stand behind the window:
//   SimUnitLink  the simulated unit straight behind the link seam;
//   SimDriver    the simulated unit behind the driver layer and the USB link,
//                as in the -sim program (driver calls, pipes, event thread).
// Each with the history feature off and on (every tick then writes one
// sample to an SQLite file in a scratch folder).
// And two measurements of each:
//   Tick         the timer handler alone (what blocks the window's thread
//                inside the tick);
//   TickAndPaint the handler followed by the repaint it causes (offscreen
//                backing store), which the event loop does right after.
// Between ticks the unit's clock moves 3 s on, outside the timing, so every
// tick sees fresh readings as it does in use.
//
//   poll_tick [--paints] [benchmark options]
//
// --paints lists, for a few ticks, which widgets the tick has repainted.
// The last line gives the median CPU time per tick (goal: 0.3 ms), and the
// same tick with and without the metrics file being written after it
// (TickMetrics/metrics:0 and :1, in wall time too).

#include "app/TForm1.h"
#include "app/HistoryFeature.h"
#include "device/UsbLink.h"
#include "monitor/DeviceData.h"
#include "status/MetricsFile.h"
#include "support/FakeServices.h"
#include "widgets/TPerformanceGraph.h"
#include "ui_TForm1.h"

#include "SimDriver.h"
#include "SimUnitLink.h"
#include "SimulatedUnit.h"

#include <QApplication>
#include <QEvent>
#include <QLabel>
#include <QMap>
#include <QTemporaryDir>
#include <QWidget>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

enum class LinkKind { SimUnitLink = 0, SimDriver = 1 };

// One main window against one simulated unit, timers stopped: the benchmark
// calls the poll handler itself.
class Rig {
 public:
  Rig(LinkKind kind, bool history) : unit_(42) {
    ResetDeviceData();
    unit_.Advance(400);  // past power-up and boot delay, as a started program finds it
    if (kind == LinkKind::SimDriver) {
      link_ = MakeStandInLink(std::make_unique<unitsim::SimDriver>(unit_));
    } else {
      link_ = std::make_unique<unitsim::SimUnitLink>(unit_);
    }
    Services s = fakes_.services();
    s.link = link_.get();
    form_ = std::make_unique<TForm1>(s);
    for (QTimer* t : {&form_->Watcher().UpdateDataTimer, &form_->StatusTimer(), &form_->Settings().WriteChangesTimer,
                      &form_->Panel().DisplayIntervalTimer, &form_->Log().MaintainTimer, &form_->Log().HoursRunTimer,
                      &form_->HeatingCountDownTimer(), &form_->Alarm().ShutDownTimer, &form_->Alarm().BlinkTimer})
      t->stop();
    form_->show();
    if (history) {
      history_ = std::make_unique<HistoryFeature>(*form_, historyDir_.filePath(QStringLiteral("history.sqlite")));
    }
    QCoreApplication::processEvents();
  }
  ~Rig() {
    history_.reset();
    form_->close();
    form_.reset();
  }

  TForm1& Form() { return *form_; }
  // Writes the metrics file after every status reply while on.
  void Metrics(bool on) {
    metrics_.reset();
    if (!on) return;
    metrics_ = std::make_unique<MetricsFile>(
        metricsDir_.filePath(QStringLiteral("vornalith.prom")), QStringLiteral("1.22"), form_->LastSample(),
        form_->LinkUp(), [](const QString& m) { std::fprintf(stderr, "%s\n", qPrintable(m)); },
        [] { return QDateTime::currentDateTime(); });
    QObject::connect(form_.get(), &TForm1::statusSampled, metrics_.get(), &MetricsFile::OnStatusSampled);
  }
  void StepUnit() {
    unit_.Advance(3.0);
    fakes_.clock.now = fakes_.clock.now.addSecs(3);
  }
  // The texts of the System tab's reading and state panels.
  QString Shown() {
    Ui::TForm1& u = form_->ui();
    QString all = u.SystemStatPanel->text();
    for (QLabel* l : {u.Temp1, u.Temp2, u.Temp3, u.Temp4, u.Temp5, u.TempStat1, u.TempStat2,
                      u.TempStat3, u.TempStat4, u.TempStat5, u.FanRPM1, u.FanRPM2,
                      u.Fan1StatusLabel, u.Fan2StatusLabel})
      all += QLatin1Char('|') + l->text();
    return all;
  }
  void Tick() { form_->Watcher().UpdateDataTimerTimer(); }
  static void Paint() { QCoreApplication::sendPostedEvents(); }

  // What the ticks did besides updating the window: alarms, message boxes.
  std::string Side() const {
    std::string side;
    if (!fakes_.boxes.shown.isEmpty()) side += " boxes:" + fakes_.boxes.shown.join('|').toStdString();
    if (!fakes_.sound.played.isEmpty()) side += " sounds:" + std::to_string(fakes_.sound.played.size());
    return side;
  }
  std::string State() const {
    return "unit state " + std::to_string(Device.Status.UnitState) + ", evaporator " +
           std::to_string(SensorTable[1].Temperature.load()) + " C";
  }

 private:
  unitsim::SimulatedUnit unit_;
  std::unique_ptr<IUnitLink> link_;
  FakeServices fakes_;
  std::unique_ptr<TForm1> form_;
  QTemporaryDir metricsDir_;
  std::unique_ptr<MetricsFile> metrics_;
  QTemporaryDir historyDir_;
  std::unique_ptr<HistoryFeature> history_;
};

// One window at a time: the device records it decodes into are process-wide.
std::unique_ptr<Rig> rig;
LinkKind rigKind = LinkKind::SimUnitLink;
bool rigHistory = false;
Rig& RigFor(LinkKind kind, bool history = false) {
  if (!rig || rigKind != kind || rigHistory != history) {
    rig.reset();
    rig = std::make_unique<Rig>(kind, history);
    rigKind = kind;
    rigHistory = history;
  }
  return *rig;
}

// paint: whether the repaint the tick causes is part of the measurement.
void RunTicks(benchmark::State& state, bool paint) {
  Rig& rig = RigFor(static_cast<LinkKind>(state.range(0)), state.range(1) != 0);
  int changed = 0;
  for (auto _ : state) {
    state.PauseTiming();
    rig.StepUnit();
    Rig::Paint();  // whatever is left from before is not this tick's cost
    const QString before = rig.Shown();
    state.ResumeTiming();
    rig.Tick();
    if (paint) Rig::Paint();
    state.PauseTiming();
    if (rig.Shown() != before) ++changed;
    state.ResumeTiming();
  }
  // The share of ticks that changed a reading on screen: a tick that shows
  // nothing new costs less.
  state.counters["changed"] = benchmark::Counter(changed, benchmark::Counter::kAvgIterations);
  state.SetLabel(rig.State() + rig.Side());
}
void Tick(benchmark::State& state) { RunTicks(state, false); }
void TickAndPaint(benchmark::State& state) { RunTicks(state, true); }

// A fixed number of ticks, so that every run meets the same simulated hours
// (nine runs of 200 ticks: 90 minutes of the unit from its start).
void LinkArgs(benchmark::internal::Benchmark* b, std::vector<int64_t> history) {
  b->ArgNames({"link", "history"})->ArgsProduct({{0, 1}, history});
  b->Unit(benchmark::kMillisecond)->Iterations(200)->Repetitions(9)->ReportAggregatesOnly(true);
}
BENCHMARK(Tick)->Apply([](benchmark::internal::Benchmark* b) { LinkArgs(b, {0, 1}); });

// The same tick through SimUnitLink without (0) and with (1) the metrics file.
void TickMetrics(benchmark::State& state) {
  Rig& rig = RigFor(LinkKind::SimUnitLink);
  rig.Metrics(state.range(0) != 0);
  for (auto _ : state) {
    state.PauseTiming();
    rig.StepUnit();
    Rig::Paint();
    state.ResumeTiming();
    rig.Tick();
  }
  rig.Metrics(false);
}
BENCHMARK(TickMetrics)
    ->ArgName("metrics")->Arg(0)->Arg(1)
    ->Unit(benchmark::kMillisecond)->Iterations(200)->Repetitions(9)->ReportAggregatesOnly(true);
BENCHMARK(TickAndPaint)->Apply([](benchmark::internal::Benchmark* b) { LinkArgs(b, {0}); });

class MedianReporter : public benchmark::ConsoleReporter {
 public:
  std::map<std::string, double> cpuMs;   // median CPU time by name
  std::map<std::string, double> realMs;  // median wall time by name
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median")
        cpuMs[run.run_name.function_name + "/" + run.run_name.args] =
            run.GetAdjustedCPUTime();  // in the benchmark's unit, ms
      if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median")
        realMs[run.run_name.function_name + "/" + run.run_name.args] = run.GetAdjustedRealTime();
    }
    ConsoleReporter::ReportRuns(runs);
  }
};

// Counts paint events by widget while it is installed.
class PaintCounter : public QObject {
 public:
  std::map<std::string, int> counts;
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Paint) {
      const std::string name = watched->objectName().isEmpty()
                                   ? std::string(watched->metaObject()->className())
                                   : watched->objectName().toStdString();
      ++counts[name + " (" + watched->metaObject()->className() + ")"];
    }
    return false;
  }
};

void ListPaints() {
  Rig& rig = RigFor(LinkKind::SimUnitLink);
  constexpr int kTicks = 5;
  for (int i = 0; i < 3; ++i) {  // settle first
    rig.StepUnit();
    rig.Tick();
    Rig::Paint();
  }
  PaintCounter counter;
  qApp->installEventFilter(&counter);
  for (int i = 0; i < kTicks; ++i) {
    rig.StepUnit();
    rig.Tick();
    Rig::Paint();
  }
  qApp->removeEventFilter(&counter);
  std::printf("Paint events over %d ticks (%s):\n", kTicks, rig.State().c_str());
  for (const auto& [name, n] : counter.counts) std::printf("  %3d  %s\n", n, name.c_str());

  // The CPU sampler's share of the window, for comparison: a load point on
  // the graph and the speed caption, as each sample delivers them.
  counter.counts.clear();
  qApp->installEventFilter(&counter);
  for (int i = 0; i < kTicks; ++i) {
    rig.Form().ui().CPULoadGraph->DataPoint(QColor(0, 255, 0), 30 + 5 * i);
    rig.Form().ui().CPULoadGraph->Update();
    rig.Form().ui().CPUSpeedLoadPanel->setText(QStringLiteral("2400 MHz "));
    Rig::Paint();
  }
  qApp->removeEventFilter(&counter);
  std::printf("Paint events over %d sampler updates:\n", kTicks);
  for (const auto& [name, n] : counter.counts) std::printf("  %3d  %s\n", n, name.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);

  bool paints = false;
  std::vector<char*> args;
  for (int i = 0; i < argc; ++i) {
    if (std::strcmp(argv[i], "--paints") == 0) {
      paints = true;
    } else {
      args.push_back(argv[i]);
    }
  }
  int count = static_cast<int>(args.size());
  if (paints) {
    ListPaints();
    rig.reset();
    return 0;
  }

  benchmark::Initialize(&count, args.data());
  MedianReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  rig.reset();

  auto median = [&](const char* name) {
    const auto it = reporter.cpuMs.find(name);
    return it == reporter.cpuMs.end() ? -1.0 : it->second;
  };
  std::printf(
      "poll_tick: history off against on, median CPU per tick %.3f ms / %.3f ms through SimUnitLink, "
      "%.3f ms / %.3f ms through the driver layer (goal: at most +0.2 ms)\n",
      median("Tick/link:0/history:0"), median("Tick/link:0/history:1"), median("Tick/link:1/history:0"),
      median("Tick/link:1/history:1"));
  std::printf(
      "poll_tick: median CPU per tick %.3f ms through SimUnitLink, %.3f ms through the driver "
      "layer; with the repaint it causes %.3f ms and %.3f ms (goal 0.3 ms)\n",
      median("Tick/link:0/history:0"), median("Tick/link:1/history:0"), median("TickAndPaint/link:0/history:0"),
      median("TickAndPaint/link:1/history:0"));
  auto wall = [&](const char* name) {
    const auto it = reporter.realMs.find(name);
    return it == reporter.realMs.end() ? -1.0 : it->second;
  };
  std::printf(
      "poll_tick: metrics file off %.3f ms CPU / %.3f ms wall per tick, on %.3f ms CPU / %.3f ms wall\n",
      median("TickMetrics/metrics:0"), wall("TickMetrics/metrics:0"), median("TickMetrics/metrics:1"),
      wall("TickMetrics/metrics:1"));
  return 0;
}
