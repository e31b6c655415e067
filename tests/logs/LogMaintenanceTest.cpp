// The log size check half a minute after start: trimming the error log, the
// clear-log question, the reminder and its stored time.

#include "app/TForm1.h"
#include "config/SettingsKey.h"
#include "config/SettingsValues.h"
#include "monitor/DeviceData.h"
#include "support/FakeServices.h"
#include "ui_TForm1.h"

#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QSlider>

#include <gtest/gtest.h>

namespace {

void Click(QDialog& dialog, const char* button) {
  auto* b = dialog.findChild<QPushButton*>(button);
  ASSERT_NE(b, nullptr) << button;
  b->click();
}

// Lines of 100 bytes, CR LF included, the last one `lastLineBytes` long.
QByteArray LogLines(int lines, int lastLineBytes = 100) {
  QByteArray out;
  for (int i = 1; i <= lines; ++i) {
    QByteArray line = QByteArray::number(i).leftJustified((i == lines ? lastLineBytes : 100) - 2, '.');
    out += line + "\r\n";
  }
  return out;
}

class LogMaintenanceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetDeviceData();
    fakes.boxes.onExec = [this](QDialog& d) {
      opened << d.objectName();
      if (d.objectName() == "TClearLogForm") {
        sizeText = d.findChild<QLabel*>("MessageLabel1")->text();
        if (onClearLog) onClearLog(d);
      } else if (d.objectName() == "TReminderForm" && onReminder) {
        onReminder(d);
      } else if (d.objectName() == "TForm2" && onHeating) {
        onHeating(d);
      }
      return d.result();
    };
  }
  void TearDown() override { form.reset(); }
  void Start() {
    form = std::make_unique<TForm1>(fakes.services());
    form->show();
  }
  void SetFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
  }
  void SetOperationLogSize(qint64 bytes) { SetFile(OperationLogPath(), QByteArray(bytes, 'x')); }
  QString OperationLogPath() const { return fakes.logPath("Operatation.log"); }
  QString ErrorLogPath() const { return fakes.logPath("Error.log"); }
  QStringList QueueTexts() const {
    QStringList out;
    for (const QString& t : form->Queue()->Texts()) out << t;
    return out;
  }
  double StoredNextRemind() const {
    const SettingsKey key(fakes.settingsPath(), SettingsKey::Open::Existing);
    return key.ReadDateTime(settings::kNextRemind);
  }
  bool NextRemindStored() const {
    const SettingsKey key(fakes.settingsPath(), SettingsKey::Open::Existing);
    return key.IsOpen() && key.ValueExists(settings::kNextRemind);
  }
  int ClearLogQuestions() const { return static_cast<int>(opened.count("TClearLogForm")); }

  FakeServices fakes;
  std::unique_ptr<TForm1> form;
  QStringList opened;
  QString sizeText;
  std::function<void(QDialog&)> onClearLog, onReminder, onHeating;
};

TEST_F(LogMaintenanceTest, TheCheckRunsOnceHalfAMinuteAfterStart) {
  Start();
  EXPECT_EQ(form->MaintainTimer.interval(), 30000);
  SetOperationLogSize(501000);
  form->MaintainTimerTimer();
  EXPECT_FALSE(form->MaintainTimer.isActive());
  EXPECT_EQ(ClearLogQuestions(), 1);
}

TEST_F(LogMaintenanceTest, OnlyAnOperationLogAbove500kbRaisesTheQuestion) {
  Start();
  SetOperationLogSize(500000);
  form->CheckLogSizes();
  EXPECT_EQ(ClearLogQuestions(), 0);
  EXPECT_TRUE(QueueTexts().isEmpty());

  SetOperationLogSize(501000);
  form->CheckLogSizes();
  EXPECT_EQ(ClearLogQuestions(), 1);
  EXPECT_EQ(sizeText, "Your operation log is getting big (501kb).");
}

TEST_F(LogMaintenanceTest, AnErrorLogAbove50kbIsTrimmedSilently) {
  Start();
  SetFile(ErrorLogPath(), LogLines(510, 99));  // 50 999 bytes
  form->CheckLogSizes();
  EXPECT_EQ(QFileInfo(ErrorLogPath()).size(), 50999);

  SetFile(ErrorLogPath(), LogLines(510));  // 51 000 bytes: n = 507, 375 + 3 lines stay
  form->CheckLogSizes();
  QFile f(ErrorLogPath());
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  EXPECT_EQ(f.readAll(), LogLines(510).right(378 * 100));
  EXPECT_TRUE(fakes.boxes.shown.isEmpty());
  EXPECT_EQ(ClearLogQuestions(), 0);
}

TEST_F(LogMaintenanceTest, OkDeletesTheOperationLog) {
  Start();
  SetOperationLogSize(600000);
  onClearLog = [](QDialog& d) { Click(d, "OkButton"); };
  form->CheckLogSizes();
  EXPECT_FALSE(QFile::exists(OperationLogPath()));
  EXPECT_EQ(QueueTexts(), QStringList{"Log Cleared"});
  EXPECT_FALSE(form->ModalDialogOpen);
}

TEST_F(LogMaintenanceTest, CancelAndTheTitleBarCloseBothKeepTheLog) {
  Start();
  SetOperationLogSize(600000);
  onClearLog = [](QDialog& d) { Click(d, "CancelButton"); };
  form->CheckLogSizes();
  onClearLog = [](QDialog& d) { d.reject(); };  // what the close box does
  form->CheckLogSizes();
  EXPECT_EQ(ClearLogQuestions(), 2);
  EXPECT_TRUE(QFile::exists(OperationLogPath()));
  EXPECT_EQ(QueueTexts(), (QStringList{"Log clear canceled", "Log clear canceled"}));
  EXPECT_FALSE(NextRemindStored());
}

TEST_F(LogMaintenanceTest, RemindInAMonthStoresNowPlus30DaysAndAsksNoMoreUntilThen) {
  Start();
  SetOperationLogSize(600000);
  onClearLog = [](QDialog& d) { Click(d, "RemindButton"); };
  onReminder = [](QDialog& d) {
    d.findChild<QComboBox*>("ReminderComboBox")->setCurrentIndex(4);
    ASSERT_EQ(d.findChild<QComboBox*>("ReminderComboBox")->currentText(), "1 Month");
    Click(d, "OkButton");
  };
  form->CheckLogSizes();
  EXPECT_EQ(opened, (QStringList{"TClearLogForm", "TReminderForm"}));
  EXPECT_DOUBLE_EQ(StoredNextRemind(), DateTimeToDays(fakes.clock.now) + 30.0);
  EXPECT_TRUE(QFile::exists(OperationLogPath()));
  EXPECT_EQ(QueueTexts(), QStringList{"Log clear canceled"});

  fakes.clock.now = fakes.clock.now.addDays(29);
  form->CheckLogSizes();
  EXPECT_EQ(ClearLogQuestions(), 1);
  fakes.clock.now = fakes.clock.now.addDays(1).addSecs(1);
  form->CheckLogSizes();
  EXPECT_EQ(ClearLogQuestions(), 2);
}

TEST_F(LogMaintenanceTest, ARemindTimeAMinuteAheadHoldsTheQuestionForThatMinute) {
  {
    SettingsKey key(fakes.settingsPath(), SettingsKey::Open::CreateIfMissing);
    key.WriteDateTime(settings::kNextRemind, DateTimeToDays(fakes.clock.now.addSecs(60)));
  }
  Start();
  SetOperationLogSize(600000);
  form->CheckLogSizes();
  EXPECT_EQ(ClearLogQuestions(), 0);
  fakes.clock.now = fakes.clock.now.addSecs(61);
  form->CheckLogSizes();
  EXPECT_EQ(ClearLogQuestions(), 1);
}

TEST_F(LogMaintenanceTest, NeverStoresMinusOneAndTheQuestionDoesNotComeBack) {
  Start();
  SetOperationLogSize(600000);
  onClearLog = [](QDialog& d) { Click(d, "RemindButton"); };
  onReminder = [](QDialog& d) {
    d.findChild<QComboBox*>("ReminderComboBox")->setCurrentIndex(5);
    Click(d, "OkButton");
  };
  form->CheckLogSizes();
  EXPECT_EQ(StoredNextRemind(), -1.0);

  form.reset();  // the next start
  Start();
  form->CheckLogSizes();
  EXPECT_EQ(ClearLogQuestions(), 1);
}

TEST_F(LogMaintenanceTest, CancellingTheReminderStoresNothing) {
  Start();
  SetOperationLogSize(600000);
  onClearLog = [](QDialog& d) { Click(d, "RemindButton"); };
  onReminder = [](QDialog& d) { Click(d, "CancelButton"); };
  form->CheckLogSizes();
  EXPECT_FALSE(NextRemindStored());
  EXPECT_EQ(QueueTexts(), QStringList{"Log clear canceled"});
}

TEST_F(LogMaintenanceTest, NoQuestionWhileTheHeatingDialogIsOpen) {
  Start();
  SetOperationLogSize(600000);
  form->ui().HeaterComboBox->setVisible(true);
  form->ui().HeaterComboBox->setEnabled(true);
  onHeating = [this](QDialog& d) {
    form->CheckLogSizes();  // the 30 s tick falls due while the dialog shows
    Click(d, "CancelButton");
  };
  form->ui().HeatingSlider->setValue(6);
  EXPECT_EQ(opened, QStringList{"TForm2"});
  EXPECT_TRUE(QueueTexts().isEmpty());
  EXPECT_FALSE(form->ModalDialogOpen);
}

}  // namespace
