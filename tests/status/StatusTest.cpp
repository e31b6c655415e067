// SPDX-License-Identifier: GPL-3.0-or-later
// The status for scripts and the metrics file, without a window: what the JSON
// and the metrics leave out, the one error for an unwritable metrics file, the
// file never seen half-written, and the socket answering a status request
// without asking for the window.

#include "core/SingleInstance.h"
#include "config/SettingsKey.h"
#include "status/MetricsFile.h"
#include "status/StatusReport.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QUuid>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <atomic>
#include <thread>

namespace {

const QDateTime kReplyTime(QDate(2026, 12, 7), QTime(12, 0, 0), Qt::OffsetFromUTC, 3600);

StatusSample Sample() {
  StatusSample s;
  s.time = kReplyTime;
  s.unitState = 82;
  s.unitCaption = QStringLiteral("FAN FAILED");
  s.statusCaption = QStringLiteral("FAN FAILED");
  s.statusColour = StatusColour::Orange;
  const char* names[] = {"Evaporator", "CPU \"die\"", "Optional", "Water", "N/A"};
  for (int n = 1; n <= 5; ++n) {
    SensorSample& r = s.sensors.at(static_cast<std::size_t>(n - 1));
    r.number = n;
    r.name = QString::fromUtf8(names[n - 1]);
    r.fitted = n == 1 || n == 2 || n == 4;
    if (n != 4) r.celsius = -40 + 10 * n;
    r.level = n == 1 ? 1 : 0;
    r.warningCelsius = 5 * n;
    r.shutdownCelsius = 6 * n;
  }
  s.frontFanRpm = 1200;
  s.rearFanRpm = 0;
  s.cpuClockMHz = 0;  // not measured yet
  s.cpuLoadPercent = 25;
  s.runningHours = -1;
  s.shutdownArmed = true;
  s.shutdownSecondsLeft = 170;
  return s;
}

StatusView View(bool withReply = true) {
  StatusView v;
  v.version = QStringLiteral("1.22");
  if (withReply) v.sample = Sample();
  v.linkUp = false;
  v.now = kReplyTime.addMSecs(12345);
  return v;
}

TEST(StatusJson, CarriesTheReplyAndMarksWhatIsUnknown) {
  const QJsonObject o = StatusJson(View());
  EXPECT_EQ(o["last_reply"].toString(), "2026-12-07T12:00:00.000+01:00");
  EXPECT_DOUBLE_EQ(o["age_seconds"].toDouble(), 12.3);
  EXPECT_FALSE(o["link_up"].toBool());
  EXPECT_EQ(o["status_colour"].toString(), "orange");
  EXPECT_TRUE(o["running_hours"].isNull());
  EXPECT_EQ(o["shutdown_seconds_left"].toInt(), 170);
  const QJsonArray sensors = o["sensors"].toArray();
  ASSERT_EQ(sensors.size(), 5);
  EXPECT_TRUE(sensors[3].toObject()["celsius"].isNull());
  EXPECT_EQ(sensors[1].toObject()["celsius"].toInt(), -20);

  // Before the first reply nothing is made up.
  const QJsonObject none = StatusJson(View(false));
  for (const char* key : {"last_reply", "age_seconds", "unit_state", "front_fan_rpm", "shutdown_armed"})
    EXPECT_TRUE(none[key].isNull()) << key;
  EXPECT_TRUE(none["sensors"].toArray().isEmpty());
  EXPECT_TRUE(StatusTable(none).contains("none yet"));
  EXPECT_TRUE(StatusTable(o).contains("no reading"));
}

TEST(Prometheus, LeavesOutWhatHasNoReadingAndEscapesNames) {
  const QString text = QString::fromUtf8(PrometheusText(View()));
  // A fitted sensor without a reading keeps its level and limits.
  EXPECT_FALSE(text.contains("vornalith_temperature_celsius{sensor=\"4\""));
  EXPECT_TRUE(text.contains("vornalith_sensor_level{sensor=\"4\",name=\"Water\"} 0\n"));
  // Sensors nobody fitted are not there at all.
  EXPECT_FALSE(text.contains("sensor=\"3\""));
  EXPECT_FALSE(text.contains("sensor=\"5\""));
  EXPECT_TRUE(text.contains("vornalith_temperature_celsius{sensor=\"2\",name=\"CPU \\\"die\\\"\"} -20\n"));
  EXPECT_FALSE(text.contains("vornalith_running_hours"));
  EXPECT_FALSE(text.contains("vornalith_cpu_clock_hertz"));
  EXPECT_TRUE(text.contains("vornalith_cpu_load_ratio 0.25\n"));
  EXPECT_TRUE(text.contains("vornalith_last_reply_timestamp_seconds 1796641200\n"));

  EXPECT_EQ(PrometheusText(View(false)),
            "# HELP vornalith_link_up Whether the control centre's link to the cooling unit is up (1) "
            "or lost (0).\n# TYPE vornalith_link_up gauge\nvornalith_link_up 0\n");
}

QDateTime Now() { return kReplyTime; }

TEST(MetricsFileTest, AFailureIsSaidOncePerReasonAndANodeIsNeverReplaced) {
  QTemporaryDir dir;
  const QString path = dir.filePath("missing/vornalith.prom");
  QStringList notices;
  MetricsFile metrics(path, "1.22", Sample(), true, [&](const QString& m) { notices << m; }, Now);
  for (int i = 0; i < 3; ++i) metrics.OnStatusSampled(Sample());
  metrics.OnLinkStateChanged(false);
  ASSERT_EQ(notices.size(), 1);
  EXPECT_TRUE(notices[0].startsWith("Metrics file not written: " + path + ": ")) << notices[0].toStdString();

  // The folder comes: a success says nothing.
  ASSERT_TRUE(QDir(dir.path()).mkdir("missing"));
  EXPECT_TRUE(metrics.Write());
  // Something that is not a regular file takes the name: another reason,
  // said again, and the thing is left as it is.
  ASSERT_TRUE(QFile::remove(path));
  // As root, a character device like /dev/null's; otherwise a pipe.
  const bool root = geteuid() == 0;
  ASSERT_EQ(root ? mknod(QFile::encodeName(path).constData(), S_IFCHR | 0600, makedev(1, 3))
                 : mkfifo(QFile::encodeName(path).constData(), 0600),
            0);
  EXPECT_FALSE(metrics.Write());
  EXPECT_FALSE(metrics.Write());
  ASSERT_EQ(notices.size(), 2);
  EXPECT_EQ(notices[1], "Metrics file not written: " + path + ": it is not a regular file");
  struct stat st {};
  ASSERT_EQ(lstat(QFile::encodeName(path).constData(), &st), 0);
  EXPECT_TRUE(root ? S_ISCHR(st.st_mode) : S_ISFIFO(st.st_mode));
}

TEST(MetricsFileTest, ALostLinkIsWrittenAtOnceAndThenKeptFresh) {
  QTemporaryDir dir;
  const QString path = dir.filePath("vornalith.prom");
  MetricsFile metrics(path, "1.22", Sample(), true, [](const QString&) { FAIL(); }, Now);
  EXPECT_FALSE(QFile::exists(path));  // nothing until there is something to say
  metrics.OnLinkStateChanged(false);
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  EXPECT_TRUE(file.readAll().contains("vornalith_link_up 0\n"));
  EXPECT_TRUE(metrics.LostLinkTimer().isActive());
  EXPECT_EQ(metrics.LostLinkTimer().interval(), MetricsFile::kLostLinkRewriteMs);
  metrics.OnLinkStateChanged(true);
  EXPECT_FALSE(metrics.LostLinkTimer().isActive());
  // Nothing left behind, and readable by a collector running as another user.
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"vornalith.prom"});
  EXPECT_TRUE(QFile::permissions(path) & QFileDevice::ReadOther);
}

TEST(MetricsFileTest, ChosenOnTheCommandLineElseInTheSettings) {
  QTemporaryDir dir;
  const QString settings = dir.filePath("tessalinique.conf");
  EXPECT_EQ(ChosenMetricsFile(QString(), settings), QString());
  SettingsKey(settings, SettingsKey::Open::CreateIfMissing)
      .WriteString(QStringLiteral("Metrics file"), QStringLiteral("/var/lib/node/v.prom"));
  EXPECT_EQ(ChosenMetricsFile(QString(), settings), "/var/lib/node/v.prom");
  EXPECT_EQ(ChosenMetricsFile(QStringLiteral("/tmp/x.prom"), settings), "/tmp/x.prom");
}

TEST(MetricsFileTest, AReaderNeverSeesAPartialFile) {
  QTemporaryDir dir;
  const QString path = dir.filePath("vornalith.prom");
  MetricsFile metrics(path, "1.22", Sample(), true, [](const QString&) {}, Now);
  ASSERT_TRUE(metrics.Write());
  std::atomic<bool> done{false};
  std::atomic<int> reads{0}, partial{0};
  std::thread reader([&] {
    while (!done) {
      QFile f(path);
      if (!f.open(QIODevice::ReadOnly)) {
        ++partial;  // the file must always be there
        continue;
      }
      const QByteArray got = f.readAll();
      ++reads;
      if (!got.endsWith("vornalith_cpu_load_ratio 0.25\n") || !got.startsWith("# HELP vornalith_link_up"))
        ++partial;
    }
  });
  StatusSample s = Sample();
  for (int i = 0; i < 400; ++i) {
    s.frontFanRpm = 1000 + i;  // a different file every time
    metrics.OnStatusSampled(s);
  }
  done = true;
  reader.join();
  EXPECT_GT(reads.load(), 50);
  EXPECT_EQ(partial.load(), 0);
}

TEST(InstanceSocket, AStatusRequestIsAnsweredAndLeavesTheWindowAlone) {
  const QString key = "status-test-" + QUuid::createUuid().toString(QUuid::WithoutBraces);
  SingleInstance running(key);
  ASSERT_TRUE(running.TryBecomePrimary());
  // Reaches this thread queued, as it reaches the window.
  int restores = 0;
  QObject receiver;
  QObject::connect(&running, &SingleInstance::restoreRequested, &receiver, [&] { ++restores; });
  const SingleInstance asking(key);
  EXPECT_EQ(asking.AskStatus(2000), std::optional<QByteArray>(QByteArray()));  // no provider yet

  // Answered on the socket's own thread: this thread is blocked meanwhile,
  // as the window's thread is during a slow exchange.
  running.SetStatusProvider([] { return QByteArray("{\"link_up\":true}"); });
  EXPECT_EQ(asking.AskStatus(2000), std::optional<QByteArray>("{\"link_up\":true}"));
  QCoreApplication::processEvents();
  EXPECT_EQ(restores, 0);

  // A plain second start still brings the window back.
  SingleInstance second(key);
  EXPECT_FALSE(second.TryBecomePrimary());
  QElapsedTimer t;
  t.start();
  while (restores == 0 && t.elapsed() < 5000) QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
  EXPECT_EQ(restores, 1);
  running.SetStatusProvider({});
}

TEST(InstanceSocket, NobodyListeningIsNoAnswer) {
  const SingleInstance asking("status-test-" + QUuid::createUuid().toString(QUuid::WithoutBraces));
  EXPECT_FALSE(asking.AskStatus(500).has_value());
}

}  // namespace
