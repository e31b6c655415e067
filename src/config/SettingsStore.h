// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The settings store: what the start-up loads read from the settings file,
// the deferred writes that carry a change to the file and to the unit, and the
// unit's two writable blocks. No widget here: the values the saves store come
// through the context the window, or a service without one, provides, and
// the loads leave what the window shows in a plain struct.

#include "config/PendingWrites.h"
#include "core/Guard.h"
#include "device/Packet.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <array>
#include <optional>

class FrontPanel;

// What the display and unit groups found in the file; a value the file does
// not hold (or that a damaged value before it kept from being read) is empty.
struct LoadedSettings {
  // The sensor group read to its end: the records are what the Setup tab shows.
  bool sensorsRead = false;
  std::array<std::optional<int>, 3> displayParams;  // DispParam1..3
  std::optional<QString> line1Primary;              // PrimaryTextComboBox
  std::optional<QString> line1Secondary;            // SecondaryTextComboBox
  std::optional<int> bootIndex;                     // BootTempComboBox
  std::optional<int> warningHandling;               // WarningHandlingComboBox
  std::optional<bool> notifications;                // NotificationsCheckBox
  // CelsiusFlag once the unit group got past it, stored or kept.
  std::optional<bool> celsius;
  std::optional<int> displayInterval;  // DispLine1Int
};

// The sensors as a start without stored limits has them: the evaporator
// "Higher" at its warning default, sensors 2..5 "Lower" at theirs, every
// shut-down limit at its default. Names are left as they are.
void ResetSensorLimitsToDefaults();

// What the store reaches beyond itself and the process-wide records.
class SettingsStoreContext {
 public:
  virtual ~SettingsStoreContext() = default;
  // Whether the data poll runs (UpdateDataTimer).
  virtual bool PollRunning() const = 0;
  // Line 1's primary text (PrimaryTextComboBox).
  virtual QString PrimaryText() const = 0;
  // The item chosen for line-2 parameter 1..3 (DispParam1..3); -1 for none.
  virtual int DisplayParam(int number) const = 0;
  // Sensor 2..5: the higher/lower item (Par2HighLow..Par5HighLow, 0 "Higher",
  // -1 none) and the name as typed or picked (SetupSensorComboBox2..5).
  virtual int HigherLowerChoice(int sensor) const = 0;
  virtual QString SensorNameText(int sensor) const = 0;
  // Sensor 1..5: Row(n).warning (Sensor1Alm..Sensor5Alm) and Row(n).shutdown
  // (Sensor1ShDn..Sensor5ShDn), in the display unit.
  virtual int WarningLimitValue(int sensor) const = 0;
  virtual int ShutdownLimitValue(int sensor) const = 0;
  // The boot temperature's item and its text, "0" .. "-40" (BootTempComboBox).
  virtual int BootTempChoice() const = 0;
  virtual QString BootTempText() const = 0;
  virtual void ExchangePacket(const packet::Request& request) = 0;
};

class SettingsStore : public QObject {
  Q_OBJECT
 public:
  struct Seams {
    QString settingsPath;
    ReportFunction report;
  };

  SettingsStore(SettingsStoreContext& context, FrontPanel& panel, Seams seams, QObject* parent = nullptr);

  // Deferred writes: raised by change handlers, carried out by the 4 s tick.
  PendingWrites Pending;
  QTimer WriteChangesTimer;

  void WriteChangesTimerTimer();
  // Lowers a raised write and carries it out at once.
  void Service(PendingWrite write);
  void ClearPendingFlags() { Pending.LowerAll(); }

  // The three start-up groups, each reading the file on its own. Sensors go
  // into SensorTable, the unit into CelsiusFlag, the rest into Loaded().
  void LoadSensorSettings();
  void LoadDisplaySettings();
  void LoadUnitSettings();
  const LoadedSettings& Loaded() const { return loaded_; }

  void SaveDisplayParams();
  void SaveHigherLower();
  void SaveSensorNames();
  void SaveWarningLimits();
  void SaveShutdownLimits();
  void SaveBootTemperature();

  // The choices saved the moment they change: the alarm action
  // (WarningHandlingComboBox), desktop notifications (NotificationsCheckBox).
  void SaveWarningHandling(int item);
  void SaveNotifications(bool on);
  // The display unit as CelsiusFlag holds it; throws on a failed write, so
  // that a caller converting the limits stops with it.
  void StoreTemperatureUnit();

  void SendUnitSettings();
  void SendFanBootBlock();

 private:
  SettingsStoreContext& context_;
  FrontPanel& panel_;
  Seams seams_;
  LoadedSettings loaded_;
};
