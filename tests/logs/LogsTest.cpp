// SPDX-License-Identifier: GPL-3.0-or-later
// The logs as the watch keeps them, without a window: what a snapshot
// records, the running hours' tick and the size check's question.

#include "logs/Logs.h"

#include "monitor/DeviceData.h"
#include "support/FakeServices.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

struct FakeLogsContext : LogsContext {
  SnapshotSettings chosen{QStringLiteral("Vornalith"), QStringLiteral("Cooling"), 5000,
                          QStringLiteral("Alarm Sound"), QStringLiteral("12"), 40};
  int hoursShown = 0, offered = 0, offeredKb = 0;
  bool terminating = false;

  SnapshotSettings CurrentSettings() const override { return chosen; }
  void ShowOperatingHoursNow() override { ++hoursShown; }
  void OfferToClearOperationLog(int sizeKb) override {
    ++offered;
    offeredKb = sizeKb;
  }
  bool Terminating() const override { return terminating; }
  int SampledCpuClock() const override { return 3600; }
  int SampledCpuLoad() const override { return 7; }
};

struct LogsWithoutWindow : ::testing::Test {
  QTemporaryDir folder;
  UnitModel model;
  FakeLogsContext context;
  FakeClock clock;
  QStringList reports;
  Logs logs{model, context, clock, [this](const QString& t) { reports << t; }};

  void SetUp() override { logs.Open(folder.path() + QLatin1Char('/')); }
  void TearDown() override { ResetDeviceData(); }
  QList<QByteArray> Fields(const QString& name) {
    QFile f(folder.filePath(name));
    if (!f.open(QIODevice::ReadOnly)) return {};
    QList<QByteArray> lines = f.readAll().split('\n');
    lines.removeAll(QByteArray());
    return lines.last().trimmed().split('\t');
  }
};

TEST_F(LogsWithoutWindow, ASnapshotRecordsTheModelAndTheChosenSettings) {
  model.status = {QStringLiteral("RESTART DELAY"), PanelColour::Orange};
  model.operatingHours = 1234;
  SensorTable[1].Temperature = -31;
  logs.WriteErrorLogSnapshot();
  const QList<QByteArray> f = Fields(QStringLiteral("Error.log"));
  ASSERT_EQ(f.size(), 38);
  EXPECT_EQ(f[1], "3600");
  EXPECT_EQ(f[2], "7");
  EXPECT_TRUE(f.contains("Vornalith") && f.contains("Cooling") && f.contains("Alarm Sound"));
  EXPECT_TRUE(f.contains("1234") && f.contains("RESTART DELAY"));
  EXPECT_FALSE(QFile::exists(folder.filePath(QStringLiteral("Operatation.log"))));

  // A boot temperature that is no number ends the record with a report.
  context.chosen.bootTemperature = QStringLiteral("x");
  logs.WriteOperationLogSnapshot();
  EXPECT_FALSE(QFile::exists(folder.filePath(QStringLiteral("Operatation.log"))));
  ASSERT_EQ(reports.size(), 1);
  EXPECT_TRUE(reports[0].contains("'x' is not a valid integer value")) << reports[0].toStdString();

  // After the close nothing is written and nothing fails.
  logs.Close();
  logs.WriteErrorLogSnapshot();
  EXPECT_EQ(reports.size(), 1);
}

TEST_F(LogsWithoutWindow, TheHoursCountOnlyOnceTheUnitToldThem) {
  logs.HoursRunTimerTimer();
  EXPECT_EQ(model.operatingHours, -1);
  EXPECT_EQ(context.hoursShown, 0);
  model.operatingHours = 10;
  logs.HoursRunTimerTimer();
  EXPECT_EQ(model.operatingHours, 11);
  EXPECT_EQ(context.hoursShown, 1);
}

TEST_F(LogsWithoutWindow, TheSizeCheckRunsOnceAndAsksOnlyPastTheLimit) {
  logs.MaintainTimer.start();
  logs.MaintainTimerTimer();
  EXPECT_FALSE(logs.MaintainTimer.isActive());
  EXPECT_EQ(context.offered, 0);

  QFile big(folder.filePath(QStringLiteral("Operatation.log")));
  ASSERT_TRUE(big.open(QIODevice::WriteOnly));
  big.write(QByteArray(501 * 1024, 'x'));
  big.close();
  logs.CheckLogSizes();
  EXPECT_EQ(context.offered, 1);
  EXPECT_EQ(context.offeredKb, 513);  // whole thousands of bytes
}

}  // namespace
