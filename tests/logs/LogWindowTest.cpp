// SPDX-License-Identifier: GPL-3.0-or-later
// The logs through the main window: the start-up snapshot, the error-log
// snapshot, the Misc. tab's buttons, the running-hours counter and the error
// report, against fakes.

#include "../app/WindowFixture.h"
#include "config/SettingsKey.h"
#include "config/SettingsValues.h"
#include "logs/MailSender.h"
#include "logs/SendmailTransport.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QPushButton>

namespace {

// The lines of a log, each of which must end in CR LF, without their ends.
QList<QByteArray> Lines(const QString& path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) return {};
  QByteArray content = f.readAll();
  EXPECT_TRUE(content.endsWith("\r\n"));
  EXPECT_EQ(content.count("\r\n"), content.count('\n'));
  content.replace("\r\n", "\n");
  content.chop(1);
  return content.split('\n');
}

// The fields of a record line; each is followed by a TAB.
QList<QByteArray> Fields(QByteArray line) {
  EXPECT_TRUE(line.endsWith('\t'));
  line.chop(1);
  return line.split('\t');
}

class LogWindowTest : public WindowFixture {
 protected:
  QString OperationLogPath() const { return fakes.logPath("Operatation.log"); }
  QString ErrorLogPath() const { return fakes.logPath("Error.log"); }
};

// --- snapshots ---------------------------------------------------------------

TEST_F(LogWindowTest, AFirstStartLeavesTheHeadTheSpaceLineAndOneRecordOfTheStartValues) {
  Start();
  const QList<QByteArray> lines = Lines(OperationLogPath());
  ASSERT_EQ(lines.size(), 3);
  EXPECT_TRUE(lines[0].startsWith("Timestamp\tCpu speed\t"));
  EXPECT_EQ(lines[1], " ");

  const QList<QByteArray> f = Fields(lines[2]);
  ASSERT_EQ(f.size(), 38);
  // The fake clock's time in the British format this test runs with, taken
  // before the start-up requests and their pauses.
  EXPECT_EQ(f[0], "07/12/2026 12:00:00");
  EXPECT_EQ(f[1].toInt(), *form->CpuSpeedMHz());  // as measured before the settings load
  const QList<QByteArray> expected{"0", "0", "Speed Load Temp", "Quelmark", "5000", "Alarm Sound",
                                   "-33", "100", "-1"};
  EXPECT_EQ(f.mid(3, 9), expected);
  EXPECT_EQ(f.mid(12, 5), (QList<QByteArray>{"Evaporator", "0", "-10", "0", "1"}));
  EXPECT_EQ(f.mid(17, 5), (QList<QByteArray>{"", "0", "5", "0", "0"}));
  EXPECT_EQ(QString::fromUtf8(f[37]), ui().SystemStatPanel->text());

  EXPECT_FALSE(QFile::exists(ErrorLogPath()));
  EXPECT_TRUE(fakes.boxes.shown.isEmpty());
}

TEST_F(LogWindowTest, TheErrorSnapshotTakesTheValuesOfTheMomentAndAMissingReadingAsStored) {
  Start();
  *form->CpuSpeedMHz() = 2400;
  *form->CpuLoadPercent() = 88;
  Device.Status.RearFanRpm = 1450;
  Device.Status.FrontFanRpm = 980;
  SensorTable[1].Temperature = -42;
  SensorTable[2].Name = "N/A";
  SensorTable[2].Temperature = kNoReading;
  form->Model().operatingHours = 1234;
  ui().HeatingSlider->blockSignals(true);
  ui().HeatingSlider->setValue(8);
  form->Model().status.caption = "Warning";

  form->Log().WriteErrorLogSnapshot();
  const QList<QByteArray> lines = Lines(ErrorLogPath());
  ASSERT_EQ(lines.size(), 3);
  const QList<QByteArray> f = Fields(lines[2]);
  ASSERT_EQ(f.size(), 38);
  EXPECT_EQ(f.mid(1, 4), (QList<QByteArray>{"2400", "88", "1450", "980"}));
  EXPECT_EQ(f[10], "80");
  EXPECT_EQ(f[11], "1234");
  EXPECT_EQ(f[13], "-42");
  EXPECT_EQ(f.mid(17, 2), (QList<QByteArray>{"N/A", "-99"}));
  EXPECT_EQ(f[37], "Warning");
  EXPECT_EQ(Lines(OperationLogPath()).size(), 3);  // the operation log is not touched
}

TEST_F(LogWindowTest, ADeletedErrorLogComesBackWithItsHeadAtTheNextAlarm) {
  Start();
  form->Log().WriteErrorLogSnapshot();
  form->Log().WriteErrorLogSnapshot();
  EXPECT_EQ(Lines(ErrorLogPath()).size(), 4);
  ASSERT_TRUE(QFile::remove(ErrorLogPath()));
  form->Log().WriteErrorLogSnapshot();
  const QList<QByteArray> lines = Lines(ErrorLogPath());
  ASSERT_EQ(lines.size(), 3);
  EXPECT_TRUE(lines[0].startsWith("Timestamp\t"));
}

TEST_F(LogWindowTest, ABootTemperatureThatIsNoNumberWritesNothingAndShowsTheConversionError) {
  Start();
  ui().BootTempComboBox->setItemText(ui().BootTempComboBox->currentIndex(), "abc");
  form->Log().WriteErrorLogSnapshot();
  EXPECT_FALSE(QFile::exists(ErrorLogPath()));
  EXPECT_EQ(fakes.boxes.shown, QStringList{"Error: 'abc' is not a valid integer value"});
}

TEST_F(LogWindowTest, AnUnwritableLogFolderIsReportedAndTheProgramGoesOnPolling) {
  QFile blocker(fakes.logDir.path() + "/not-a-folder");  // no folder can be made below a file, even by root
  ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  Services s = fakes.services();
  s.logFolder = blocker.fileName() + "/logs/";
  StartWith(s);

  ASSERT_EQ(fakes.boxes.shown.size(), 1);
  EXPECT_TRUE(fakes.boxes.shown[0].startsWith("Error: Cannot create folder")) << fakes.boxes.shown[0].toStdString();
  EXPECT_TRUE(form->FormReady());
  EXPECT_TRUE(form->Watcher().UpdateDataTimer.isActive());

  const std::size_t before = fakes.link.RequestsNumbered(0x01).size();
  form->Watcher().UpdateDataTimerTimer();
  EXPECT_GT(fakes.link.RequestsNumbered(0x01).size(), before);
  // The fake unit's all-zero reply is an evaporator alarm: every error-log
  // snapshot of it reports the folder again, and the program goes on.
  form->Log().WriteErrorLogSnapshot();
  EXPECT_GE(fakes.boxes.shown.size(), 2);
  for (const QString& text : fakes.boxes.shown) EXPECT_TRUE(text.startsWith("Error: Cannot create folder"));
}

// --- Misc. tab ---------------------------------------------------------------

TEST_F(LogWindowTest, TheViewButtonsOpenTheirLogInTheViewer) {
  Start();
  ui().ErrorViewButton->click();  // no error log yet
  EXPECT_TRUE(fakes.launcher.started.empty());

  ui().ViewLogButton->click();
  form->Log().WriteErrorLogSnapshot();
  ui().ErrorViewButton->click();
  ASSERT_EQ(fakes.launcher.started.size(), 2u);
  EXPECT_EQ(fakes.launcher.started[0].program, "xdg-open");
  EXPECT_EQ(fakes.launcher.started[0].arguments, QStringList{OperationLogPath()});
  EXPECT_EQ(fakes.launcher.started[1].arguments, QStringList{ErrorLogPath()});
}

TEST_F(LogWindowTest, ClearAsksFirstAndDeletesTheOperationLogOnlyOnOk) {
  Start();
  fakes.boxes.answerOk = false;
  ui().ClearLogButton->click();
  EXPECT_EQ(fakes.boxes.asked, QStringList{"Are you sure, you want to Clear the operation log?"});
  EXPECT_EQ(fakes.boxes.askCaptions, QStringList{"Confirm Delete"});
  EXPECT_TRUE(QFile::exists(OperationLogPath()));
  EXPECT_TRUE(QueueTexts().isEmpty());

  fakes.boxes.answerOk = true;
  ui().ClearLogButton->click();
  EXPECT_FALSE(QFile::exists(OperationLogPath()));
  EXPECT_EQ(QueueTexts(), QStringList{"Log Cleared"});
}

TEST_F(LogWindowTest, AfterTheClosePathTheLogButtonsDoNothing) {
  Start();
  form->Log().WriteErrorLogSnapshot();
  form->CloseDown();
  EXPECT_EQ(form->Log().OperationLog(), nullptr);
  ui().ViewLogButton->click();
  ui().ErrorViewButton->click();
  ui().ClearLogButton->click();
  ui().SendButton->click();
  form->Log().WriteErrorLogSnapshot();
  EXPECT_TRUE(fakes.launcher.started.empty());
  EXPECT_TRUE(fakes.boxes.asked.isEmpty());
  EXPECT_TRUE(fakes.mail.sent.empty());
  EXPECT_EQ(Lines(ErrorLogPath()).size(), 3);
}

TEST_F(LogWindowTest, ReportMailsTheErrorLogAndTellsEachStep) {
  Start();
  form->Log().WriteErrorLogSnapshot();
  ui().SendButton->click();
  ASSERT_EQ(fakes.mail.sent.size(), 1u);
  EXPECT_EQ(fakes.mail.sent[0].Subject, "Error.log");
  EXPECT_EQ(fakes.mail.sent[0].Recipient, kErrorReportAddress);
  EXPECT_EQ(fakes.mail.sent[0].NoteText, "This is an autosent error report");
  EXPECT_EQ(fakes.mail.sent[0].AttachmentPath, ErrorLogPath());
  // The texts of each step are MailSenderTexts' concern; here only that they reach the status bar.
  EXPECT_TRUE(QueueTexts().contains("File sent"));
}

QStringList reportMessages;

TEST_F(LogWindowTest, AReportGoesToTheStoredAddressAndTheRecipientIsLoggedWithTheResult) {
  Start();
  form->Log().WriteErrorLogSnapshot();
  reportMessages.clear();
  const QtMessageHandler previous = qInstallMessageHandler(
      [](QtMsgType, const QMessageLogContext& context, const QString& text) {
        if (QByteArray(context.category) == "vornalith.report") reportMessages << text;
      });
  const struct {
    const char* stored;  // null: no value
    int result;
    QString recipient, logged;
  } cases[] = {
      {nullptr, mailresult::kSuccess, kErrorReportAddress,
       "Error report to " + kErrorReportAddress + " handed to the mail system"},
      {" ", mailresult::kSuccess, kErrorReportAddress,
       "Error report to " + kErrorReportAddress + " handed to the mail system"},
      {"me@example.org", mailresult::kUnknownRecipient, "me@example.org",
       "Error report to me@example.org not sent: Unable to resolve address"},
  };
  for (const auto& c : cases) {
    if (c.stored) SettingsKey(fakes.settingsPath(), SettingsKey::Open::CreateIfMissing)
                      .WriteString(settings::kReportAddress, c.stored);
    fakes.mail.sendResult = c.result;
    fakes.mail.sent.clear();
    reportMessages.clear();
    ui().SendButton->click();
    ASSERT_EQ(fakes.mail.sent.size(), 1u);
    EXPECT_EQ(fakes.mail.sent[0].Recipient, c.recipient);
    EXPECT_EQ(reportMessages, QStringList{c.logged});
  }
  qInstallMessageHandler(previous);
  EXPECT_TRUE(fakes.boxes.shown.isEmpty());
}

TEST_F(LogWindowTest, AMailProgramThatNeverReturnsLeavesThePollRunningUntilItIsStopped) {
  const QString sendmail = fakes.logPath("sendmail");
  {
    QFile script(sendmail);
    ASSERT_TRUE(script.open(QIODevice::WriteOnly));
    script.write("#!/bin/sh\nexec sleep infinity\n");
    script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  }
  SendmailTransport stuck(sendmail, 1000);
  Services services = fakes.services();
  services.mail = &stuck;
  AnswerAsTheUnit(true);  // a unit running normally: no alarm texts in between
  StartWith(services);
  form->StatusTimer().stop();
  form->Watcher().UpdateDataTimer.setInterval(50);
  form->Log().WriteErrorLogSnapshot();
  const std::size_t pollsBefore = fakes.link.RequestsNumbered(0x01).size();

  QElapsedTimer clock;
  clock.start();
  ui().SendButton->click();
  EXPECT_LT(clock.elapsed(), 500);
  const QString timedOut = "Error sending mail: The mail program did not finish in time and was stopped";
  while (!QueueTexts().contains(timedOut) && clock.elapsed() < 20000)
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
  EXPECT_GE(clock.elapsed(), 1000);
  EXPECT_GE(fakes.link.RequestsNumbered(0x01).size() - pollsBefore, 10u);
  EXPECT_EQ(QueueTexts(), (QStringList{"Initializing Mail Interface", "Complete Logging in to the Mail System",
                                      "Logged In", "Sending File", timedOut, "Logging off the Mail System"}));
  form.reset();  // before the transport it uses
}

// --- running hours -----------------------------------------------------------

TEST_F(LogWindowTest, TheHourTickCountsOnlyOnceTheUnitHasToldItsHours) {
  Start();
  form->Model().operatingHours = -1;  // the unit has not told its hours
  form->Log().HoursRunTimerTimer();
  EXPECT_EQ(form->Model().operatingHours, -1);

  form->Model().operatingHours = 65534;
  form->Log().HoursRunTimerTimer();
  EXPECT_EQ(ui().OperHours->text(), "65535");
  EXPECT_TRUE(fakes.boxes.shown.isEmpty());
}

}  // namespace
