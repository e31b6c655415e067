// SPDX-License-Identifier: GPL-3.0-or-later
// The program started on a settings file that is damaged, huge, of the wrong
// kind or out of reach: it must come up and poll, report each value it could
// not read or store with its own failure text, and keep what it could read, in
// memory and on disk. (An unwritable log folder: tests/logs/LogWindowTest.cpp.)

#include "app/TForm1.h"
#include "config/SettingsKey.h"
#include "config/SettingsValues.h"
#include "monitor/DeviceData.h"
#include "monitor/QStringPrinter.h"
#include "support/FakeServices.h"
#include "support/StatusReply.h"
#include "ui_TForm1.h"

#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSpinBox>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <random>

namespace {

// Makes a file refuse writes for as long as it lives: permission bits for a
// normal user, the immutable attribute for root (whom permission bits do not
// stop). Effective() tells whether it worked on this system.
class WriteProtection {
 public:
  explicit WriteProtection(const QString& path) : native_(QFile::encodeName(path)) {
    if (::geteuid() != 0) {
      chmodded_ = ::chmod(native_.constData(), 0444) == 0;
    } else {
      immutable_ = SetImmutable(true);
    }
    effective_ = !QFile(path).open(QIODevice::ReadWrite);
  }
  ~WriteProtection() {
    if (chmodded_) ::chmod(native_.constData(), 0644);
    if (immutable_) SetImmutable(false);
  }
  bool Effective() const { return effective_; }

 private:
  bool SetImmutable(bool on) {
    const int fd = ::open(native_.constData(), O_RDONLY);
    if (fd < 0) return false;
    int flags = 0;
    bool done = false;
    if (::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0) {
      flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
      done = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    }
    ::close(fd);
    return done;
  }
  QByteArray native_;
  bool chmodded_ = false;
  bool immutable_ = false;
  bool effective_ = false;
};

// Every value the program stores, well formed, none of them a default.
const char kFullConfiguration[] =
    "BootIndex=dword:20\n"
    "Display%20Update%20Interval=dword:2\n"
    "DisplayLine1P=sz:Hello cold CPU\n"
    "DisplayLine1S=sz:Night shift\n"
    "FahrenCel=dword:0\n"
    "Param1Index=dword:1\n"
    "Param2Index=dword:2\n"
    "Param3Index=dword:3\n"
    "Sensor1SDN=dword:14\n"
    "Sensor1Warn=dword:-4\n"
    "Sensor2=sz:Ambient\n"
    "Sensor2HL=dword:1\n"
    "Sensor2SDN=dword:104\n"
    "Sensor2Warn=dword:86\n"
    "Sensor3=sz:Compressor\n"
    "Sensor3HL=dword:0\n"
    "Sensor3SDN=dword:30\n"
    "Sensor3Warn=dword:40\n"
    "Warning%20handling%20Index=dword:2\n";

// Each load group ends at its first value when the file cannot be read.
const QStringList kUnreadable{"Error: Failed to get data for 'Sensor1Warn'",
                              "Error: Failed to get data for 'Param1Index'",
                              "Error: Failed to get data for 'FahrenCel'"};

class DamagedSettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetDeviceData();
    // A unit in good health: polls raise no alarm that would change settings.
    fakes.link.respond = [](const Bytes& request) {
      if (request.size() == 28) return FakeLink::Answer{3, Bytes{0x01, request[1], 0x04}};
      Reading healthy;
      healthy.tenths = {-350, 240, 200, -990, -990};  // sensors 4 and 5 not fitted
      return FakeLink::Answer{
          28, MakeReplyFrame(request[1],
                             request[1] == packet::kStatus ? StatusPayload(healthy) : packet::Payload{})};
    };
  }

  QString Path() const { return fakes.settingsPath(); }

  void WriteSettings(const QByteArray& bytes) {
    QFile f(Path());
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(f.write(bytes), bytes.size());
  }

  QByteArray SettingsOnDisk() const {
    QFile f(Path());
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
  }

  void Start() {
    form = std::make_unique<TForm1>(fakes.services());
    form->show();
  }

  Ui::TForm1& ui() { return form->ui(); }

  // Up, polling, and every report one of the three settings failures or a
  // file that is not used.
  void ExpectRunning() {
    ASSERT_TRUE(form->FormReady());
    ASSERT_FALSE(form->Terminating());
    EXPECT_TRUE(form->Watcher().UpdateDataTimer.isActive());
    static const QRegularExpression kFailure(QStringLiteral(
        "^Error: ((Invalid data type for|Failed to get data for|Failed to set data for) '[^']+'|"
        "Settings file .+ not used: .+)$"));
    for (const QString& shown : fakes.boxes.shown)
      EXPECT_TRUE(kFailure.match(shown).hasMatch()) << shown.toStdString();
    const std::size_t before = fakes.link.RequestsNumbered(packet::kStatus).size();
    form->Watcher().UpdateDataTimerTimer();
    EXPECT_EQ(fakes.link.RequestsNumbered(packet::kStatus).size(), before + 1);
  }

  void ExpectBuiltInSettings() {
    EXPECT_EQ(ui().Sensor1Alm->value(), settings::kDefaultEvaporatorWarn);
    EXPECT_EQ(ui().Sensor1ShDn->value(), settings::kDefaultShutdown);
    EXPECT_EQ(ui().Sensor2Alm->value(), settings::kDefaultSensorWarn);
    EXPECT_EQ(ui().SetupSensorComboBox2->currentText(), QStringLiteral("Optional"));
    EXPECT_EQ(ui().Par2HighLow->currentText(), QStringLiteral("Lower"));
    EXPECT_EQ(ui().DispParam1->currentIndex(), settings::kDefaultDisplayParams[0]);
    EXPECT_EQ(ui().PrimaryTextComboBox->currentText(), settings::kDefaultLine1Primary);
    EXPECT_EQ(ui().SecondaryTextComboBox->currentText(), settings::kDefaultLine1Secondary);
    EXPECT_EQ(ui().BootTempComboBox->currentIndex(), settings::kDefaultBootIndex);
    EXPECT_EQ(ui().WarningHandlingComboBox->currentIndex(), settings::kDefaultWarningHandling);
    EXPECT_TRUE(ui().CelsiusRadioButton->isChecked());
    EXPECT_TRUE(CelsiusFlag);
    EXPECT_EQ(ui().DispLine1Int->currentIndex(), settings::kDefaultDisplayInterval);
    EXPECT_EQ(form->Panel().DisplayIntervalTimer.interval(),
              settings::DisplayIntervalMs(settings::kDefaultDisplayInterval));
  }

  void ExpectFullConfiguration() {
    EXPECT_EQ(ui().Sensor1Alm->value(), -4);
    EXPECT_EQ(ui().Sensor1ShDn->value(), 14);
    EXPECT_EQ(ui().SetupSensorComboBox2->currentText(), QStringLiteral("Ambient"));
    EXPECT_EQ(ui().Par2HighLow->currentText(), QStringLiteral("Higher"));
    EXPECT_EQ(ui().Sensor2Alm->value(), 86);
    EXPECT_EQ(ui().Sensor2ShDn->value(), 104);
    EXPECT_EQ(ui().SetupSensorComboBox3->currentText(), QStringLiteral("Compressor"));
    EXPECT_EQ(ui().Sensor3Alm->value(), 40);
    EXPECT_EQ(SensorTable[3].ShutdownLimit, 30);
    EXPECT_EQ(ui().DispParam1->currentIndex(), 1);
    EXPECT_EQ(ui().DispParam3->currentIndex(), 3);
    EXPECT_EQ(ui().PrimaryTextComboBox->currentText(), QStringLiteral("Hello cold CPU"));
    EXPECT_EQ(ui().SecondaryTextComboBox->currentText(), QStringLiteral("Night shift"));
    EXPECT_EQ(ui().BootTempComboBox->currentText(), QStringLiteral("-20"));
    EXPECT_EQ(ui().WarningHandlingComboBox->currentIndex(), 2);
    EXPECT_TRUE(ui().FahrenheitRadioButton->isChecked());
    EXPECT_FALSE(CelsiusFlag);
    EXPECT_EQ(form->Panel().DisplayIntervalTimer.interval(), 30000);
  }

  FakeServices fakes;
  std::unique_ptr<TForm1> form;
};

TEST_F(DamagedSettingsTest, RandomBytesStartOnTheBuiltInSettingsAndStayOnDisk) {
  std::mt19937 random(20261207);
  QByteArray noise(64 * 1024, Qt::Uninitialized);
  for (char& c : noise) c = static_cast<char>(random());
  WriteSettings(noise);
  Start();
  ExpectBuiltInSettings();
  ExpectRunning();
  EXPECT_EQ(SettingsOnDisk(), noise) << "the start wrote over the damaged file";
}

TEST_F(DamagedSettingsTest, EveryValueOfTheWrongTypeIsReportedOncePerLoadGroup) {
  // Numbers stored as texts, texts as numbers, the date as a number.
  QByteArray file = "[General]\n";
  for (int n = 1; n <= 5; ++n) {
    file += settings::SensorWarnValue(n).toLatin1() + "=sz:-10\n";
    file += settings::SensorShutdownValue(n).toLatin1() + "=sz:0\n";
    if (n >= 2) {
      file += settings::SensorNameValue(n).toLatin1() + "=dword:7\n";
      file += settings::SensorHigherLowerValue(n).toLatin1() + "=sz:Higher\n";
    }
  }
  for (int p = 1; p <= 3; ++p) file += settings::DisplayParamValue(p).toLatin1() + "=hex:0000000000000000\n";
  file +=
      "DisplayLine1P=dword:1\nDisplayLine1S=dword:2\nBootIndex=sz:-33\n"
      "Warning%20handling%20Index=sz:Alarm\nFahrenCel=sz:yes\nDisplay%20Update%20Interval=sz:5 Sec\n"
      "Next%20Remind=dword:45000\n";
  WriteSettings(file);
  Start();
  // Each group ends at its first value; the others are never reached.
  EXPECT_EQ(fakes.boxes.shown, QStringList({"Error: Invalid data type for 'Sensor1Warn'",
                                            "Error: Invalid data type for 'Param1Index'",
                                            "Error: Invalid data type for 'FahrenCel'"}));
  ExpectRunning();
  ExpectBuiltInSettings();
  EXPECT_EQ(SettingsOnDisk(), file);
}

TEST_F(DamagedSettingsTest, AGroupKeepsWhatItReadBeforeAWrongValue) {
  QByteArray file = QByteArray("[General]\n") + kFullConfiguration;
  // Sensor 2's shut-down limit ends the sensor group, Param2Index the display group.
  file.replace("Sensor2SDN=dword:104", "Sensor2SDN=sz:hot");
  file.replace("Param2Index=dword:2", "Param2Index=sz:load");
  WriteSettings(file);
  Start();
  EXPECT_EQ(fakes.boxes.shown, QStringList({"Error: Invalid data type for 'Sensor2SDN'",
                                            "Error: Invalid data type for 'Param2Index'"}));
  ExpectRunning();
  // Read before the failure: kept.
  EXPECT_EQ(SensorTable[1].WarningLimit, -4);
  EXPECT_EQ(SensorTable[1].ShutdownLimit, 14);
  EXPECT_EQ(SensorTable[2].Name, QStringLiteral("Ambient"));
  EXPECT_EQ(SensorTable[2].WarningLimit, 86);
  EXPECT_EQ(ui().DispParam1->currentIndex(), 1);
  // The unit group has no damage at all.
  EXPECT_TRUE(ui().FahrenheitRadioButton->isChecked());
  EXPECT_EQ(form->Panel().DisplayIntervalTimer.interval(), 30000);
}

TEST_F(DamagedSettingsTest, AFiftyMegabyteFileIsLeftAsItIsAndCostsNoSave) {
  QByteArray file = QByteArray("[General]\n") + kFullConfiguration;
  const QByteArray filler(1000, 'x');
  for (int i = 0; file.size() < 50 * 1024 * 1024; ++i)
    file += "Junk" + QByteArray::number(i) + "=sz:" + filler + "\n";
  WriteSettings(file);
  Start();
  ASSERT_EQ(fakes.boxes.shown.size(), 1) << fakes.boxes.shown.join('|').toStdString();
  EXPECT_TRUE(fakes.boxes.shown[0].startsWith("Error: Settings file " + Path() + " not used: it holds "))
      << fakes.boxes.shown[0].toStdString();
  ExpectBuiltInSettings();

  // A unit change saves at once; on this file it must not freeze the window.
  QElapsedTimer clicked;
  clicked.start();
  ui().FahrenheitRadioButton->click();
  EXPECT_LT(clicked.elapsed(), 200);
  ui().Sensor3Alm->setValue(41);
  form->Settings().WriteChangesTimerTimer();
  form->Panel().DisplayIntervalTimerTimer();
  EXPECT_EQ(SensorTable[3].WarningLimit, 41);  // in use all the same
  EXPECT_EQ(fakes.boxes.shown.size(), 1) << "said once, not at every save";
  ExpectRunning();
  EXPECT_EQ(SettingsOnDisk(), file);
  form.reset();
  EXPECT_EQ(SettingsOnDisk(), file);
}

TEST_F(DamagedSettingsTest, AFolderWhereTheFileShouldBeIsSaidOnceAndLeftAlone) {
  ASSERT_TRUE(QDir().mkpath(Path()));
  Start();
  ASSERT_EQ(fakes.boxes.shown.size(), 1);
  EXPECT_EQ(fakes.boxes.shown[0],
            "Error: Settings file " + Path() +
                " not used: it is a folder, not a regular file. The built-in settings are in use and "
                "the file is left as it is. Changes made now last until the program ends.");
  ExpectRunning();
  ExpectBuiltInSettings();

  ui().Sensor2Alm->setValue(12);
  form->Settings().WriteChangesTimerTimer();
  EXPECT_EQ(fakes.boxes.shown.size(), 1);
  EXPECT_EQ(SensorTable[2].WarningLimit, 12);  // the value is in use all the same
  EXPECT_TRUE(QFileInfo(Path()).isDir());
  ExpectRunning();
}

TEST_F(DamagedSettingsTest, AFileWithoutReadPermissionIsReportedAsUnreadable) {
  if (::geteuid() == 0) GTEST_SKIP() << "root reads any file; the folder case above stands for it";
  WriteSettings(QByteArray("[General]\n") + kFullConfiguration);
  ASSERT_EQ(::chmod(QFile::encodeName(Path()).constData(), 0), 0);
  Start();
  ::chmod(QFile::encodeName(Path()).constData(), 0644);
  EXPECT_EQ(fakes.boxes.shown, kUnreadable);
  ExpectRunning();
  ExpectBuiltInSettings();
}

TEST_F(DamagedSettingsTest, AReadOnlyFileLoadsFullyAndRefusesSavesWithoutLosingAnything) {
  const QByteArray file = QByteArray("[General]\n") + kFullConfiguration;
  WriteSettings(file);
  WriteProtection protection(Path());
  if (!protection.Effective()) GTEST_SKIP() << "cannot make a file unwritable on this system";
  Start();
  EXPECT_TRUE(fakes.boxes.shown.isEmpty()) << fakes.boxes.shown.join('|').toStdString();
  ExpectFullConfiguration();

  ui().Sensor3Alm->setValue(41);
  form->Settings().WriteChangesTimerTimer();
  ASSERT_FALSE(fakes.boxes.shown.isEmpty());
  // The limits the file already holds need no write; the changed one is refused.
  EXPECT_EQ(fakes.boxes.shown.front(), QStringLiteral("Error: Failed to set data for 'Sensor3Warn'"));
  EXPECT_EQ(SensorTable[3].WarningLimit, 41);
  ui().PrimaryTextComboBox->setEditText(QStringLiteral("Warmer"));
  form->Panel().DisplayIntervalTimerTimer();
  EXPECT_EQ(fakes.boxes.shown.back(), QStringLiteral("Error: Failed to set data for 'DisplayLine1P'"));
  ExpectRunning();
  EXPECT_EQ(SettingsOnDisk(), file);
}

}  // namespace
