// SPDX-License-Identifier: GPL-3.0-or-later
// The history's recording without a window, as a headless guard runs it:
// what a status sample and a change of the link leave in the file, and the
// notices of a file that stops and starts taking them, said once per spell
// and at their levels in the program's messages.

#include "history/HistoryRecorder.h"
#include "monitor/StatusSample.h"

#include "DiskFull.h"
#include "monitor/QStringPrinter.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace {

constexpr qint64 kStart = 1'800'000'000'000LL;

StatusSample Sample(qint64 ms, int evaporator) {
  StatusSample s;
  // As the window stamps it: local time with its offset.
  s.time = QDateTime::fromMSecsSinceEpoch(ms).toOffsetFromUtc(2 * 3600);
  s.unitState = 3;
  for (int n = 0; n < 5; ++n) s.sensors[n].number = n + 1;
  s.sensors[0] = {1, QStringLiteral("Evaporator"), true, evaporator, 0, true, -20, -10};
  s.sensors[2] = {3, QStringLiteral("GPU"), true, std::nullopt, 0, false, 5, 2};
  s.sensors[4] = {5, QStringLiteral("N/A"), false, std::nullopt, 0, true, 0, 0};
  s.frontFanRpm = 1450;
  s.rearFanRpm = 1200;
  s.cpuClockMHz = 2400;
  s.cpuLoadPercent = 12;
  return s;
}

using Said = std::vector<std::pair<QtMsgType, QString>>;
Said* capturing = nullptr;

// Qt's own messages (the SQL driver's) are not ours to count.
void Capture(QtMsgType type, const QMessageLogContext&, const QString& text) {
  if (capturing && text.startsWith(QLatin1String("History "))) capturing->emplace_back(type, text);
}

// The program's messages as a service without a status bar has them.
struct Journal {
  Said said;
  QtMessageHandler previous = nullptr;
  Journal() {
    capturing = &said;
    previous = qInstallMessageHandler(Capture);
  }
  ~Journal() {
    qInstallMessageHandler(previous);
    capturing = nullptr;
  }
  Said Take() { return std::exchange(said, {}); }
};

TEST(HistoryRecorder, SamplesAndLinkChangesReachTheFileWithTheirMarks) {
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("history.sqlite"));
  std::vector<HistoryPoint> recorded;
  {
    HistoryRecorder recorder(path);
    ASSERT_TRUE(recorder.Store().Saving()) << recorder.Store().FailureReason().toStdString();
    struct Case {
      const char* what;
      void (*change)(StatusSample&);
      bool warning;
      bool shutdown;
    };
    const Case cases[] = {
        {"normal", [](StatusSample&) {}, false, false},
        {"a fitted sensor at its warning limit", [](StatusSample& s) { s.sensors[0].level = 1; }, true, false},
        // A row no sensor stands behind reaches nothing.
        {"an unfitted row at its shut-down level", [](StatusSample& s) { s.sensors[4].level = 2; }, false, false},
        {"an orange status", [](StatusSample& s) { s.statusColour = StatusColour::Orange; }, true, false},
        {"the alarm action ran", [](StatusSample& s) { s.warningRaised = true; }, true, false},
        {"the shutdown armed", [](StatusSample& s) { s.shutdownArmed = true; }, false, true},
    };
    qint64 t = kStart;
    for (const Case& c : cases) {
      SCOPED_TRACE(c.what);
      StatusSample sample = Sample(t, -35 + static_cast<int>(recorded.size()));
      c.change(sample);
      recorded.push_back(recorder.Sampled(sample));
      EXPECT_EQ(recorded.back().ms, t);
      EXPECT_EQ(recorded.back().warning, c.warning);
      EXPECT_EQ(recorded.back().shutdown, c.shutdown);
      t += 3000;
    }
    const LinkEvent lost = recorder.LinkChanged(false, QDateTime::fromMSecsSinceEpoch(t + 1000));
    EXPECT_EQ(lost.ms, t + 1000);
    EXPECT_FALSE(lost.up);
    recorder.LinkChanged(true, QDateTime::fromMSecsSinceEpoch(t + 10000).toOffsetFromUtc(-5 * 3600));
  }
  HistoryStore reopened(path);
  const std::vector<HistoryPoint> read = reopened.Read(kStart, kStart + 60000);
  EXPECT_EQ(read, recorded);
  ASSERT_FALSE(read.empty());
  EXPECT_EQ(read[0].celsius[0], -35);
  EXPECT_EQ(read[0].celsius[2], std::nullopt);
  EXPECT_EQ(read[0].state, 3);
  EXPECT_EQ(read[0].rearRpm, 1200);
  EXPECT_EQ(read[0].cpuMHz, 2400);
  const HistorySensors& sensors = reopened.Sensors();
  EXPECT_EQ(sensors[0], (HistorySensor{QStringLiteral("Evaporator"), true, true, -20, -10}));
  EXPECT_EQ(sensors[2], (HistorySensor{QStringLiteral("GPU"), true, false, 5, 2}));
  EXPECT_FALSE(sensors[4].fitted);
  const qint64 lostAt = kStart + 18000 + 1000;
  EXPECT_EQ(LostLinkSpans(reopened.LinkEvents(kStart, kStart + 60000), kStart, kStart + 60000),
            (std::vector<TimeSpan>{{lostAt, kStart + 18000 + 10000}}));
}

TEST(HistoryRecorder, NoticesAreSaidOncePerSpellAsAWarningAndAnInformation) {
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("history.sqlite"));
  {
    QFile damaged(path);
    ASSERT_TRUE(damaged.open(QIODevice::WriteOnly));
    damaged.write(QByteArray(4096, 'x'));
  }
  Journal journal;
  HistoryRecorder recorder(path);
  // Said as it opens, before any sample.
  Said said = journal.Take();
  ASSERT_EQ(said.size(), 1u);
  EXPECT_EQ(said[0].first, QtWarningMsg);
  EXPECT_TRUE(said[0].second.startsWith(kHistoryNotSavedText.arg(QStringLiteral("history.sqlite is damaged"))))
      << said[0].second.toStdString();

  qint64 t = kStart;
  const auto sample = [&](int replies) {
    for (int i = 0; i < replies; ++i, t += 3000) recorder.Sampled(Sample(t, -35));
  };
  // A fresh file takes the first sample.
  sample(5);
  EXPECT_EQ(journal.Take(), (Said{{QtInfoMsg, kHistorySavedAgainText}}));

  {
    DiskFull full;
    sample(20);
    recorder.LinkChanged(false, QDateTime::fromMSecsSinceEpoch(t));
  }
  said = journal.Take();
  ASSERT_EQ(said.size(), 1u);
  EXPECT_EQ(said[0].first, QtWarningMsg);
  EXPECT_TRUE(said[0].second.startsWith(kHistoryNotSavedText.arg(QString())));
  EXPECT_FALSE(recorder.Store().Saving());
  // The file is tried again at most every half minute of samples.
  sample(11);
  EXPECT_EQ(journal.Take(), (Said{{QtInfoMsg, kHistorySavedAgainText}}));
  sample(20);
  EXPECT_TRUE(journal.Take().empty());
  EXPECT_EQ(recorder.Store().Read(0, t).size(), 56u);
  EXPECT_EQ(recorder.Store().LinkEvents(0, t).size(), 1u);
}

}  // namespace
