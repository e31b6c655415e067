// SPDX-License-Identifier: GPL-3.0-or-later
// Days of polling the simulated unit with a fault that never clears and a
// sensor at its warning limit, so that every poll queues texts, plays the alarm
// and appends an error-log record. The window's timers run by hand on a
// simulated clock. VCC_SOAK_DAYS sets the length (default one day, a quarter
// under a sanitizer); scripts/soak runs the full week.

#include "ProcessProbe.h"
#include "SimUnitLink.h"
#include "SimulatedUnit.h"
#include "app/TForm1.h"
#include "monitor/DeviceData.h"
#include "support/FakeServices.h"
#include "ui_TForm1.h"

#include <QComboBox>
#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <ctime>

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <cstdio>
#include <vector>

namespace {

constexpr qint64 kPollMs = 3000;
constexpr qint64 kDayMs = 24LL * 3600 * 1000;
// Memory creeps up by some 100 kB early on and then levels off, so it is judged
// only after a warm-up of six hours (or a quarter of a longer run).
constexpr qint64 kWarmUpMs = 6LL * 3600 * 1000;
constexpr int kBatches = 24;  // batches after the warm-up

double SoakDays() {
  bool ok = false;
  const double days = qEnvironmentVariable("VCC_SOAK_DAYS").toDouble(&ok);
  if (ok && days > 0) return days;
  return probe::kSanitized ? 0.25 : 1.0;
}

// Reads through a fixed buffer so that the test's own allocations do not move
// the heap figures it judges.
QByteArray PrefixHash(const QString& path, qint64 length) {
  static char buffer[64 * 1024];
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) return {};
  QCryptographicHash hash(QCryptographicHash::Sha1);
  qint64 left = length;
  while (left > 0) {
    const qint64 got = f.read(buffer, std::min<qint64>(left, sizeof buffer));
    if (got <= 0) return {};
    hash.addData(QByteArrayView(buffer, got));
    left -= got;
  }
  return hash.result();
}

ino_t InodeOf(const QString& path) {
  struct stat st {};
  return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_ino : 0;
}

// The program's own work per batch: wall time would also count disk flushes,
// which other work on the machine stretches at will.
double CpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

class SoakTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetDeviceData();
    unit.Advance(400);  // past power-up and boot delay
    Services s = fakes.services();
    s.link = &link;
    form = std::make_unique<TForm1>(s);
    form->show();
  }
  void TearDown() override { form.reset(); }

  // One timer of the window as the event loop would run it.
  struct Tick {
    QTimer* timer;
    std::function<void()> run;
    bool poll = false;
    qint64 due = -1;
  };

  unitsim::SimulatedUnit unit{2026};
  unitsim::SimUnitLink link{unit};
  FakeServices fakes;
  std::unique_ptr<TForm1> form;
};

TEST_F(SoakTest, ALastingFaultAndWarningForDaysKeepMemoryQueueLogAndPaceInBounds) {
  TForm1& f = *form;
  f.ui().SetupSensorComboBox2->setEditText(QStringLiteral("Ambient"));  // "Lower", warning at 5
  unit.SetSensor(2, 3.0);
  unit.ForceState(84);  // CRITICAL TEMPERATURE: orange, lasting

  std::vector<Tick> ticks{
      {&f.Watcher().UpdateDataTimer, [&f] { f.Watcher().UpdateDataTimerTimer(); }, true},
      {&f.StatusTimer(), [&f] { f.StatusTimerTimer(); }},
      {&f.Settings().WriteChangesTimer, [&f] { f.Settings().WriteChangesTimerTimer(); }},
      {&f.Panel().DisplayIntervalTimer, [&f] { f.Panel().DisplayIntervalTimerTimer(); }},
      {&f.Log().MaintainTimer, [&f] { f.Log().MaintainTimerTimer(); }},
      {&f.Log().HoursRunTimer, [&f] { f.Log().HoursRunTimerTimer(); }},
      {&f.Alarm().BlinkTimer, [&f] { f.Alarm().BlinkTimerTimer(); }},
      // The shutdown timer is left out: a lasting orange fault must never arm
      // it, which is checked below.
  };

  const qint64 endMs = static_cast<qint64>(SoakDays() * kDayMs);
  const long polls = endMs / kPollMs;
  const long fullWarmUp = kWarmUpMs / kPollMs;
  const long warmUpPolls = std::max(polls / 4, std::min(fullWarmUp, polls / 2));
  const bool checkMemory = !probe::kSanitized && warmUpPolls >= fullWarmUp;
  const long batchPolls = std::max(1L, (polls - warmUpPolls) / kBatches);
  const QString errorLog = fakes.logPath(QStringLiteral("Error.log"));
  const QString operationLog = fakes.logPath(QStringLiteral("Operatation.log"));
  const qint64 operationLogSize = QFileInfo(operationLog).size();

  qint64 now = 0;
  long done = 0;
  std::size_t queueMax = 0;
  bool shutdownArmed = false;
  std::vector<double> batchSeconds;
  long rssAfterWarmUp = 0, rssEnd = 0;
  std::size_t heapAfterWarmUp = 0, heapEnd = 0;
  qint64 checkedSize = 0;
  QByteArray checkedHash;
  ino_t logInode = 0;
  int boxes = 0;
  double batchStart = CpuSeconds();

  while (done < polls) {
    Tick* next = nullptr;
    for (Tick& t : ticks) {
      if (!t.timer->isActive()) {
        t.due = -1;
        continue;
      }
      if (t.due < 0) t.due = now + t.timer->interval();
      if (!next || t.due < next->due) next = &t;
    }
    ASSERT_NE(next, nullptr) << "every timer stopped";
    const qint64 step = next->due - now;
    now = next->due;
    unit.Advance(step / 1000.0);
    fakes.clock.now = fakes.clock.now.addMSecs(step);
    next->due = now + next->timer->interval();
    next->run();

    queueMax = std::max(queueMax, f.Queue()->Count());
    shutdownArmed = shutdownArmed || f.Alarm().ShutDownTimer.isActive();
    if (!next->poll) continue;
    ++done;
    const bool warmedUp = done == warmUpPolls;
    if (!warmedUp && (done < warmUpPolls || (done - warmUpPolls) % batchPolls != 0)) continue;

    // End of a batch: what the fakes recorded is theirs, not the program's.
    boxes += static_cast<int>(fakes.boxes.shown.size());
    fakes.boxes.shown.clear();
    fakes.sound.played.clear();
    fakes.clock.pauses.clear();

    const double batchEnd = CpuSeconds();
    if (!warmedUp) batchSeconds.push_back(batchEnd - batchStart);

    // Every earlier byte of the error log is as it was at the last batch.
    const qint64 size = QFileInfo(errorLog).size();
    ASSERT_GE(size, checkedSize) << "the error log shrank after poll " << done;
    if (checkedSize > 0) {
      ASSERT_EQ(PrefixHash(errorLog, checkedSize), checkedHash)
          << "earlier error-log bytes changed by poll " << done;
      ASSERT_EQ(InodeOf(errorLog), logInode) << "the error log was replaced by poll " << done;
    }
    checkedSize = size;
    checkedHash = PrefixHash(errorLog, size);
    logInode = InodeOf(errorLog);

    if (warmedUp) {
      rssAfterWarmUp = probe::ResidentBytes();
      heapAfterWarmUp = probe::HeapInUse();
    }
    batchStart = CpuSeconds();
  }
  rssEnd = probe::ResidentBytes();
  heapEnd = probe::HeapInUse();

  ASSERT_GE(batchSeconds.size(), 6u);
  const std::vector<double> early(batchSeconds.begin(), batchSeconds.begin() + 3);
  const std::vector<double> late(batchSeconds.end() - 3, batchSeconds.end());
  const double earlyMedian = Median(early), lateMedian = Median(late);

  std::printf("soak: %.2f simulated days, %ld polls: %ld to warm up, then %zu batches of %ld\n",
              endMs / double(kDayMs), done, warmUpPolls, batchSeconds.size(), batchPolls);
  std::printf("soak: batch CPU time early %.3f s, late %.3f s (median of three)\n", earlyMedian, lateMedian);
  std::printf("soak: resident %.1f MB after warm-up, %.1f MB at the end (%+ld kB)\n", rssAfterWarmUp / 1e6,
              rssEnd / 1e6, (rssEnd - rssAfterWarmUp) / 1024);
  if (!checkMemory) std::printf("soak: memory not judged (sanitizer, or a run shorter than 12 hours)\n");
  std::printf("soak: heap in use %+ld kB after warm-up\n",
              static_cast<long>(heapEnd) / 1024 - static_cast<long>(heapAfterWarmUp) / 1024);
  std::printf("soak: status queue at most %zu of %zu; error log %lld bytes\n", queueMax,
              StatusMessageQueue::kCapacity, static_cast<long long>(checkedSize));
  RecordProperty("polls", static_cast<int>(done));
  RecordProperty("rss_growth_kb", static_cast<int>((rssEnd - rssAfterWarmUp) / 1024));
  RecordProperty("queue_max", static_cast<int>(queueMax));

  // The conditions held throughout: the fault was reported and logged.
  EXPECT_EQ(f.ui().SystemStatPanel->text(), QStringLiteral("CRITICAL TEMPERATURE"));
  EXPECT_FALSE(shutdownArmed) << "an orange fault armed the emergency shutdown";
  EXPECT_EQ(boxes, 0) << "the program reported failures while soaking";
  EXPECT_EQ(SensorTable[2].Level, 1);

  EXPECT_LE(queueMax, StatusMessageQueue::kCapacity);
  EXPECT_GT(checkedSize, static_cast<qint64>(done) * 100) << "not every poll left an error-log record";
  EXPECT_EQ(QFileInfo(operationLog).size(), operationLogSize) << "the operation log grew while running";
  // Generous: a machine busy with other work may slow any batch down, but not
  // by this much for all three late ones.
  EXPECT_LT(lateMedian, 3.0 * earlyMedian + 0.05) << "polls got slower as the run went on";
  if (checkMemory) {
    EXPECT_LT(rssEnd - rssAfterWarmUp, 1L << 20) << "resident memory grew by 1 MB or more";
    EXPECT_LT(static_cast<long>(heapEnd) - static_cast<long>(heapAfterWarmUp), 1L << 20)
        << "the heap grew by 1 MB or more";
  }
}

}  // namespace
