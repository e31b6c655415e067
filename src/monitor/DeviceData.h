// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the program knows about the unit: the five sensors with their limits,
// the last status report, and the data blocks the unit hands out for
// read-modify-write (its settings block, the fan/boot block and the two
// display replies). One instance of each lives for the whole process.
//
// Decoders take the reply text the packet exchange produces (one character
// per payload byte); only its first 24 characters carry data.

#include "device/Packet.h"
#include "monitor/RelaxedAtomic.h"

#include <QByteArray>
#include <QString>

#include <array>
#include <cstdint>

constexpr int kSensorCount = 5;

// The two names that stand for no sensor in a row: the unit reports no
// reading for it ("N/A", for the rest of the run), or none is chosen.
inline const QString kSensorNotAvailable = QStringLiteral("N/A");
inline const QString kSensorOptional = QStringLiteral("Optional");

// A name that is not a fitted sensor's: "Optional", "" or "N/A".
inline bool IsUnfittedSensorName(const QString& name) {
  return name == kSensorNotAvailable || name.isEmpty() || name == kSensorOptional;
}
constexpr int kNoReading = -99;  // a sensor's temperature when the unit has no reading for it

struct SensorRecord {
  std::int32_t Number = -1;  // 1..5 once the settings are loaded
  QString Name;              // "Evaporator" for sensor 1; "Optional", "" or "N/A" = not fitted
  // Whole degrees Celsius whatever the display unit; the sampler thread reads it.
  RelaxedAtomic<std::int32_t> Temperature{0};
  bool Higher = false;              // a limit is reached at or above it (true) or at or below it
  std::int32_t WarningLimit = 0;    // in the display unit
  std::int32_t ShutdownLimit = 0;   // in the display unit
  std::int32_t Level = 0;           // 0 normal, 1 warning reached, 2 shut-down reached
};

// Sensors are numbered 1..5 everywhere in the program, so the table is too.
class SensorTableType {
 public:
  SensorRecord& operator[](int number) { return records_.at(static_cast<std::size_t>(number - 1)); }
  const SensorRecord& operator[](int number) const {
    return records_.at(static_cast<std::size_t>(number - 1));
  }
  auto begin() { return records_.begin(); }
  auto end() { return records_.end(); }
  auto begin() const { return records_.begin(); }
  auto end() const { return records_.end(); }

 private:
  std::array<SensorRecord, kSensorCount> records_{};
};

// The last status report. Only the state code and the fan speeds mean
// anything to the program; the rest is kept as the unit sent it.
struct DeviceStatus {
  std::int32_t AuxWord = 0;
  std::uint8_t UnitState = 0;
  std::uint32_t FrontFanRpm = 0;
  std::uint32_t RearFanRpm = 0;
  std::uint8_t AuxByteA = 0;
  std::uint8_t AuxByteB = 0;
  std::int32_t AuxTenths = 0;
  std::uint8_t AuxByteC = 0;
};

// The unit's settings block, sent back as received except for the few fields
// the program owns.
struct UnitSettingsBlock {
  static constexpr int kUnitLetterOffset = 1;
  static constexpr int kFixedByteOffset = 2;
  static constexpr std::uint8_t kFixedByteValue = 0x02;  // the unit expects this, whatever it reported
  static constexpr int kDisplayTypeOffset = 3;
  static constexpr int kOperatingHoursOffset = 17;

  packet::Payload Bytes{};

  char UnitLetter() const { return static_cast<char>(Bytes[kUnitLetterOffset]); }
  void SetUnitLetter(char letter) { Bytes[kUnitLetterOffset] = static_cast<std::uint8_t>(letter); }
  char DisplayType() const { return static_cast<char>(Bytes[kDisplayTypeOffset]); }
  // Unsigned 16-bit, little-endian. 0 until the unit has reported its block.
  int OperatingHours() const;
  // The unit's counter holds 16 bits. A count beyond that stays at the top
  // rather than wrapping round to a few hours; a negative one is 0.
  void SetOperatingHours(int hours);
};

// The fan/boot block: ten 16-bit words held as 32-bit integers, then four bytes.
struct FanBootBlock {
  static constexpr int kWordCount = 10;
  static constexpr int kFrontFirst = 1;
  static constexpr int kFrontSecond = 2;
  static constexpr int kBootTenths = 3;  // signed, tenths of a degree Celsius
  static constexpr int kRearFirst = 8;
  static constexpr int kRearSecond = 9;

  std::array<std::int32_t, kWordCount> Words{};
  std::array<std::uint8_t, 4> Bytes{};
};

// The last replies 06 (bytes 0..23) and 07 (bytes 24..47). Kept, never read.
struct ReplyStore67 {
  std::array<std::uint8_t, 48> Bytes{};
};

struct DeviceBlocks {
  DeviceStatus Status;
  UnitSettingsBlock Settings;
  FanBootBlock FanBoot;
  ReplyStore67 Store67;
};

// Process-wide state, alive as long as the process.
extern SensorTableType SensorTable;
extern DeviceBlocks Device;
extern RelaxedAtomic<bool> CelsiusFlag;  // true: temperatures shown in Celsius

// Puts SensorTable, Device and CelsiusFlag back to their start-of-process
// values, so that each test of the window starts from a fresh process state.
void ResetDeviceData();

// Reply 01 into the status record and the five temperatures. Temperatures are
// tenths of a degree, truncated toward zero to whole degrees; -990..-999
// therefore all become kNoReading. The state code is stored as received:
// mapping unknown codes is the status cycle's business.
void DecodeStatusFields(const QByteArray& payload, DeviceStatus& status, SensorTableType& sensors);

// Reply 02: the whole block as received, byte 2 forced to 0x02.
void DecodeUnitSettingsReply(const QByteArray& payload, UnitSettingsBlock& block);

// Reply 03. The reply carries only one fan pair; it fills both the front and
// the rear pair.
void DecodeFanBootReply(const QByteArray& payload, FanBootBlock& block);

void StoreReply6(const QByteArray& payload, ReplyStore67& store);
void StoreReply7(const QByteArray& payload, ReplyStore67& store);

// Payloads of write packets 02 and 03.
packet::Payload EncodeUnitSettings(const UnitSettingsBlock& block);
packet::Payload EncodeFanBoot(const FanBootBlock& block);
