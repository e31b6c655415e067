// SPDX-License-Identifier: GPL-3.0-or-later
// The log size check half a minute after start: trimming the error log, the
// clear-log question, the reminder and its stored time.

#include "../app/WindowFixture.h"
#include "config/SettingsKey.h"
#include "config/SettingsValues.h"
#include "PeakMemory.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QSlider>

#include <optional>
#include <vector>

namespace {

void Click(QDialog& dialog, const char* button) {
  auto* b = dialog.findChild<QPushButton*>(button);
  ASSERT_NE(b, nullptr) << button;
  b->click();
}

// Lines of 100 bytes, CR LF included, the last one `lastLineBytes` long.
QByteArray LogLines(int lines, int lastLineBytes = 100) {
  QByteArray out;
  for (int i = 1; i <= lines; ++i)
    out += QByteArray::number(i).leftJustified((i == lines ? lastLineBytes : 100) - 2, '.') + "\r\n";
  return out;
}

class LogMaintenanceTest : public WindowFixture {
 protected:
  void SetUp() override {
    WindowFixture::SetUp();
    fakes.boxes.onExec = [this](QDialog& d) {
      opened << d.objectName();
      if (d.objectName() == "TClearLogForm") sizeText = d.findChild<QLabel*>("MessageLabel1")->text();
      if (d.objectName() == "TClearLogForm" && onClearLog) onClearLog(d);
      if (d.objectName() == "TReminderForm" && onReminder) onReminder(d);
      if (d.objectName() == "TForm2" && onHeating) onHeating(d);
      return d.result();
    };
  }
  void SetFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
  }
  // A started window whose operation log is `bytes` long.
  void StartWithOperationLog(qint64 bytes) {
    Start();
    SetFile(OperationLogPath(), QByteArray(bytes, 'x'));
  }
  // Answers the size question with "Remind me" and the reminder with `choice`
  // (an index into its list), or cancels the reminder when there is none.
  void AnswerRemind(std::optional<int> choice) {
    onClearLog = [](QDialog& d) { Click(d, "RemindButton"); };
    onReminder = [choice](QDialog& d) {
      if (choice) d.findChild<QComboBox*>("ReminderComboBox")->setCurrentIndex(*choice);
      Click(d, choice ? "OkButton" : "CancelButton");
    };
  }
  QString OperationLogPath() const { return fakes.logPath("Operatation.log"); }
  QString ErrorLogPath() const { return fakes.logPath("Error.log"); }
  double StoredNextRemind() const {
    return SettingsKey(fakes.settingsPath(), SettingsKey::Open::Existing).ReadDateTime(settings::kNextRemind);
  }
  bool NextRemindStored() const {
    const SettingsKey key(fakes.settingsPath(), SettingsKey::Open::Existing);
    return key.IsOpen() && key.ValueExists(settings::kNextRemind);
  }
  int ClearLogQuestions() const { return static_cast<int>(opened.count("TClearLogForm")); }

  QStringList opened;
  QString sizeText;
  std::function<void(QDialog&)> onClearLog, onReminder, onHeating;
};

TEST_F(LogMaintenanceTest, OnlyAnOperationLogAbove500kbRaisesTheQuestionOnceAfterStart) {
  StartWithOperationLog(500000);
  form->Log().CheckLogSizes();
  EXPECT_EQ(ClearLogQuestions(), 0);
  EXPECT_TRUE(QueueTexts().isEmpty());

  SetFile(OperationLogPath(), QByteArray(501000, 'x'));
  form->Log().MaintainTimerTimer();
  EXPECT_FALSE(form->Log().MaintainTimer.isActive());  // the check runs once per start
  EXPECT_EQ(ClearLogQuestions(), 1);
  EXPECT_EQ(sizeText, "Your operation log is getting big (501kb).");
}

TEST_F(LogMaintenanceTest, AnErrorLogAbove50kbIsTrimmedSilently) {
  Start();
  SetFile(ErrorLogPath(), LogLines(510, 99));  // 50 999 bytes
  form->Log().CheckLogSizes();
  EXPECT_EQ(QFileInfo(ErrorLogPath()).size(), 50999);

  SetFile(ErrorLogPath(), LogLines(510));  // 51 000 bytes: n = 507, 375 + 3 lines stay
  form->Log().CheckLogSizes();
  form->Log().ErrorLog()->WaitForTrim();
  QFile f(ErrorLogPath());
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  EXPECT_EQ(f.readAll(), LogLines(510).right(378 * 100));
  EXPECT_TRUE(fakes.boxes.shown.isEmpty());
  EXPECT_EQ(ClearLogQuestions(), 0);
}

// 2 GiB of zeros (sparse, no disk) as the oldest line, then 202 lines: n = 200,
// the last 150 + 3 stay. A record written while the trim runs stays too.
TEST_F(LogMaintenanceTest, AGigabyteErrorLogIsTrimmedWhileThePollGoesOnInLittleMemory) {
  AnswerAsTheUnit(true);  // a unit running normally: no alarm records in between
  Start();
  form->StatusTimer().stop();
  form->Watcher().UpdateDataTimer.setInterval(50);
  {
    QFile f(ErrorLogPath());
    ASSERT_TRUE(f.open(QIODevice::WriteOnly) && f.resize(2LL << 30) && f.seek(2LL << 30));
    f.write("\r\n" + LogLines(202));
  }
  QElapsedTimer clock;
  std::vector<qint64> polls;
  QObject::connect(&form->Watcher().UpdateDataTimer, &QTimer::timeout, form.get(), [&] { polls.push_back(clock.elapsed()); });
  qint64 checkMs = 0;
  const long peakKb = PeakResidentKbWhile([&] {
    clock.start();
    form->Log().MaintainTimerTimer();
    checkMs = clock.elapsed();
    form->Log().WriteErrorLogSnapshot();
    while (QFileInfo(ErrorLogPath()).size() > (1 << 20) && clock.elapsed() < 120000)
      QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
  });
  form->Log().ErrorLog()->WaitForTrim();
  EXPECT_LT(checkMs, 500);
  EXPECT_LT(peakKb, 300 * 1024 + kFreedButHeldKb) << "rise of resident memory, kB";
  polls.push_back(clock.elapsed());
  for (std::size_t i = 1; i < polls.size(); ++i) EXPECT_LT(polls[i] - polls[i - 1], 1000) << "poll " << i;

  QFile f(ErrorLogPath());
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  const QByteArray content = f.readAll();
  EXPECT_TRUE(content.startsWith(LogLines(202).right(153 * 100)));
  EXPECT_TRUE(content.mid(153 * 100).startsWith("07/12/2026 12:00:00\t"));
  EXPECT_EQ(content.count('\n'), 154);
  EXPECT_TRUE(fakes.boxes.shown.isEmpty());
}

TEST_F(LogMaintenanceTest, OkDeletesTheOperationLogCancelAndTheCloseBoxKeepIt) {
  StartWithOperationLog(600000);
  onClearLog = [](QDialog& d) { Click(d, "CancelButton"); };
  form->Log().CheckLogSizes();
  onClearLog = [](QDialog& d) { d.reject(); };  // what the close box does
  form->Log().CheckLogSizes();
  EXPECT_TRUE(QFile::exists(OperationLogPath()));
  EXPECT_EQ(Drain(), (QStringList{"Log clear canceled", "Log clear canceled"}));
  EXPECT_FALSE(NextRemindStored());

  onClearLog = [](QDialog& d) { Click(d, "OkButton"); };
  form->Log().CheckLogSizes();
  EXPECT_EQ(ClearLogQuestions(), 3);
  EXPECT_FALSE(QFile::exists(OperationLogPath()));
  EXPECT_EQ(QueueTexts(), QStringList{"Log Cleared"});
  EXPECT_FALSE(form->ModalDialogOpen());
}

TEST_F(LogMaintenanceTest, RemindInAMonthStoresNowPlus30DaysAndAsksNoMoreUntilThen) {
  StartWithOperationLog(600000);
  AnswerRemind(4);  // "1 Month"
  form->Log().CheckLogSizes();
  EXPECT_EQ(opened, (QStringList{"TClearLogForm", "TReminderForm"}));
  EXPECT_DOUBLE_EQ(StoredNextRemind(), DateTimeToDays(fakes.clock.now) + 30.0);
  EXPECT_TRUE(QFile::exists(OperationLogPath()));
  EXPECT_EQ(QueueTexts(), QStringList{"Log clear canceled"});

  fakes.clock.now = fakes.clock.now.addDays(29);
  form->Log().CheckLogSizes();
  EXPECT_EQ(ClearLogQuestions(), 1);
  fakes.clock.now = fakes.clock.now.addDays(1).addSecs(1);
  form->Log().CheckLogSizes();
  EXPECT_EQ(ClearLogQuestions(), 2);
}

TEST_F(LogMaintenanceTest, ARemindTimeAMinuteAheadHoldsTheQuestionForThatMinute) {
  SettingsKey(fakes.settingsPath(), SettingsKey::Open::CreateIfMissing)
      .WriteDateTime(settings::kNextRemind, DateTimeToDays(fakes.clock.now.addSecs(60)));
  StartWithOperationLog(600000);
  form->Log().CheckLogSizes();
  EXPECT_EQ(ClearLogQuestions(), 0);
  fakes.clock.now = fakes.clock.now.addSecs(61);
  form->Log().CheckLogSizes();
  EXPECT_EQ(ClearLogQuestions(), 1);
}

TEST_F(LogMaintenanceTest, NeverStoresMinusOneAndTheQuestionDoesNotComeBack) {
  StartWithOperationLog(600000);
  AnswerRemind(5);  // "Never"
  form->Log().CheckLogSizes();
  EXPECT_EQ(StoredNextRemind(), -1.0);
  Start();  // the next start
  form->Log().CheckLogSizes();
  EXPECT_EQ(ClearLogQuestions(), 1);
}

TEST_F(LogMaintenanceTest, CancellingTheReminderStoresNothing) {
  StartWithOperationLog(600000);
  AnswerRemind(std::nullopt);
  form->Log().CheckLogSizes();
  EXPECT_FALSE(NextRemindStored());
  EXPECT_EQ(QueueTexts(), QStringList{"Log clear canceled"});
}

TEST_F(LogMaintenanceTest, NoQuestionWhileTheHeatingDialogIsOpen) {
  StartWithOperationLog(600000);
  form->ui().HeaterComboBox->setVisible(true);
  form->ui().HeaterComboBox->setEnabled(true);
  onHeating = [this](QDialog& d) {
    form->Log().CheckLogSizes();  // the 30 s tick falls due while the dialog shows
    Click(d, "CancelButton");
  };
  form->ui().HeatingSlider->setValue(6);
  EXPECT_EQ(opened, QStringList{"TForm2"});
  EXPECT_TRUE(QueueTexts().isEmpty());
  EXPECT_FALSE(form->ModalDialogOpen());
}

}  // namespace
