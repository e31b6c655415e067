// SPDX-License-Identifier: GPL-3.0-or-later
// Appending one record to a log costs the same however large the log is: the
// median time per record for an empty error log and for a 10 MB one. The last
// line gives both medians and their ratio; the exit status is 1 when the
// large log is more than twice as slow.

#include "logs/LogFile.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>

#include <unistd.h>

namespace {

LogRecord SampleRecord() {
  LogRecord r;
  r.Timestamp = QDateTime(QDate(2026, 12, 7), QTime(12, 0, 5));
  r.CpuSpeed = 2400;
  r.CpuLoad = 37;
  r.DisplayLine1 = QStringLiteral("Speed Load Temp");
  r.DisplayLine2 = QStringLiteral("Quelmark");
  r.DisplayInterval = 5000;
  r.WarningHandling = QStringLiteral("Alarm Sound");
  r.BootTemperature = -33;
  r.HeaterEffect = 100;
  r.OperationHours = 1234;
  r.Sensors[0] = LogSensor{QStringLiteral("Evaporator"), -45, 1, -10, 0};
  r.SystemStatus = QStringLiteral("Evaporator warning");
  return r;
}

void AppendRecord(benchmark::State& state) {
  QTemporaryDir dir;
  const QString path = dir.path() + QStringLiteral("/Error.log");
  const qint64 startBytes = state.range(0);
  if (startBytes > 0) {
    const QByteArray line = FormatLogRecord(SampleRecord(), QLocale(QLocale::C));
    QByteArray content = LogFileHead();
    while (content.size() < startBytes) content += line;
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(content) != content.size() || !f.flush()) {
      state.SkipWithError("cannot prepare the log");
      return;
    }
    // The log is on disk before timing starts, as a log from earlier runs is.
    ::fsync(f.handle());
  }
  const LogFile log(path, QLocale(QLocale::C));
  const LogRecord record = SampleRecord();
  for (auto _ : state) log.WriteRecord(record);
}

BENCHMARK(AppendRecord)
    ->Arg(0)
    ->Arg(10'000'000)
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime()
    ->MinTime(0.5)
    ->Repetitions(7)
    ->ReportAggregatesOnly(true);

class MedianReporter : public benchmark::ConsoleReporter {
 public:
  std::map<std::string, double> medians;  // by benchmark name, microseconds
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median")
        medians[run.run_name.function_name + "/" + run.run_name.args] = run.GetAdjustedRealTime();
    }
    ConsoleReporter::ReportRuns(runs);
  }
};

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  MedianReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();

  const double empty = reporter.medians["AppendRecord/0"];
  const double large = reporter.medians["AppendRecord/10000000"];
  if (empty <= 0 || large <= 0) return 0;  // filtered out
  const double ratio = large / empty;
  std::printf("log_write: median per record %.1f us on an empty log, %.1f us on a 10 MB log, ratio %.2f (limit 2)\n",
              empty, large, ratio);
  return ratio <= 2.0 ? 0 : 1;
}
