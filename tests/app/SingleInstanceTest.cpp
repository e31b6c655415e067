// SPDX-License-Identifier: GPL-3.0-or-later
// Two real processes: the second start must end at once with exit code 0 and
// the first must be asked to bring its window back.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QLocalSocket>
#include <QThread>
#include <QUuid>

#include "core/SingleInstance.h"

#include <gtest/gtest.h>

namespace {

QString ProbePath() { return QCoreApplication::applicationDirPath() + "/instance_probe"; }
QString NewKey() { return "test-" + QUuid::createUuid().toString(QUuid::WithoutBraces); }

bool WaitForLine(QProcess& p, const QByteArray& line, int ms = 10000) {
  QElapsedTimer t;
  t.start();
  QByteArray seen;
  while (t.elapsed() < ms && !seen.contains(line)) {
    const bool running = p.state() != QProcess::NotRunning;
    p.waitForReadyRead(100);
    seen += p.readAllStandardOutput();
    if (!running) break;
  }
  return seen.contains(line);
}

TEST(SingleInstance, SecondStartRestoresTheFirstAndEndsWithZero) {
  const QString key = NewKey();
  QProcess first;
  first.start(ProbePath(), {key});
  ASSERT_TRUE(WaitForLine(first, "primary"));

  QProcess second;
  QElapsedTimer t;
  t.start();
  second.start(ProbePath(), {key});
  ASSERT_TRUE(second.waitForFinished(10000));
  EXPECT_LT(t.elapsed(), 5000);
  EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(second.exitCode(), 0);
  EXPECT_TRUE(second.readAllStandardOutput().contains("secondary"));

  EXPECT_TRUE(WaitForLine(first, "restore requested"));
  ASSERT_TRUE(first.waitForFinished(10000));
  EXPECT_EQ(first.exitCode(), 0);
}

TEST(SingleInstance, AStartAfterTheFirstWasKilledBecomesThePrimary) {
  const QString key = NewKey();
  for (const bool firstStart : {true, false}) {
    QProcess probe;
    probe.start(ProbePath(), {key});
    EXPECT_TRUE(WaitForLine(probe, "primary")) << firstStart;
    probe.kill();  // no clean-up: its socket file stays behind
    probe.waitForFinished(5000);
  }
}

#ifdef VCC_SIM_EXECUTABLE
TEST(SingleInstance, TheControlCentreItselfStartsOnlyOnce) {
  const QString exe = QStringLiteral(VCC_SIM_EXECUTABLE);
  ASSERT_TRUE(QFileInfo::exists(exe)) << exe.toStdString();
  QProcess first;
  first.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  first.start(exe, {});
  ASSERT_TRUE(first.waitForStarted(5000));

  // Wait until the first start is listening.
  const QString server = SingleInstance(QStringLiteral("Vornalith Control Centre 1.22")).ServerName();
  QElapsedTimer t;
  t.start();
  bool listening = false;
  while (!listening && t.elapsed() < 15000 && first.state() == QProcess::Running) {
    QLocalSocket s;
    s.connectToServer(server);
    listening = s.waitForConnected(200);
    if (!listening) QThread::msleep(100);
  }
  ASSERT_TRUE(listening);

  QProcess second;
  t.restart();
  second.start(exe, {});
  ASSERT_TRUE(second.waitForFinished(10000));
  EXPECT_LT(t.elapsed(), 5000);
  EXPECT_EQ(second.exitCode(), 0);
  EXPECT_EQ(first.state(), QProcess::Running);

  first.terminate();
  if (!first.waitForFinished(5000)) {
    first.kill();
    first.waitForFinished(2000);
  }
}
#endif

}  // namespace
