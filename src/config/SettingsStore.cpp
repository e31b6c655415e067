// SPDX-License-Identifier: GPL-3.0-or-later
#include "config/SettingsStore.h"

#include "config/FrontPanel.h"
#include "config/SettingsKey.h"
#include "config/SettingsValues.h"
#include "monitor/Conversions.h"
#include "monitor/DeviceData.h"


SettingsStore::SettingsStore(SettingsStoreContext& context, FrontPanel& panel, Seams seams, QObject* parent)
    : QObject(parent), context_(context), panel_(panel), seams_(std::move(seams)) {
  WriteChangesTimer.setInterval(4000);
  connect(&WriteChangesTimer, &QTimer::timeout, this, &SettingsStore::WriteChangesTimerTimer);
}

// ---------------------------------------------------------------------------
// Loads

void ResetSensorLimitsToDefaults() {
  SensorRecord& evaporator = SensorTable[1];
  evaporator.Higher = true;
  evaporator.WarningLimit = settings::kDefaultEvaporatorWarn;
  evaporator.ShutdownLimit = settings::kDefaultShutdown;
  for (int n = 2; n <= kSensorCount; ++n) {
    SensorTable[n].Higher = false;
    SensorTable[n].WarningLimit = settings::kDefaultSensorWarn;
    SensorTable[n].ShutdownLimit = settings::kDefaultShutdown;
  }
}

void SettingsStore::LoadSensorSettings() {
  loaded_.sensorsRead = false;
  Guarded(seams_.report, [&] {
    const SettingsKey key(seams_.settingsPath, SettingsKey::Open::Existing);
    auto stored = [&key](const QString& name, std::int32_t fallback) {
      return key.IsOpen() && key.ValueExists(name) ? key.ReadInteger(name) : fallback;
    };

    SensorRecord& evaporator = SensorTable[1];
    evaporator.Number = 1;
    evaporator.Name = QStringLiteral("Evaporator");
    evaporator.Temperature = 0;
    evaporator.Higher = true;
    evaporator.WarningLimit = context_.WarningLimitValue(1);
    evaporator.ShutdownLimit = context_.ShutdownLimitValue(1);
    evaporator.WarningLimit = stored(settings::SensorWarnValue(1), evaporator.WarningLimit);
    evaporator.ShutdownLimit = stored(settings::SensorShutdownValue(1), evaporator.ShutdownLimit);

    for (int n = 2; n <= 5; ++n) {
      SensorRecord& r = SensorTable[n];
      r.Number = n;
      const QString nameValue = settings::SensorNameValue(n);
      r.Name = key.IsOpen() && key.ValueExists(nameValue) ? key.ReadString(nameValue) : QString();
      r.Temperature = 0;
      r.WarningLimit = stored(settings::SensorWarnValue(n), context_.WarningLimitValue(n));
      r.ShutdownLimit = stored(settings::SensorShutdownValue(n), context_.ShutdownLimitValue(n));
      const QString hl = settings::SensorHigherLowerValue(n);
      if (key.IsOpen() && key.ValueExists(hl)) r.Higher = key.ReadBool(hl);
    }
    loaded_.sensorsRead = true;
  });
}

void SettingsStore::LoadDisplaySettings() {
  loaded_.displayParams = {};
  loaded_.line1Primary.reset();
  loaded_.line1Secondary.reset();
  loaded_.bootIndex.reset();
  loaded_.warningHandling.reset();
  loaded_.notifications.reset();
  Guarded(seams_.report, [&] {
    const SettingsKey key(seams_.settingsPath, SettingsKey::Open::Existing);
    if (!key.IsOpen()) return;
    for (int i = 0; i < 3; ++i) {
      const QString name = settings::DisplayParamValue(i + 1);
      if (key.ValueExists(name)) loaded_.displayParams[static_cast<std::size_t>(i)] = key.ReadInteger(name);
    }
    if (key.ValueExists(settings::kDisplayLine1Primary))
      loaded_.line1Primary = key.ReadString(settings::kDisplayLine1Primary);
    if (key.ValueExists(settings::kDisplayLine1Secondary))
      loaded_.line1Secondary = key.ReadString(settings::kDisplayLine1Secondary);
    if (key.ValueExists(settings::kBootIndex)) loaded_.bootIndex = key.ReadInteger(settings::kBootIndex);
    if (key.ValueExists(settings::kWarningHandlingIndex))
      loaded_.warningHandling = key.ReadInteger(settings::kWarningHandlingIndex);
    if (key.ValueExists(settings::kNotifications))
      loaded_.notifications = key.ReadBool(settings::kNotifications);
  });
}

void SettingsStore::LoadUnitSettings() {
  loaded_.celsius.reset();
  loaded_.displayInterval.reset();
  Guarded(seams_.report, [&] {
    const SettingsKey key(seams_.settingsPath, SettingsKey::Open::Existing);
    if (key.IsOpen() && key.ValueExists(settings::kFahrenCel)) CelsiusFlag = key.ReadBool(settings::kFahrenCel);
    loaded_.celsius = CelsiusFlag;
    if (key.IsOpen() && key.ValueExists(settings::kDisplayUpdateInterval))
      loaded_.displayInterval = key.ReadInteger(settings::kDisplayUpdateInterval);
  });
}

// ---------------------------------------------------------------------------
// Deferred writes

void SettingsStore::WriteChangesTimerTimer() {
  if (!context_.PollRunning()) {
    // With the data poll stopped the unit is not being talked to: changes for
    // the unit and the limits are dropped, the rest waits for the poll.
    Pending.Lower({PendingSensorNames, PendingUnitSettings, PendingWarningLimits, PendingShutdownLimits,
                   PendingBootTemperature});
    return;
  }
  for (PendingWrite write : {PendingFanBlock, PendingLine1Text, PendingDisplayParams, PendingUnitSettings,
                             PendingHigherLower, PendingSensorNames, PendingWarningLimits,
                             PendingShutdownLimits, PendingBootTemperature})
    Service(write);
}

void SettingsStore::Service(PendingWrite write) {
  if (!Pending.Take(write)) return;
  switch (write) {
    case PendingFanBlock: SendFanBootBlock(); break;
    case PendingLine1Text: panel_.SendLine1Text(context_.PrimaryText()); break;
    case PendingDisplayParams: SaveDisplayParams(); break;
    case PendingUnitSettings: SendUnitSettings(); break;
    case PendingHigherLower: SaveHigherLower(); break;
    case PendingSensorNames: SaveSensorNames(); break;
    case PendingWarningLimits: SaveWarningLimits(); break;
    case PendingShutdownLimits: SaveShutdownLimits(); break;
    case PendingBootTemperature: SaveBootTemperature(); break;
    case kPendingWriteCount: break;
  }
}

void SettingsStore::SaveDisplayParams() {
  Guarded(seams_.report, [&] {
    SettingsKey key(seams_.settingsPath, SettingsKey::Open::CreateIfMissing);
    for (int i = 1; i <= 3; ++i) key.WriteInteger(settings::DisplayParamValue(i), context_.DisplayParam(i));
  });
}

void SettingsStore::SaveWarningHandling(int item) {
  Guarded(seams_.report, [&] {
    SettingsKey key(seams_.settingsPath, SettingsKey::Open::CreateIfMissing);
    key.WriteInteger(settings::kWarningHandlingIndex, item);
  });
}

void SettingsStore::SaveNotifications(bool on) {
  Guarded(seams_.report, [&] {
    SettingsKey key(seams_.settingsPath, SettingsKey::Open::CreateIfMissing);
    key.WriteBool(settings::kNotifications, on);
  });
}

void SettingsStore::StoreTemperatureUnit() {
  SettingsKey key(seams_.settingsPath, SettingsKey::Open::CreateIfMissing);
  key.WriteBool(settings::kFahrenCel, CelsiusFlag);
}

void SettingsStore::SaveHigherLower() {
  Guarded(seams_.report, [&] {
    SettingsKey key(seams_.settingsPath, SettingsKey::Open::CreateIfMissing);
    for (int n = 2; n <= 5; ++n) {
      SensorTable[n].Higher = context_.HigherLowerChoice(n) == 0;
      key.WriteBool(settings::SensorHigherLowerValue(n), SensorTable[n].Higher);
    }
  });
}

void SettingsStore::SaveSensorNames() {
  Guarded(seams_.report, [&] {
    SettingsKey key(seams_.settingsPath, SettingsKey::Open::CreateIfMissing);
    for (int n = 2; n <= 5; ++n) {
      // A sensor the unit reports no reading for keeps "N/A" for this run.
      if (SensorTable[n].Name == kSensorNotAvailable) continue;
      SensorTable[n].Name = context_.SensorNameText(n);
      // "Optional" does not overwrite a stored name: the next start finds it again.
      if (!IsUnfittedSensorName(SensorTable[n].Name))
        key.WriteString(settings::SensorNameValue(n), SensorTable[n].Name);
    }
  });
}

void SettingsStore::SaveWarningLimits() {
  Guarded(seams_.report, [&] {
    SettingsKey key(seams_.settingsPath, SettingsKey::Open::CreateIfMissing);
    for (int n = 1; n <= 5; ++n) {
      SensorTable[n].WarningLimit = context_.WarningLimitValue(n);
      key.WriteInteger(settings::SensorWarnValue(n), SensorTable[n].WarningLimit);
    }
  });
}

void SettingsStore::SaveShutdownLimits() {
  Guarded(seams_.report, [&] {
    SettingsKey key(seams_.settingsPath, SettingsKey::Open::CreateIfMissing);
    for (int n = 1; n <= 5; ++n) {
      SensorTable[n].ShutdownLimit = context_.ShutdownLimitValue(n);
      key.WriteInteger(settings::SensorShutdownValue(n), SensorTable[n].ShutdownLimit);
    }
  });
}

void SettingsStore::SaveBootTemperature() {
  Guarded(seams_.report, [&] {
    SettingsKey key(seams_.settingsPath, SettingsKey::Open::CreateIfMissing);
    key.WriteInteger(settings::kBootIndex, context_.BootTempChoice());
    const int celsius = IntegerCaption(context_.BootTempText());
    Device.FanBoot.Words[FanBootBlock::kBootTenths] = celsius * 10;
    SendFanBootBlock();
  });
}

// ---------------------------------------------------------------------------
// The unit's blocks

void SettingsStore::SendUnitSettings() {
  // Until the unit has reported its block there is nothing sound to send back.
  if (Device.Settings.OperatingHours() <= 0) return;
  Guarded(seams_.report, [&] {
    context_.ExchangePacket(packet::MakeWritePacket(packet::kUnitSettings, EncodeUnitSettings(Device.Settings)));
  });
}

void SettingsStore::SendFanBootBlock() {
  Guarded(seams_.report, [&] {
    context_.ExchangePacket(packet::MakeWritePacket(packet::kFanBoot, EncodeFanBoot(Device.FanBoot)));
  });
}
