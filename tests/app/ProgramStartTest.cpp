// SPDX-License-Identifier: GPL-3.0-or-later
// The command line as the program reads it, and the real -sim program started
// on a command line it does not understand (it ends at once, exit code 2,
// having started nothing) or on a FIFO where the settings file should be (it
// never opens it, neither for --find-unit nor for its window).

#include "app/CommandLine.h"
#include "monitor/QStringPrinter.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <utility>
#include <vector>

namespace {

QString FirstLine(const QString& text) { return text.section('\n', 0, 0); }

CommandLine Parse(QStringList args) {
  args.prepend(QStringLiteral("/usr/bin/vornalith-control-centre"));
  return ParseCommandLine(args);
}

TEST(CommandLineTest, TakesItsOwnOptionsAndLeavesQtsToQt) {
  const CommandLine cl = Parse({"--metrics-file", "/tmp/v.prom", "--unit-id=04d8:f3a1", "-platform", "offscreen",
                                "--style=Fusion", "-reverse", "-qwindowgeometry", "-0+0", "--session", "abc",
                                "--find-unit", "--minimized"});
  EXPECT_EQ(cl.error, QString());
  EXPECT_EQ(cl.metricsFile, QStringLiteral("/tmp/v.prom"));
  EXPECT_EQ(cl.unitId, QStringLiteral("04d8:f3a1"));
  EXPECT_TRUE(cl.findUnit);
  EXPECT_FALSE(cl.status);
  EXPECT_TRUE(cl.minimized);
  EXPECT_FALSE(Parse({}).minimized);
}

const std::vector<std::pair<QStringList, QString>> kNotUnderstood{
    {{"--metric-file", "x.prom"}, "unknown option '--metric-file'"},
    {{"--metrics-file", "--status"}, "option '--metrics-file' needs a value"},
    {{"--status", "--metrics-file="}, "option '--metrics-file' needs a value"},
    {{"--unit-id"}, "option '--unit-id' needs a value"},
    {{"-platform"}, "option '-platform' needs a value"},
    {{"--reverse=1"}, "unknown option '--reverse=1'"},
    {{"--minimized=yes"}, "unknown option '--minimized=yes'"},
    {{"--minimised"}, "unknown option '--minimised'"},
    {{"status"}, "unexpected argument 'status'"},
};

TEST(CommandLineTest, AnythingElseIsNamed) {
  for (const auto& [args, what] : kNotUnderstood)
    EXPECT_EQ(FirstLine(Parse(args).error), "vornalith-control-centre: " + what) << args.join(' ').toStdString();
}

#ifdef VCC_SIM_EXECUTABLE
// Whether anyone has the FIFO open for reading: a writer that does not wait
// finds a reader or fails. Its open also frees a reader waiting in open().
bool FifoHasReader(const QString& path) {
  const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_NONBLOCK);
  if (fd >= 0) ::close(fd);
  return fd >= 0;
}

class SimProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    for (const char* sub : {"config/quelmark", "state", "runtime"}) ASSERT_TRUE(QDir().mkpath(dir_.filePath(sub)));
    ::chmod(QFile::encodeName(Runtime()).constData(), 0700);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", dir_.filePath("config"));
    env.insert("XDG_STATE_HOME", dir_.filePath("state"));
    env.insert("XDG_RUNTIME_DIR", Runtime());
    env.insert("VCC_SIM_CONTROL", Control());
    program_.setProcessEnvironment(env);
  }
  void TearDown() override {
    if (program_.state() == QProcess::NotRunning) return;
    program_.kill();
    program_.waitForFinished(5000);
  }

  QString Runtime() const { return dir_.filePath("runtime"); }
  QString Control() const { return dir_.filePath("control"); }
  QString Settings() const { return dir_.filePath("config/quelmark/tessalinique.conf"); }
  QStringList RuntimeEntries() const {
    return QDir(Runtime()).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
  }
  void Start(const QStringList& args) {
    program_.start(QStringLiteral(VCC_SIM_EXECUTABLE), args);
    ASSERT_TRUE(program_.waitForStarted(5000));
  }

  QTemporaryDir dir_;
  QProcess program_;
};

TEST_F(SimProgram, EndsWithCodeTwoBeforeAnythingStarts) {
  for (const auto& [args, what] : {kNotUnderstood[0], kNotUnderstood[1]}) {
    Start(args);
    ASSERT_TRUE(program_.waitForFinished(10000)) << "it started: " << args.join(' ').toStdString();
    EXPECT_EQ(program_.exitCode(), 2);
    EXPECT_EQ(FirstLine(QString::fromLocal8Bit(program_.readAllStandardError())),
              "vornalith-control-centre-sim: " + what);
    // No instance socket, no request to the unit, no window.
    EXPECT_EQ(RuntimeEntries(), QStringList());
    EXPECT_FALSE(QFileInfo::exists(Control() + ".requests"));
    EXPECT_FALSE(QFileInfo::exists(Control() + ".state"));
  }
}

TEST_F(SimProgram, NeverOpensAFifoAtTheSettingsPath) {
  ASSERT_EQ(::mkfifo(QFile::encodeName(Settings()).constData(), 0600), 0);
  const QString said = "Settings file " + Settings() + " not used: it is a FIFO, not a regular file.";
  bool opened = false;

  // --find-unit reads the "Unit USB id" setting, lists and ends.
  Start({"--find-unit"});
  QElapsedTimer t;
  t.start();
  while (!program_.waitForFinished(100) && t.elapsed() < 10000) opened |= FifoHasReader(Settings());
  EXPECT_FALSE(opened);
  ASSERT_EQ(program_.state(), QProcess::NotRunning);
  EXPECT_TRUE(QString::fromLocal8Bit(program_.readAllStandardError()).contains(said));

  // The control centre: past the choice of USB ids once its socket is there,
  // then through the window's settings load.
  Start({});
  t.restart();
  while (RuntimeEntries().isEmpty() && program_.state() == QProcess::Running && t.elapsed() < 15000) {
    opened |= FifoHasReader(Settings());
    QThread::msleep(100);
  }
  ASSERT_FALSE(RuntimeEntries().isEmpty()) << "no instance socket";
  for (t.restart(); t.elapsed() < 3000; QThread::msleep(100)) opened |= FifoHasReader(Settings());
  EXPECT_FALSE(opened);
  EXPECT_EQ(program_.state(), QProcess::Running);
  program_.terminate();
  EXPECT_TRUE(program_.waitForFinished(5000));
  EXPECT_EQ(program_.exitCode(), 0);
  EXPECT_TRUE(QString::fromLocal8Bit(program_.readAllStandardError()).contains(said));
}
// The session's start: with no notification area anywhere (no X11 tray, no
// session bus with a watcher) the window waits minimised on the task bar.
TEST_F(SimProgram, MinimizedWithoutANotificationAreaStaysOnTheTaskBar) {
  QProcessEnvironment env = program_.processEnvironment();
  env.insert("QT_QPA_PLATFORM", "offscreen");
  env.insert("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + dir_.filePath("no-session-bus"));
  program_.setProcessEnvironment(env);
  Start({"--minimized"});
  QElapsedTimer t;
  for (t.start(); RuntimeEntries().isEmpty() && t.elapsed() < 15000; QThread::msleep(100)) {
  }
  ASSERT_FALSE(RuntimeEntries().isEmpty()) << "no instance socket";
  QFile control(Control());
  ASSERT_TRUE(control.open(QIODevice::Append));
  control.write("report\n");
  control.close();
  QString window;
  for (t.restart(); window.isEmpty() && t.elapsed() < 10000; QThread::msleep(100)) {
    QFile report(Control() + ".window");
    if (report.open(QIODevice::ReadOnly)) window = QString::fromUtf8(report.readAll());
  }
  EXPECT_EQ(FirstLine(window), "minimised=1 visible=1");
  program_.terminate();
  EXPECT_TRUE(program_.waitForFinished(5000));
}
#endif

}  // namespace
