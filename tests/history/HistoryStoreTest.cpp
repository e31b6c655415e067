// SPDX-License-Identifier: GPL-3.0-or-later
// The history file: what goes in comes back out, a week is kept, a killed
// writer leaves a readable file, and a file that cannot be used leaves the
// history in memory, said once, until the file can be used again: a damaged
// or foreign file is kept aside for a fresh one, a full disk is waited out.

#include "history/HistoryStore.h"

#include "DiskFull.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <unistd.h>

namespace {

constexpr qint64 kStart = 1'800'000'000'000LL;

HistoryPoint Point(qint64 ms, int evaporator) {
  HistoryPoint p;
  p.ms = ms;
  p.state = 3;
  p.celsius[0] = evaporator;
  p.frontRpm = 1450;
  p.rearRpm = 1200;
  p.cpuMHz = 2400;
  p.cpuLoad = 12;
  return p;
}

HistorySensors Sensors() {
  HistorySensors s;
  s[0] = {QStringLiteral("Evaporator"), true, true, -20, -10};
  s[2] = {QStringLiteral("Graphic, \"GPU\""), true, false, 5, 2};
  return s;
}

struct Failure {
  int calls = 0;
  int resumed = 0;
  QString reason;
  std::function<void(const QString&)> Callback() {
    return [this](const QString& r) {
      ++calls;
      reason = r;
    };
  }
  std::function<void()> Resumed() {
    return [this] { ++resumed; };
  }
};

QByteArray Contents(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

TEST(HistoryStore, SamplesSensorsAndLinkChangesReadBackAfterReopening) {
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("state/history.sqlite"));
  HistoryPoint missing = Point(kStart + 3000, -34);
  missing.celsius[2] = std::nullopt;
  missing.celsius[4] = -7;
  missing.state = 85;
  missing.warning = true;
  missing.shutdown = true;
  const std::vector<HistoryPoint> written{Point(kStart, -35), missing, Point(kStart + 6000, -33)};
  {
    HistoryStore store(path);
    ASSERT_TRUE(store.Saving()) << store.FailureReason().toStdString();
    for (const HistoryPoint& p : written) store.Append(p, Sensors());
    store.NoteLink(kStart + 7000, false);
    store.NoteLink(kStart + 16000, true);
  }
  HistoryStore store(path);
  ASSERT_TRUE(store.Saving());
  EXPECT_EQ(store.Read(kStart, kStart + 10000), written);
  EXPECT_EQ(store.Read(kStart + 1, kStart + 6000), std::vector<HistoryPoint>{missing});
  EXPECT_EQ(store.Sensors(), Sensors());
  EXPECT_EQ(LostLinkSpans(store.LinkEvents(kStart, kStart + 20000), kStart, kStart + 20000),
            (std::vector<TimeSpan>{{kStart + 7000, kStart + 16000}}));
  // From within the gap the change before the range still counts.
  EXPECT_EQ(LostLinkSpans(store.LinkEvents(kStart + 10000, kStart + 20000), kStart + 10000, kStart + 20000),
            (std::vector<TimeSpan>{{kStart + 10000, kStart + 16000}}));
}

TEST(HistoryStore, KeepsAWeekInTheFileAndADayInMemory) {
  QTemporaryDir dir;
  HistoryStore file(dir.filePath(QStringLiteral("history.sqlite")));
  HistoryStore memory(QString{});
  ASSERT_TRUE(file.Saving());
  ASSERT_FALSE(memory.Saving());
  constexpr qint64 kStep = 10 * 60 * 1000;
  const qint64 last = kStart + 8 * 24 * 6 * kStep;
  for (qint64 t = kStart; t <= last; t += kStep) {
    file.Append(Point(t, -35), Sensors());
    memory.Append(Point(t, -35), Sensors());
  }
  // Pruned once an hour: what is left is at most an hour older than the limit.
  for (auto [store, keep] : {std::pair{&file, HistoryStore::kRetentionMs}, {&memory, HistoryStore::kMemoryMs}}) {
    const std::vector<HistoryPoint> left = store->Read(0, last + 1);
    ASSERT_FALSE(left.empty());
    EXPECT_GE(left.front().ms, last - keep - HistoryStore::kPruneEveryMs);
    EXPECT_LE(left.front().ms, last - keep + kStep);
    EXPECT_EQ(left.back().ms, last);
  }
}

TEST(HistoryStore, AKilledWriterLeavesAReadableFileWithEverySampleItReported) {
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("history.sqlite"));
  QProcess probe;
  probe.start(QStringLiteral(HISTORY_PROBE), {path});
  ASSERT_TRUE(probe.waitForStarted(10000));
  long long reported = -1;
  QByteArray pending;
  while (reported < 400 && probe.waitForReadyRead(20000)) {
    pending += probe.readAllStandardOutput();
    const qsizetype end = pending.lastIndexOf('\n');
    if (end < 0) continue;
    reported = pending.left(end).split('\n').last().toLongLong();
    pending = pending.mid(end + 1);
  }
  probe.kill();  // SIGKILL, in the middle of a later write
  probe.waitForFinished(10000);
  ASSERT_GE(reported, 400) << probe.readAllStandardError().toStdString();

  {
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("check"));
    db.setDatabaseName(path);
    ASSERT_TRUE(db.open());
    QSqlQuery q(db);
    ASSERT_TRUE(q.exec(QStringLiteral("PRAGMA integrity_check")) && q.next());
    EXPECT_EQ(q.value(0).toString(), QStringLiteral("ok"));
  }
  QSqlDatabase::removeDatabase(QStringLiteral("check"));
  HistoryStore store(path);
  ASSERT_TRUE(store.Saving());
  const std::vector<HistoryPoint> read = store.Read(0, kStart * 2);
  ASSERT_GE(static_cast<long long>(read.size()), reported + 1);
  for (long long i = 0; i <= reported; ++i) {
    ASSERT_EQ(read[i].ms, kStart + i * 3000);
    ASSERT_EQ(read[i].celsius[0], -40 + i % 30);
  }
}

TEST(HistoryStore, AFileThatCannotBeUsedLeavesTheHistoryInMemoryAndSaysSoOnce) {
  struct Case {
    const char* what;
    std::function<QString(const QTemporaryDir&)> prepare;  // gives the path, or empty to skip
  };
  const QByteArray garbage = QByteArray("not a database, whatever it was. ").repeated(200);
  const Case cases[] = {
      {"folder that cannot be made",
       [](const QTemporaryDir& d) {
         QFile blocker(d.filePath(QStringLiteral("state")));
         blocker.open(QIODevice::WriteOnly);
         return d.filePath(QStringLiteral("state/history.sqlite"));
       }},
      {"read-only folder",
       [](const QTemporaryDir& d) {
         QDir().mkpath(d.filePath(QStringLiteral("ro")));
         QFile::setPermissions(d.filePath(QStringLiteral("ro")), QFile::ReadOwner | QFile::ExeOwner);
         // Whoever may write anyway (root) cannot see this case.
         if (access(qPrintable(d.filePath(QStringLiteral("ro"))), W_OK) == 0) return QString();
         return d.filePath(QStringLiteral("ro/history.sqlite"));
       }},
      {"damaged file",
       [&garbage](const QTemporaryDir& d) {
         QFile f(d.filePath(QStringLiteral("history.sqlite")));
         f.open(QIODevice::WriteOnly);
         f.write(garbage);
         return f.fileName();
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    QTemporaryDir dir;
    const QString path = c.prepare(dir);
    if (path.isEmpty()) continue;
    Failure failure;
    {
      HistoryStore store(path, failure.Callback(), failure.Resumed());
      EXPECT_FALSE(store.Saving());
      EXPECT_EQ(failure.calls, 1);
      EXPECT_FALSE(failure.reason.isEmpty());
      const bool damaged = c.what == std::string("damaged file");
      if (damaged) {
        EXPECT_FALSE(QFile::exists(path));
        ASSERT_TRUE(store.MovedAsideTo().startsWith(path + QStringLiteral(".damaged-")));
        EXPECT_EQ(Contents(store.MovedAsideTo()), garbage);
        EXPECT_TRUE(failure.reason.contains(QStringLiteral("moved aside")));
      }
      store.Append(Point(kStart, -35), Sensors());
      store.Append(Point(kStart + 3000, -34), Sensors());
      store.NoteLink(kStart + 4000, false);
      EXPECT_EQ(store.Read(kStart, kStart + 5000).size(), 2u);
      EXPECT_EQ(LostLinkSpans(store.LinkEvents(kStart, kStart + 9000), kStart, kStart + 9000),
                (std::vector<TimeSpan>{{kStart + 4000, kStart + 9000}}));
      EXPECT_EQ(failure.calls, 1);
      // In place of a damaged file a fresh one is started at the next sample.
      EXPECT_EQ(store.Saving(), damaged);
      EXPECT_EQ(failure.resumed, damaged ? 1 : 0);
    }
    if (c.what == std::string("damaged file")) {
      HistoryStore reopened(path);
      EXPECT_EQ(reopened.Read(kStart, kStart + 5000).size(), 2u);
      EXPECT_EQ(reopened.LinkEvents(kStart, kStart + 9000).size(), 1u);
    }
    QFile::setPermissions(dir.filePath(QStringLiteral("ro")), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  }
}

TEST(HistoryStore, AFullDiskThatIsFreedGetsEveryReplyOfTheSpellFromMemory) {
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("history.sqlite"));
  Failure failure;
  std::vector<HistoryPoint> written;
  qint64 t = kStart;
  const auto append = [&](HistoryStore& store, int replies) {
    for (int i = 0; i < replies; ++i, t += 3000) {
      written.push_back(Point(t, -40 + static_cast<int>(written.size() % 30)));
      store.Append(written.back(), Sensors());
    }
  };
  {
    HistoryStore store(path, failure.Callback(), failure.Resumed());
    append(store, 3);
    {
      DiskFull full;
      append(store, 10);
      store.NoteLink(t - 1000, false);
      append(store, 10);
      EXPECT_FALSE(store.Saving());
    }
    EXPECT_EQ(failure.calls, 1);
    // Tried again at least every half minute.
    append(store, 11);
    EXPECT_TRUE(store.Saving());
    EXPECT_EQ(failure.resumed, 1);
    // Freed only as the program closes: the close still saves the spell.
    {
      DiskFull full;
      append(store, 2);
    }
    EXPECT_EQ(failure.calls, 2);
  }
  HistoryStore reopened(path);
  EXPECT_EQ(reopened.Read(0, t), written);
  EXPECT_EQ(LostLinkSpans(reopened.LinkEvents(0, t), 0, t), (std::vector<TimeSpan>{{kStart + 38000, t}}));
}

TEST(HistoryStore, AnotherProgramsDatabaseIsMovedAsideUntouchedWhileOneOfOursIsKept) {
  const char* ours =
      "CREATE TABLE samples (t INTEGER PRIMARY KEY, state INTEGER, t1 INTEGER, t2 INTEGER, t3 INTEGER, "
      "t4 INTEGER, t5 INTEGER, front INTEGER, rear INTEGER, mhz INTEGER, load INTEGER, flags INTEGER);"
      "INSERT INTO samples VALUES (1800000000000, 3, -35, NULL, NULL, NULL, NULL, 1450, 1200, 2400, 12, 0)";
  struct Case {
    const char* what;
    const char* sql;  // ';'-separated
    bool foreign;
  };
  const Case cases[] = {
      {"another samples table", "CREATE TABLE samples (id INTEGER, value TEXT);INSERT INTO samples VALUES (1, 'x')",
       true},
      {"another program's mark", "PRAGMA application_id=12345;CREATE TABLE notes (t TEXT)", true},
      {"our file as written before the mark", ours, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("history.sqlite"));
    {
      QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("make"));
      db.setDatabaseName(path);
      ASSERT_TRUE(db.open());
      for (const QString& sql : QString::fromLatin1(c.sql).split(QLatin1Char(';')))
        ASSERT_TRUE(QSqlQuery(db).exec(sql));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("make"));
    const QByteArray before = Contents(path);
    Failure failure;
    HistoryStore store(path, failure.Callback(), failure.Resumed());
    EXPECT_EQ(store.Saving(), !c.foreign);
    if (!c.foreign) {
      EXPECT_EQ(store.Read(kStart, kStart + 1), std::vector<HistoryPoint>{Point(kStart, -35)});
      continue;
    }
    EXPECT_EQ(failure.calls, 1);
    EXPECT_TRUE(failure.reason.contains(QStringLiteral("moved aside"))) << failure.reason.toStdString();
    ASSERT_TRUE(store.MovedAsideTo().startsWith(path + QStringLiteral(".foreign-")));
    // Byte for byte: neither written into nor switched to WAL.
    EXPECT_EQ(Contents(store.MovedAsideTo()), before);
    EXPECT_FALSE(QFile::exists(store.MovedAsideTo() + QStringLiteral("-wal")));
    store.Append(Point(kStart, -35), Sensors());
    EXPECT_TRUE(store.Saving());
    EXPECT_EQ(Contents(store.MovedAsideTo()), before);
  }
}

TEST(HistoryStore, FaultSpansRunUntilTheNextSampleOrAShortHold) {
  std::vector<HistoryPoint> points;
  for (int i = 0; i < 6; ++i) points.push_back(Point(kStart + i * 3000, -35));
  points[1].state = points[2].state = 85;
  points[5].state = 81;
  EXPECT_EQ(FaultSpans(points, 6000),
            (std::vector<TimeSpan>{{kStart + 3000, kStart + 9000}, {kStart + 15000, kStart + 21000}}));
}

}  // namespace
