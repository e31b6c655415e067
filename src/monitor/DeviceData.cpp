// SPDX-License-Identifier: GPL-3.0-or-later
#include "monitor/DeviceData.h"

#include <algorithm>

SensorTableType SensorTable;
DeviceBlocks Device;
RelaxedAtomic<bool> CelsiusFlag{true};

void ResetDeviceData() {
  SensorTable = SensorTableType{};
  Device = DeviceBlocks{};
  CelsiusFlag = true;
}

namespace {

// The working copy every decoder reads: the first 24 payload bytes. The
// exchange always hands over 97 characters; should a shorter text ever
// arrive, the bytes it lacks read as zero rather than past its end.
packet::Payload FirstPayloadBytes(const QByteArray& payload) {
  packet::Payload bytes{};
  const int n = std::min<int>(static_cast<int>(payload.size()), packet::kPayloadLength);
  for (int i = 0; i < n; ++i) bytes[static_cast<std::size_t>(i)] = packet::PayloadByte(payload, i);
  return bytes;
}

std::uint16_t U16Le(const packet::Payload& p, int offset) {
  return static_cast<std::uint16_t>(p[static_cast<std::size_t>(offset)] |
                                    (p[static_cast<std::size_t>(offset + 1)] << 8));
}

std::int16_t S16Le(const packet::Payload& p, int offset) {
  return static_cast<std::int16_t>(U16Le(p, offset));
}

std::int16_t S16Be(const packet::Payload& p, int offset) {
  return static_cast<std::int16_t>((p[static_cast<std::size_t>(offset)] << 8) |
                                   p[static_cast<std::size_t>(offset + 1)]);
}

// Words travel as their low 16 bits; a negative word goes as two's complement.
void PutU16Le(packet::Payload& p, int offset, std::int32_t value) {
  p[static_cast<std::size_t>(offset)] = static_cast<std::uint8_t>(value & 0xFF);
  p[static_cast<std::size_t>(offset + 1)] = static_cast<std::uint8_t>((value >> 8) & 0xFF);
}

}  // namespace

int UnitSettingsBlock::OperatingHours() const {
  return U16Le(Bytes, kOperatingHoursOffset);
}

void UnitSettingsBlock::SetOperatingHours(int hours) {
  PutU16Le(Bytes, kOperatingHoursOffset, std::clamp(hours, 0, 0xFFFF));
}

void DecodeStatusFields(const QByteArray& payload, DeviceStatus& status, SensorTableType& sensors) {
  const packet::Payload p = FirstPayloadBytes(payload);
  status.AuxWord = S16Le(p, 0);
  status.UnitState = p[2];
  for (int n = 1; n <= kSensorCount; ++n) {
    // Integer division truncates toward zero, which is what the unit's tenths want.
    sensors[n].Temperature = S16Le(p, 3 + 2 * (n - 1)) / 10;
  }
  status.FrontFanRpm = U16Le(p, 13);
  status.RearFanRpm = U16Le(p, 15);
  status.AuxByteA = p[17];
  status.AuxByteB = p[18];
  status.AuxTenths = S16Be(p, 19) / 10;  // the one big-endian field of the reply
  status.AuxByteC = p[21];
}

void DecodeUnitSettingsReply(const QByteArray& payload, UnitSettingsBlock& block) {
  block.Bytes = FirstPayloadBytes(payload);
  block.Bytes[UnitSettingsBlock::kFixedByteOffset] = UnitSettingsBlock::kFixedByteValue;
}

void DecodeFanBootReply(const QByteArray& payload, FanBootBlock& block) {
  const packet::Payload p = FirstPayloadBytes(payload);
  for (int w = 0; w < 8; ++w) block.Words[static_cast<std::size_t>(w)] = U16Le(p, 2 * w);
  block.Words[FanBootBlock::kBootTenths] = S16Le(p, 6);
  block.Words[FanBootBlock::kRearFirst] = block.Words[FanBootBlock::kFrontFirst];
  block.Words[FanBootBlock::kRearSecond] = block.Words[FanBootBlock::kFrontSecond];
  for (int b = 0; b < 4; ++b) block.Bytes[static_cast<std::size_t>(b)] = p[static_cast<std::size_t>(16 + b)];
}

void StoreReply6(const QByteArray& payload, ReplyStore67& store) {
  const packet::Payload p = FirstPayloadBytes(payload);
  std::copy(p.begin(), p.end(), store.Bytes.begin());
}

void StoreReply7(const QByteArray& payload, ReplyStore67& store) {
  const packet::Payload p = FirstPayloadBytes(payload);
  std::copy(p.begin(), p.end(), store.Bytes.begin() + packet::kPayloadLength);
}

packet::Payload EncodeUnitSettings(const UnitSettingsBlock& block) {
  packet::Payload p = block.Bytes;
  p[UnitSettingsBlock::kFixedByteOffset] = UnitSettingsBlock::kFixedByteValue;
  return p;
}

packet::Payload EncodeFanBoot(const FanBootBlock& block) {
  packet::Payload p{};
  for (int w = 0; w < 8; ++w) PutU16Le(p, 2 * w, block.Words[static_cast<std::size_t>(w)]);
  // The write carries the rear pair where the reply carries the four bytes.
  PutU16Le(p, 16, block.Words[FanBootBlock::kRearFirst]);
  PutU16Le(p, 18, block.Words[FanBootBlock::kRearSecond]);
  for (int b = 0; b < 4; ++b) p[static_cast<std::size_t>(20 + b)] = block.Bytes[static_cast<std::size_t>(b)];
  return p;
}
