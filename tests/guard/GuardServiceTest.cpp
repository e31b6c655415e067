// SPDX-License-Identifier: GPL-3.0-or-later
// The guard's watch with the clock seam, on a system bus where python-dbusmock
// stands in for logind (tests/support/logind_mock.sh starts both): an
// emergency asks logind for PowerOff(false) when its three minutes are up
// and the unit's notice follows; logind's sessions decide who may have the
// unit; a handed-over setup is what the guard watches with from then on.

#include "guard/GuardService.h"
#include "guard/HandOver.h"
#include "guard/ServiceManager.h"
#include "host/SystemServices.h"
#include "monitor/DeviceData.h"
#include "support/FakeServices.h"
#include "support/StatusReply.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <algorithm>

namespace {

struct RecordingManager : IServiceManager {
  QList<QByteArray> sent;
  void Notify(const QByteArray& state) override { sent << state; }
};

class GuardServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetDeviceData();
    fakes.link.respond = [this](const Bytes& req) {
      if (req.size() == packet::kWritePacketLength) return FakeLink::Answer{3, Bytes{0x01, req[1], 0x04}};
      const std::uint8_t number = req.size() > 1 ? req[1] : 0;
      return FakeLink::Answer{28, number == packet::kStatus ? MakeReplyFrame(number, StatusPayload(reading))
                                                            : MakeReplyFrame(number)};
    };
    GuardService::Seams seams;
    seams.link = &fakes.link;
    seams.clock = &fakes.clock;
    seams.powerOff = &logind;
    seams.manager = &manager;
    seams.cpu = &fakes.cpu;
    seams.folders = {dir.path() + "/state", dir.path() + "/run", dir.path() + "/etc"};
    guard = std::make_unique<GuardService>(seams);
    guard->Start();
  }
  void TearDown() override {
    guard.reset();
    ResetDeviceData();
  }
  void Poll() { guard->Watcher().UpdateDataTimerTimer(); }

  // What the mock logind was asked, from its call log.
  static QString LogindCalls() {
    QFile log(qEnvironmentVariable("VCC_LOGIND_CALLS"));
    return log.open(QIODevice::ReadOnly) ? QString::fromUtf8(log.readAll()) : QString();
  }
  static void AddSession(const QString& id, uint uid, bool active) {
    QDBusMessage call = QDBusMessage::createMethodCall(
        "org.freedesktop.login1", "/org/freedesktop/login1", "org.freedesktop.DBus.Mock", "AddSession");
    call << id << QStringLiteral("seat0") << uid << QStringLiteral("user%1").arg(uid) << active;
    ASSERT_EQ(QDBusConnection::systemBus().call(call).type(), QDBusMessage::ReplyMessage);
  }

  Reading reading;
  FakeServices fakes;
  LogindPowerOff logind;
  RecordingManager manager;
  QTemporaryDir dir;
  std::unique_ptr<GuardService> guard;
};

bool MockLogind() { return qEnvironmentVariableIsSet("VCC_LOGIND_CALLS"); }

TEST_F(GuardServiceTest, ARedReadingPowersOffThroughLogindThreeMinutesLaterAndTheNoticeFollows) {
  if (!MockLogind()) GTEST_SKIP() << "run by logind_mock.sh";
  ASSERT_TRUE(guard->Watching());
  ASSERT_TRUE(manager.sent.contains("READY=1"));
  reading.tenths[0] = 50;  // the evaporator at +5 °C: its shut-down limit is 0 °C
  Poll();
  QTimer& due = guard->Watcher().Alarm().ShutDownTimer;
  ASSERT_TRUE(due.isActive());
  EXPECT_EQ(due.interval(), 180000);
  EXPECT_FALSE(LogindCalls().contains("PowerOff"));
  // An armed guard keeps the unit.
  EXPECT_TRUE(guard->Release().startsWith("armed "));
  EXPECT_TRUE(guard->Watching());

  fakes.clock.pauses.clear();
  const std::size_t before = fakes.link.requests.size();
  guard->Watcher().Alarm().ShutDownTimerTimer();  // the three minutes are up
  QCoreApplication::processEvents();
  for (int i = 0; i < 50 && !LogindCalls().contains("PowerOff"); ++i) QThread::msleep(20);
  EXPECT_TRUE(LogindCalls().contains(QRegularExpression("PowerOff (False|false)"))) << qPrintable(LogindCalls());
  // Ten seconds after the request, the unit's notice.
  EXPECT_NE(std::find(fakes.clock.pauses.begin(), fakes.clock.pauses.end(), 10000), fakes.clock.pauses.end());
  ASSERT_GT(fakes.link.requests.size(), before);
  EXPECT_EQ(fakes.link.requests.back(), (Bytes{0x01, packet::kShutdownNotice, 0x04}));
}

TEST_F(GuardServiceTest, LogindsActiveLocalSessionsMayHaveTheUnit) {
  if (!MockLogind()) GTEST_SKIP() << "run by logind_mock.sh";
  LogindSessions sessions;
  AddSession("c1", 1000, true);
  AddSession("c2", 1001, false);
  EXPECT_TRUE(sessions.HasActiveLocalSession(1000));
  EXPECT_FALSE(sessions.HasActiveLocalSession(1001)) << "an inactive session";
  EXPECT_FALSE(sessions.HasActiveLocalSession(1002)) << "no session";
}

TEST_F(GuardServiceTest, AHandedOverSetupIsStoredAndWatchedWithAfterTheUnitComesBack) {
  ASSERT_EQ(guard->Release(), "released");
  EXPECT_FALSE(guard->Watching());
  EXPECT_EQ(fakes.link.closeCalls, 1);
  const std::size_t released = fakes.link.requests.size();
  Poll();  // a stray tick of the stopped poll
  EXPECT_EQ(fakes.link.requests.size(), released);

  StatusSample sample;
  for (int n = 1; n <= 5; ++n) {
    SensorSample& s = sample.sensors[static_cast<std::size_t>(n - 1)];
    s.number = n;
    s.fitted = n <= 2;
    s.name = n == 1 ? QStringLiteral("Evaporator") : n == 2 ? QStringLiteral("Water") : QString();
    s.higher = n != 2;
    s.warningCelsius = n == 1 ? -12 : 30;
    s.shutdownCelsius = n == 1 ? -3 : 40;
  }
  QByteArray line = SetupLine(sample);
  ASSERT_TRUE(line.startsWith("setup ") && line.endsWith('\n'));
  guard->StoreSetup("{\"sensors\":[]}");  // not a setup: ignored
  guard->StoreSetup(line.mid(6).trimmed());
  guard->TakeBack();
  ASSERT_TRUE(guard->Watching());
  EXPECT_EQ(SensorTable[1].WarningLimit, -12);
  EXPECT_EQ(SensorTable[1].ShutdownLimit, -3);
  EXPECT_EQ(SensorTable[2].Name, "Water");
  EXPECT_FALSE(SensorTable[2].Higher);
  EXPECT_EQ(SensorTable[2].ShutdownLimit, 40);
  // Taken back, the guard starts again as at its own start: status first.
  EXPECT_EQ(fakes.link.requests.at(released), (Bytes{0x01, packet::kStatus, 0x04}));
}

}  // namespace
