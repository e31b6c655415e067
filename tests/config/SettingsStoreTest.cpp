// SPDX-License-Identifier: GPL-3.0-or-later
// The settings store without a window: the deferred-write tick, the saves'
// file values and records, the unit's blocks, and the start-up loads of a
// settings file (damaged ones included) into the records and LoadedSettings.

#include "config/SettingsStore.h"

#include "config/FrontPanel.h"
#include "config/SettingsKey.h"
#include "config/SettingsValues.h"
#include "monitor/DeviceData.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

// Stands for the controls with the values a first start gives them.
struct FakeStoreContext : SettingsStoreContext, FrontPanelContext {
  bool poll = true;
  QString primary = QStringLiteral("Speed Load Temp");
  std::array<int, 3> params{5, 6, 0};
  std::array<int, 6> higherLower{0, 0, 1, 1, 1, 1};  // by sensor number
  std::array<QString, 6> names{{{}, {}, "Optional", "Optional", "Optional", "Optional"}};
  std::array<int, 6> warning{0, -10, 5, 5, 5, 5};
  std::array<int, 6> shutdown{};
  int bootItem = 33;
  QString bootText = QStringLiteral("-33");
  bool exchangeFails = false;
  std::vector<packet::Request> sent;

  bool PollRunning() const override { return poll; }
  QString PrimaryText() const override { return primary; }
  QString SecondaryText() const override { return QStringLiteral("Quelmark"); }
  int DisplayParam(int number) const override { return params[static_cast<std::size_t>(number - 1)]; }
  int HigherLowerChoice(int sensor) const override { return higherLower[static_cast<std::size_t>(sensor)]; }
  QString SensorNameText(int sensor) const override { return names[static_cast<std::size_t>(sensor)]; }
  int WarningLimitValue(int sensor) const override { return warning[static_cast<std::size_t>(sensor)]; }
  int ShutdownLimitValue(int sensor) const override { return shutdown[static_cast<std::size_t>(sensor)]; }
  int BootTempChoice() const override { return bootItem; }
  QString BootTempText() const override { return bootText; }
  int SampledCpuClock() const override { return 0; }
  int SampledCpuLoad() const override { return 0; }
  void ExchangePacket(const packet::Request& request) override {
    if (exchangeFails) throw std::runtime_error("no unit");
    sent.push_back(request);
  }
  std::vector<int> Numbers() const {
    std::vector<int> numbers;
    for (const packet::Request& r : sent) numbers.push_back(r[1]);
    return numbers;
  }
};

std::int16_t BootTenths(const packet::Request& r) {
  return static_cast<std::int16_t>(r[3 + 6] | (r[3 + 7] << 8));
}

struct SettingsStoreWithoutWindow : ::testing::Test {
  FakeStoreContext context;
  QStringList reports;
  QTemporaryDir folder;
  QString settingsPath = folder.filePath(QStringLiteral("tessalinique.conf"));
  ReportFunction report = [this](const QString& t) { reports << t; };
  FrontPanel panel{context, {settingsPath, report}};
  SettingsStore store{context, panel, {settingsPath, report}};

  void SetUp() override { ResetDeviceData(); }
  void TearDown() override { ResetDeviceData(); }
  SettingsKey Saved() const { return SettingsKey(settingsPath, SettingsKey::Open::Existing); }
  void WriteFile(const QByteArray& values) {
    QFile f(settingsPath);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write("[General]\n" + values);
  }
};

TEST_F(SettingsStoreWithoutWindow, TheTickCarriesOutEveryRaisedWriteOnceInItsOrder) {
  Device.Settings.SetOperatingHours(100);
  Device.FanBoot.Words[FanBootBlock::kBootTenths] = -330;
  context.primary = QStringLiteral("Hello");
  context.params = {1, 7, -1};
  context.higherLower = {0, 0, 0, 1, -1, 0};
  context.names = {{{}, {}, "Ambient", "Optional", "", "Probe"}};
  SensorTable[5].Name = kSensorNotAvailable;
  context.warning = {0, -20, 30, 31, 32, 33};
  context.shutdown = {0, 1, 40, 41, 42, 43};
  context.bootItem = 12;
  context.bootText = QStringLiteral("-12");
  EXPECT_EQ(store.WriteChangesTimer.interval(), 4000);

  store.Pending.RaiseAll();
  store.WriteChangesTimerTimer();
  EXPECT_FALSE(store.Pending.Any());
  // Fan block, line 1, unit block, then the fan block again with the new boot temperature.
  EXPECT_EQ(context.Numbers(), (std::vector<int>{0x03, 0x06, 0x02, 0x03}));
  EXPECT_EQ(BootTenths(context.sent[0]), -330);
  EXPECT_EQ(BootTenths(context.sent[3]), -120);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(context.sent[1].data()) + 3, 5), "Hello");

  const SettingsKey saved = Saved();
  for (int i = 1; i <= 3; ++i)
    EXPECT_EQ(saved.ReadInteger(QStringLiteral("Param%1Index").arg(i)), context.params[i - 1]) << i;
  for (int n = 2; n <= 5; ++n) {
    const bool higher = n == 2 || n == 5;  // item 0 only; no selection counts as "Lower"
    EXPECT_EQ(saved.ReadBool(QStringLiteral("Sensor%1HL").arg(n)), higher) << n;
    EXPECT_EQ(SensorTable[n].Higher, higher) << n;
  }
  EXPECT_EQ(saved.ReadString("Sensor2"), "Ambient");
  EXPECT_EQ(SensorTable[2].Name, "Ambient");
  EXPECT_EQ(SensorTable[3].Name, "Optional");  // taken, not stored
  EXPECT_EQ(SensorTable[5].Name, kSensorNotAvailable);  // kept for the run
  for (const char* unstored : {"Sensor3", "Sensor4", "Sensor5"}) EXPECT_FALSE(saved.ValueExists(unstored));
  for (int n = 1; n <= 5; ++n) {
    EXPECT_EQ(saved.ReadInteger(QStringLiteral("Sensor%1Warn").arg(n)), context.warning[n]) << n;
    EXPECT_EQ(saved.ReadInteger(QStringLiteral("Sensor%1SDN").arg(n)), context.shutdown[n]) << n;
    EXPECT_EQ(SensorTable[n].WarningLimit, context.warning[n]) << n;
    EXPECT_EQ(SensorTable[n].ShutdownLimit, context.shutdown[n]) << n;
  }
  EXPECT_EQ(saved.ReadInteger("BootIndex"), 12);
  EXPECT_TRUE(reports.isEmpty()) << reports.join('|').toStdString();

  // Nothing raised, nothing done.
  context.sent.clear();
  store.WriteChangesTimerTimer();
  EXPECT_TRUE(context.sent.empty());
}

TEST_F(SettingsStoreWithoutWindow, TheChoicesSavedAtOnceReachTheFileAndAFailedUnitWriteThrows) {
  store.SaveWarningHandling(2);
  store.SaveNotifications(false);
  CelsiusFlag = false;
  store.StoreTemperatureUnit();
  const SettingsKey saved = Saved();
  EXPECT_EQ(saved.ReadInteger(settings::kWarningHandlingIndex), 2);
  EXPECT_FALSE(saved.ReadBool(settings::kNotifications));
  EXPECT_FALSE(saved.ReadBool(settings::kFahrenCel));
  EXPECT_TRUE(reports.isEmpty());

  // A file that cannot be written: the unit's write throws, for its caller
  // to stop converting the limits.
  QFile::remove(settingsPath);
  ASSERT_TRUE(QDir().mkdir(settingsPath));
  CelsiusFlag = true;
  EXPECT_ANY_THROW(store.StoreTemperatureUnit());
}

TEST_F(SettingsStoreWithoutWindow, WhileTheDataPollIsStoppedUnitAndLimitChangesAreDropped) {
  Device.Settings.SetOperatingHours(100);
  context.poll = false;
  context.warning[2] = 9;
  context.higherLower[3] = 0;
  for (PendingWrite write : {PendingWarningLimits, PendingHigherLower, PendingUnitSettings, PendingFanBlock})
    store.Pending.Raise(write);
  store.WriteChangesTimerTimer();
  EXPECT_FALSE(store.Pending[PendingWarningLimits]);
  EXPECT_FALSE(store.Pending[PendingUnitSettings]);
  EXPECT_TRUE(store.Pending[PendingHigherLower]);
  EXPECT_TRUE(store.Pending[PendingFanBlock]);
  EXPECT_TRUE(context.sent.empty());
  EXPECT_FALSE(QFile::exists(settingsPath));

  // All nine raised: the five for the unit and the limits go, the other four wait.
  store.Pending.RaiseAll();
  store.WriteChangesTimerTimer();
  for (PendingWrite write : {PendingSensorNames, PendingUnitSettings, PendingWarningLimits,
                             PendingShutdownLimits, PendingBootTemperature})
    EXPECT_FALSE(store.Pending[write]) << write;
  for (PendingWrite write : {PendingFanBlock, PendingLine1Text, PendingDisplayParams, PendingHigherLower})
    EXPECT_TRUE(store.Pending[write]) << write;
  store.Pending.Lower({PendingLine1Text, PendingDisplayParams});

  context.poll = true;
  store.WriteChangesTimerTimer();
  EXPECT_EQ(context.Numbers(), std::vector<int>{0x03});
  EXPECT_TRUE(Saved().ReadBool("Sensor3HL"));
  EXPECT_FALSE(Saved().ValueExists("Sensor2Warn"));
}

TEST_F(SettingsStoreWithoutWindow, FailuresAreReportedAndEndOnlyTheirOwnWrite) {
  // No unit block received yet: nothing sound to send back.
  store.Pending.Raise(PendingUnitSettings);
  store.WriteChangesTimerTimer();
  EXPECT_TRUE(context.sent.empty());
  Device.Settings.SetOperatingHours(1);
  store.SendUnitSettings();
  EXPECT_EQ(context.Numbers(), std::vector<int>{0x02});

  // A boot item without a number: its index is kept, nothing goes to the unit.
  context.sent.clear();
  context.bootItem = -1;
  context.bootText.clear();
  store.Pending.Raise(PendingBootTemperature);
  store.WriteChangesTimerTimer();
  EXPECT_EQ(reports, QStringList{"Error: '' is not a valid integer value"});
  EXPECT_EQ(Saved().ReadInteger("BootIndex"), -1);
  EXPECT_TRUE(context.sent.empty());

  // A failed send is reported once per send; the saves after it still happen.
  reports.clear();
  context.exchangeFails = true;
  store.Pending.RaiseAll();
  store.Pending.Lower(PendingBootTemperature);
  store.WriteChangesTimerTimer();
  EXPECT_EQ(reports, QStringList({"Error: no unit", "Error: no unit", "Error: no unit"}));
  EXPECT_EQ(Saved().ReadInteger("Sensor1Warn"), -10);
  EXPECT_FALSE(store.Pending.Any());

  // A limit written at once, outside the tick, lowers its write.
  reports.clear();
  context.warning[1] = -15;
  store.Pending.Raise(PendingWarningLimits);
  store.Service(PendingWarningLimits);
  store.Service(PendingShutdownLimits);  // not raised: nothing
  EXPECT_FALSE(store.Pending.Any());
  EXPECT_EQ(Saved().ReadInteger("Sensor1Warn"), -15);
  EXPECT_TRUE(reports.isEmpty());
}

TEST_F(SettingsStoreWithoutWindow, WithoutAFileTheLoadsKeepTheControlsValues) {
  context.warning = {0, -7, 6, 7, 8, 9};
  context.shutdown = {0, 1, 2, 3, 4, 5};
  SensorTable[3].Higher = true;  // left from before; only a stored value replaces it
  store.LoadSensorSettings();
  store.LoadDisplaySettings();
  store.LoadUnitSettings();
  EXPECT_TRUE(reports.isEmpty());
  EXPECT_FALSE(QFile::exists(settingsPath));
  EXPECT_EQ(SensorTable[1].Name, "Evaporator");
  EXPECT_TRUE(SensorTable[1].Higher);
  for (int n = 1; n <= 5; ++n) {
    EXPECT_EQ(SensorTable[n].Number, n);
    EXPECT_EQ(SensorTable[n].WarningLimit, context.warning[n]) << n;
    EXPECT_EQ(SensorTable[n].ShutdownLimit, context.shutdown[n]) << n;
  }
  EXPECT_EQ(SensorTable[2].Name, "");
  EXPECT_TRUE(SensorTable[3].Higher);

  const LoadedSettings& loaded = store.Loaded();
  EXPECT_TRUE(loaded.sensorsRead);
  for (const auto& item : loaded.displayParams) EXPECT_FALSE(item);
  EXPECT_FALSE(loaded.line1Primary || loaded.line1Secondary || loaded.bootIndex || loaded.warningHandling ||
               loaded.notifications || loaded.displayInterval);
  EXPECT_EQ(loaded.celsius, std::optional<bool>(true));
}

TEST_F(SettingsStoreWithoutWindow, AFileLoadsIntoTheRecordsAndTheLoadedValues) {
  WriteFile(
      "BootIndex=dword:20\nDisplay%20Update%20Interval=dword:7\nDisplayLine1P=sz:Hello cold CPU\n"
      "DisplayLine1S=sz:Night shift\nFahrenCel=dword:0\nParam1Index=dword:1\nParam2Index=dword:99\n"
      "Sensor1SDN=dword:14\nSensor1Warn=dword:-4\nSensor2=sz:Ambient\nSensor2HL=dword:1\n"
      "Sensor2Warn=dword:86\nSensor3=sz:N/A\nSensor3HL=dword:0\nNotifications=dword:0\n"
      "Warning%20handling%20Index=dword:2\n");
  const QByteArray before = [this] {
    QFile f(settingsPath);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
  }();
  SensorTable[3].Higher = true;
  store.LoadSensorSettings();
  store.LoadDisplaySettings();
  store.LoadUnitSettings();
  EXPECT_TRUE(reports.isEmpty()) << reports.join('|').toStdString();

  EXPECT_EQ(SensorTable[1].WarningLimit, -4);
  EXPECT_EQ(SensorTable[1].ShutdownLimit, 14);
  EXPECT_EQ(SensorTable[2].Name, "Ambient");
  EXPECT_TRUE(SensorTable[2].Higher);
  EXPECT_EQ(SensorTable[2].WarningLimit, 86);
  EXPECT_EQ(SensorTable[2].ShutdownLimit, 0);  // the control's value
  EXPECT_EQ(SensorTable[3].Name, "N/A");        // the window shows it as not fitted
  EXPECT_FALSE(SensorTable[3].Higher);
  EXPECT_FALSE(CelsiusFlag);

  const LoadedSettings& loaded = store.Loaded();
  EXPECT_TRUE(loaded.sensorsRead);
  EXPECT_EQ(loaded.displayParams[0], 1);
  EXPECT_EQ(loaded.displayParams[1], 99);  // out of its list: the window leaves it unselected
  EXPECT_FALSE(loaded.displayParams[2]);
  EXPECT_EQ(loaded.line1Primary, QStringLiteral("Hello cold CPU"));
  EXPECT_EQ(loaded.line1Secondary, QStringLiteral("Night shift"));
  EXPECT_EQ(loaded.bootIndex, 20);
  EXPECT_EQ(loaded.warningHandling, 2);
  EXPECT_EQ(loaded.notifications, false);
  EXPECT_EQ(loaded.celsius, false);
  EXPECT_EQ(loaded.displayInterval, 7);
  // Loading writes nothing back.
  QFile f(settingsPath);
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  EXPECT_EQ(f.readAll(), before);
}

TEST_F(SettingsStoreWithoutWindow, ADamagedValueEndsItsGroupAndKeepsWhatCameBefore) {
  WriteFile(
      "Sensor1Warn=dword:-4\nSensor1SDN=dword:14\nSensor2=sz:Ambient\nSensor2Warn=dword:86\n"
      "Sensor2SDN=sz:hot\nSensor3=sz:Compressor\nParam1Index=dword:1\nParam2Index=sz:load\n"
      "DisplayLine1P=sz:Hello\nFahrenCel=sz:yes\nDisplay%20Update%20Interval=dword:2\n");
  store.LoadSensorSettings();
  store.LoadDisplaySettings();
  store.LoadUnitSettings();
  EXPECT_EQ(reports, QStringList({"Error: Invalid data type for 'Sensor2SDN'",
                                  "Error: Invalid data type for 'Param2Index'",
                                  "Error: Invalid data type for 'FahrenCel'"}));
  const LoadedSettings& loaded = store.Loaded();
  // The records keep what was read; the window is told to show none of it.
  EXPECT_FALSE(loaded.sensorsRead);
  EXPECT_EQ(SensorTable[1].WarningLimit, -4);
  EXPECT_EQ(SensorTable[2].Name, "Ambient");
  EXPECT_EQ(SensorTable[2].WarningLimit, 86);
  EXPECT_EQ(SensorTable[3].Name, "");
  EXPECT_EQ(loaded.displayParams[0], 1);
  EXPECT_FALSE(loaded.displayParams[1]);
  EXPECT_FALSE(loaded.line1Primary);
  EXPECT_FALSE(loaded.celsius);
  EXPECT_TRUE(CelsiusFlag);
  EXPECT_FALSE(loaded.displayInterval);

  // A second load over a sound file forgets what the first one found.
  reports.clear();
  WriteFile("Param3Index=dword:4\n");
  store.LoadSensorSettings();
  store.LoadDisplaySettings();
  store.LoadUnitSettings();
  EXPECT_TRUE(reports.isEmpty());
  EXPECT_TRUE(store.Loaded().sensorsRead);
  EXPECT_FALSE(store.Loaded().displayParams[0]);
  EXPECT_EQ(store.Loaded().displayParams[2], 4);
  EXPECT_EQ(store.Loaded().celsius, true);
}

}  // namespace
