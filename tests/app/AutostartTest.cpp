// SPDX-License-Identifier: GPL-3.0-or-later
// "Start with my desktop session": the entry the check box writes and removes
// in a scratch configuration folder, the state read back from the file, a
// write that fails; and the start that --minimized asks for, with and
// without a notification area.

#include "WindowFixture.h"

#include "desktop/Autostart.h"
#include "host/CPUThread.h"
#include "monitor/QStringPrinter.h"
#include "widgets/TTrayIcon.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <optional>

namespace {

class Desktop : public ITrayBackend {
 public:
  explicit Desktop(bool tray) : tray(tray) {}
  bool Available() const override { return tray; }
  bool Add(const QIcon&, const QString&) override { return true; }
  bool Modify(const QIcon&, const QString&) override { return true; }
  bool Remove() override { return true; }

  bool tray;
};

QByteArray Read(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void Write(const QString& path, const QByteArray& text) {
  QDir().mkpath(QFileInfo(path).absolutePath());
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(text);
}

QStringList EntryLines(const QString& path) {
  return QString::fromUtf8(Read(path)).split('\n', Qt::SkipEmptyParts);
}

class AutostartTest : public WindowFixture {
 protected:
  void SetUp() override {
    WindowFixture::SetUp();
    ASSERT_TRUE(config.isValid());
    if (qEnvironmentVariableIsSet("XDG_CONFIG_HOME")) savedConfig = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
  }
  void TearDown() override {
    WindowFixture::TearDown();
    if (savedConfig) qputenv("XDG_CONFIG_HOME", *savedConfig);
    else qunsetenv("XDG_CONFIG_HOME");
  }

  QString Entry() const { return config.filePath(QStringLiteral("autostart/") + kAutostartEntryName); }
  QCheckBox* Box() { return ui().AutostartCheckBox; }

  QTemporaryDir config;
  std::optional<QByteArray> savedConfig;
};

TEST_F(AutostartTest, TheBoxWritesAnEntryThatStartsThisProgramMinimisedAndRemovesIt) {
  Start();
  EXPECT_FALSE(Box()->isChecked());
  EXPECT_FALSE(QFileInfo::exists(Entry()));

  Box()->click();
  EXPECT_TRUE(Box()->isChecked());
  const QStringList lines = EntryLines(Entry());
  ASSERT_FALSE(lines.isEmpty()) << "no entry at " << Entry().toStdString();
  EXPECT_EQ(lines.first(), "[Desktop Entry]");
  for (const char* line : {"Type=Application", "Icon=org.quelmark.VornalithControlCentre",
                           "X-GNOME-Autostart-enabled=true"})
    EXPECT_TRUE(lines.contains(QLatin1String(line))) << line;
  const QString program = QCoreApplication::applicationFilePath();
  EXPECT_TRUE(lines.contains("Exec=" + QuoteExecArgument(program) + " --minimized")) << lines.join('|').toStdString();
  EXPECT_TRUE(QFileInfo(program).isAbsolute());
  EXPECT_TRUE(fakes.boxes.shown.isEmpty()) << fakes.boxes.shown.join('|').toStdString();
  // What the box shows lives in that file alone.
  EXPECT_FALSE(Read(fakes.settingsPath()).contains("utostart"));

  const QString validator = QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
  if (!validator.isEmpty()) {
    QProcess validate;
    validate.setProcessChannelMode(QProcess::MergedChannels);
    validate.start(validator, {Entry()});
    ASSERT_TRUE(validate.waitForFinished(10000));
    EXPECT_EQ(validate.exitCode(), 0);
    EXPECT_EQ(validate.readAll(), QByteArray());
  }

  Box()->click();
  EXPECT_FALSE(Box()->isChecked());
  EXPECT_FALSE(QFileInfo::exists(Entry()));
  EXPECT_TRUE(fakes.boxes.shown.isEmpty()) << fakes.boxes.shown.join('|').toStdString();
}

TEST_F(AutostartTest, TheBoxShowsWhatTheFileSaysAtStart) {
  const QByteArray ours = "[Desktop Entry]\nType=Application\nName=V\nExec=/usr/bin/vornalith-control-centre --minimized\n";
  const std::pair<QByteArray, bool> files[] = {
      {ours, true},
      // A desktop's start-up tool that copied the menu entry.
      {"# copied\n[Desktop Entry]\nType=Application\nExec=vornalith-control-centre\n", true},
      {"[Desktop Entry]\nType=Application\nExec=\"/opt/my apps/vornalith-control-centre-sim\" --minimized\n", true},
      // Switched off by the desktop.
      {ours + "Hidden=true\n", false},
      {ours + "Hidden = True\n", false},
      {ours + "X-GNOME-Autostart-enabled=false\n", false},
      // Someone else's, or not an entry at all.
      {"[Desktop Entry]\nType=Application\nExec=/usr/bin/other-program --minimized\n", false},
      {"[Desktop Entry]\nType=Link\nExec=/usr/bin/vornalith-control-centre\n", false},
      {"[Other Group]\nType=Application\nExec=/usr/bin/vornalith-control-centre\n", false},
      {"[Desktop Entry]\nType=Application\n[Desktop Action x]\nExec=vornalith-control-centre\n", false},
  };
  for (const auto& [text, checked] : files) {
    SCOPED_TRACE(text.toStdString());
    ASSERT_NO_FATAL_FAILURE(Write(Entry(), text));
    Start();
    EXPECT_EQ(Box()->isChecked(), checked);
  }

  // A change behind the program's back shows when the page is opened.
  ASSERT_NO_FATAL_FAILURE(Write(Entry(), ours));
  Start();
  ASSERT_TRUE(Box()->isChecked());
  QFile::remove(Entry());
  ui().PageControl1->setCurrentIndex(3);
  EXPECT_FALSE(Box()->isChecked());
}

TEST_F(AutostartTest, AWriteThatFailsIsReportedAndTheBoxShowsTheFile) {
  // Root may write anywhere: the folder is blocked by a file, or the entry's
  // own name by a folder.
  for (bool folderBlocked : {true, false}) {
    SCOPED_TRACE(folderBlocked ? "folder blocked" : "entry blocked");
    QDir(config.filePath("autostart")).removeRecursively();
    QFile::remove(config.filePath("autostart"));
    if (folderBlocked) ASSERT_NO_FATAL_FAILURE(Write(config.filePath("autostart"), "not a folder"));
    else ASSERT_TRUE(QDir().mkpath(Entry()));
    fakes.boxes.reports.clear();
    Start();
    Box()->click();
    EXPECT_FALSE(Box()->isChecked());
    ASSERT_EQ(fakes.boxes.reports.size(), 1);
    EXPECT_TRUE(fakes.boxes.reports[0].startsWith("Error: ")) << fakes.boxes.reports[0].toStdString();
    EXPECT_TRUE(fakes.boxes.reports[0].contains(config.filePath("autostart"))) << fakes.boxes.reports[0].toStdString();
    // The window goes on.
    EXPECT_TRUE(form->isVisible());
  }
}

TEST(AutostartEntry, QuotesTheProgramPathAsDesktopEntriesWantIt) {
  const QString plain = QStringLiteral("/usr/bin/vornalith-control-centre");
  EXPECT_EQ(QuoteExecArgument(plain), plain);
  EXPECT_EQ(QuoteExecArgument("/opt/v 100%/vcc"), "\"/opt/v 100%%/vcc\"");
  EXPECT_EQ(QuoteExecArgument("/a\"b`c$d\\e'/vcc"), "\"/a\\\"b\\`c\\$d\\\\e'/vcc\"");
  EXPECT_EQ(QuoteExecArgument("/opt/50%/vcc"), "/opt/50%%/vcc");

  // In the file the quoting's backslashes are escaped once more, and the
  // entry still reads as ours.
  QTemporaryDir dir;
  const QString path = dir.filePath("e.desktop");
  Autostart entry(path, QStringLiteral("/opt/my \\apps/vornalith-control-centre"));
  EXPECT_TRUE(entry.SetEnabled(true).isEmpty());
  EXPECT_TRUE(EntryLines(path).contains("Exec=\"/opt/my \\\\\\\\apps/vornalith-control-centre\" --minimized"))
      << EntryLines(path).join('|').toStdString();
  EXPECT_TRUE(entry.Enabled());
  EXPECT_TRUE(entry.SetEnabled(false).isEmpty());
  EXPECT_FALSE(entry.Enabled());
  EXPECT_TRUE(entry.SetEnabled(false).isEmpty());  // nothing there to remove
}

TEST(AutostartEntry, LivesInTheConfigurationFolderOrInHome) {
  const QByteArray saved = qgetenv("XDG_CONFIG_HOME");
  const QString tail = QStringLiteral("/autostart/org.quelmark.VornalithControlCentre.desktop");
  qputenv("XDG_CONFIG_HOME", "/scratch/cfg/");
  EXPECT_EQ(Autostart::DefaultPath(), "/scratch/cfg" + tail);
  for (const char* notAbsolute : {"", "cfg"}) {
    qputenv("XDG_CONFIG_HOME", notAbsolute);
    EXPECT_EQ(Autostart::DefaultPath(), QDir::homePath() + "/.config" + tail) << notAbsolute;
  }
  qunsetenv("XDG_CONFIG_HOME");
  EXPECT_EQ(Autostart::DefaultPath(), QDir::homePath() + "/.config" + tail);
  qputenv("XDG_CONFIG_HOME", saved);
}

// --minimized
class MinimizedStart : public AutostartTest {
 protected:
  void StartMinimizedWithoutArea() {
    Start(false);
    auto backend = std::make_unique<Desktop>(false);
    desktop = backend.get();
    form->TrayIcon1()->SetBackend(std::move(backend));
    form->StartMinimized();
    QApplication::processEvents();
  }
  void ExpectOnTheTaskBar() {
    EXPECT_TRUE(form->isVisible());
    EXPECT_TRUE(form->isMinimized());
    EXPECT_FALSE(form->TrayIcon1()->WindowInTray());
  }
  Desktop* desktop = nullptr;
};

TEST_F(MinimizedStart, WithoutANotificationAreaTheWindowWaitsMinimisedOnTheTaskBar) {
  ASSERT_NO_FATAL_FAILURE(StartMinimizedWithoutArea());
  ExpectOnTheTaskBar();
  EXPECT_TRUE(form->TrayWaitTimer().isActive());
  for (int tick = 1; tick < TForm1::kTrayWaitTicks; ++tick) form->TrayWaitTimerTimer();
  EXPECT_TRUE(form->TrayWaitTimer().isActive());
  form->TrayWaitTimerTimer();
  EXPECT_FALSE(form->TrayWaitTimer().isActive());
  // An area that comes up later no longer takes the window.
  desktop->tray = true;
  QApplication::processEvents();
  ExpectOnTheTaskBar();
}

TEST_F(MinimizedStart, AnAreaThatComesUpSoonTakesTheWindowUnlessItWasOpened) {
  ASSERT_NO_FATAL_FAILURE(StartMinimizedWithoutArea());
  form->TrayWaitTimerTimer();
  ExpectOnTheTaskBar();
  desktop->tray = true;
  form->TrayWaitTimerTimer();
  QApplication::processEvents();
  EXPECT_FALSE(form->isVisible());
  EXPECT_TRUE(form->TrayIcon1()->WindowInTray());
  EXPECT_FALSE(form->TrayWaitTimer().isActive());

  ASSERT_NO_FATAL_FAILURE(StartMinimizedWithoutArea());
  form->Open1Click();
  desktop->tray = true;
  form->TrayWaitTimerTimer();
  QApplication::processEvents();
  EXPECT_TRUE(form->isVisible());
  EXPECT_FALSE(form->isMinimized());
  EXPECT_FALSE(form->TrayWaitTimer().isActive());
}

TEST_F(MinimizedStart, WithANotificationAreaTheWindowStartsThereAndComesBack) {
  Start(false);
  form->TrayIcon1()->SetBackend(std::make_unique<Desktop>(true));
  form->StartMinimized();
  QApplication::processEvents();
  EXPECT_FALSE(form->isVisible());
  EXPECT_TRUE(form->TrayIcon1()->WindowInTray());
  // The status cycle runs there as after a minimise by hand.
  EXPECT_TRUE(form->CpuSampler()->MainWindowVisible());

  EXPECT_FALSE(form->TrayWaitTimer().isActive());

  form->Open1Click();
  EXPECT_TRUE(form->isVisible());
  EXPECT_FALSE(form->isMinimized());
}

}  // namespace
