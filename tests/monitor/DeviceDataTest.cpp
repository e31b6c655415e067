// SPDX-License-Identifier: GPL-3.0-or-later
// Decoding and encoding the unit's reply blocks, byte by byte.

#include "monitor/DeviceData.h"
#include "monitor/QStringPrinter.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <utility>

namespace {

// The reply text as the exchange hands it over: 97 characters, only the first
// 24 of them payload; the rest is junk, so reading past the payload shows.
QByteArray ReplyText(std::initializer_list<std::pair<int, std::uint8_t>> bytes) {
  QByteArray text(packet::kReplyPayloadChars, '\0');
  for (int i = packet::kPayloadLength; i < text.size(); ++i) text[i] = char(0xEE);
  for (auto [offset, value] : bytes) text[offset] = static_cast<char>(value);
  return text;
}

QByteArray ReplyText(const packet::Payload& p) {
  QByteArray text = ReplyText({});
  for (int i = 0; i < packet::kPayloadLength; ++i) text[i] = static_cast<char>(p[std::size_t(i)]);
  return text;
}

packet::Payload Counting(std::uint8_t start) {
  packet::Payload p{};
  for (std::size_t i = 0; i < p.size(); ++i) p[i] = static_cast<std::uint8_t>(start + i);
  return p;
}

}  // namespace

TEST(StatusReply, DecodesEveryFieldOfTheLayout) {
  DeviceStatus status;
  SensorTableType sensors;
  DecodeStatusFields(ReplyText({{0, 0xFF}, {1, 0xFE},              // AuxWord -257
                                {2, 84},                           // state
                                {3, 0x22}, {4, 0xFC},              // -990 -> no reading
                                {5, 0x01}, {6, 0xFF},              // -255 -> -25
                                {7, 0xFF}, {8, 0x00},              // 255 -> 25
                                {9, 0xF7}, {10, 0xFF},             // -9 -> 0
                                {11, 0x19}, {12, 0xFC},            // -999 -> no reading
                                {13, 0xE8}, {14, 0x03},            // 1000 RPM
                                {15, 0xFF}, {16, 0xFF},            // 65535 RPM, unsigned
                                {17, 0xA1}, {18, 0xB2},
                                {19, 0x01}, {20, 0x2C},            // big-endian 300 -> 30
                                {21, 0xC3}, {22, 0x55}, {23, 0x66}}),
                     status, sensors);

  EXPECT_EQ(status.AuxWord, -257);
  EXPECT_EQ(status.UnitState, 84);
  EXPECT_EQ(sensors[1].Temperature, kNoReading);
  EXPECT_EQ(sensors[2].Temperature, -25);
  EXPECT_EQ(sensors[3].Temperature, 25);
  EXPECT_EQ(sensors[4].Temperature, 0);
  EXPECT_EQ(sensors[5].Temperature, kNoReading);
  EXPECT_EQ(status.FrontFanRpm, 1000u);
  EXPECT_EQ(status.RearFanRpm, 65535u);
  EXPECT_EQ(status.AuxByteA, 0xA1);
  EXPECT_EQ(status.AuxByteB, 0xB2);
  EXPECT_EQ(status.AuxTenths, 30);
  EXPECT_EQ(status.AuxByteC, 0xC3);

  // Negative big-endian tenths truncate toward zero.
  DecodeStatusFields(ReplyText({{19, 0xFE}, {20, 0xD1}}), status, sensors);  // -303
  EXPECT_EQ(status.AuxTenths, -30);
}

TEST(StatusReply, TouchesOnlyTheTemperaturesOfTheSensorRecords) {
  SensorTableType sensors;
  sensors[3].Name = QStringLiteral("Ambient");
  sensors[3].WarningLimit = 40;
  DeviceStatus status;
  DecodeStatusFields(ReplyText({{7, 0x22}, {8, 0xFC}}), status, sensors);
  EXPECT_EQ(sensors[3].Temperature, kNoReading);
  EXPECT_EQ(sensors[3].Name, QStringLiteral("Ambient"));  // marking "N/A" is the status cycle's job
  EXPECT_EQ(sensors[3].WarningLimit, 40);
}

TEST(StatusReply, ShortTextReadsMissingBytesAsZero) {
  DeviceStatus status;
  status.RearFanRpm = 1450;
  SensorTableType sensors;
  DecodeStatusFields(QByteArray("\x01\x00\x07", 3), status, sensors);
  EXPECT_EQ(status.AuxWord, 1);
  EXPECT_EQ(status.UnitState, 7);
  EXPECT_EQ(status.RearFanRpm, 0u);
}

TEST(UnitSettingsReply, KeepsEveryByteExceptTheFixedOne) {
  packet::Payload reply = Counting(0x40);
  reply[2] = 0x7F;
  reply[17] = 0x2C;
  reply[18] = 0x01;
  UnitSettingsBlock block;
  DecodeUnitSettingsReply(ReplyText(reply), block);

  EXPECT_EQ(block.Bytes[2], 0x02);
  EXPECT_EQ(block.OperatingHours(), 300);
  EXPECT_EQ(block.UnitLetter(), char(0x41));
  EXPECT_EQ(block.DisplayType(), char(0x43));
  for (std::size_t i = 0; i < reply.size(); ++i) {
    if (i != 2) {
      EXPECT_EQ(block.Bytes[i], reply[i]) << "byte " << i;
    }
  }
}

TEST(UnitSettingsReply, WritesBackAsReceivedWithTheProgramsFields) {
  UnitSettingsBlock block;
  DecodeUnitSettingsReply(ReplyText(Counting(0x10)), block);
  block.SetUnitLetter('F');
  block.SetOperatingHours(4660);
  block.Bytes[2] = 0x55;

  const packet::Payload sent = EncodeUnitSettings(block);
  const packet::Payload original = Counting(0x10);
  EXPECT_EQ(sent[1], 'F');
  EXPECT_EQ(sent[2], 0x02);
  EXPECT_EQ(sent[17], 0x34);
  EXPECT_EQ(sent[18], 0x12);
  for (std::size_t i : {0u, 3u, 4u, 13u, 14u, 15u, 16u, 19u, 20u, 21u, 23u}) {
    EXPECT_EQ(sent[i], original[i]) << "byte " << i;
  }
}

TEST(UnitSettingsBlock, HoursBeyondTheUnitsCounterStayAtItsTop) {
  UnitSettingsBlock block;
  block.SetOperatingHours(65536);
  EXPECT_EQ(block.OperatingHours(), 65535);
  block.SetOperatingHours(-3);
  EXPECT_EQ(block.OperatingHours(), 0);
}

TEST(FanBootReply, SpreadsTheOneFanPairOverBothFans) {
  FanBootBlock block;
  DecodeFanBootReply(ReplyText({{0, 0x34}, {1, 0x08},                          // 2100
                                {2, 0x4C}, {3, 0x04}, {4, 0x78}, {5, 0x05},    // 1100, 1400
                                {6, 0xB6}, {7, 0xFE},                          // -330
                                {8, 0xFF}, {9, 0xFF},                          // unsigned
                                {14, 0x02}, {15, 0x01},
                                {16, 0xA0}, {17, 0xA1}, {18, 0xA2}, {19, 0xA3},
                                {20, 0xEE}, {23, 0xEE}}),
                     block);

  EXPECT_EQ(block.Words[0], 2100);
  EXPECT_EQ(block.Words[FanBootBlock::kFrontFirst], 1100);
  EXPECT_EQ(block.Words[FanBootBlock::kFrontSecond], 1400);
  EXPECT_EQ(block.Words[FanBootBlock::kBootTenths], -330);
  EXPECT_EQ(block.Words[4], 65535);
  EXPECT_EQ(block.Words[7], 0x0102);
  EXPECT_EQ(block.Words[FanBootBlock::kRearFirst], 1100);
  EXPECT_EQ(block.Words[FanBootBlock::kRearSecond], 1400);
  EXPECT_EQ(block.Bytes, (std::array<std::uint8_t, 4>{0xA0, 0xA1, 0xA2, 0xA3}));
}

TEST(FanBootWrite, PutsTheRearPairWhereTheReplyHadTheFourBytes) {
  FanBootBlock block;
  DecodeFanBootReply(ReplyText(Counting(0x20)), block);
  block.Words[FanBootBlock::kRearFirst] = 2100;
  block.Words[FanBootBlock::kRearSecond] = 2100;
  block.Words[FanBootBlock::kBootTenths] = -330;

  const packet::Payload sent = EncodeFanBoot(block);
  const packet::Payload reply = Counting(0x20);
  for (std::size_t i = 0; i < 16; ++i) {
    if (i != 6 && i != 7) {
      EXPECT_EQ(sent[i], reply[i]) << "byte " << i;
    }
  }
  EXPECT_EQ(sent[6], 0xB6);
  EXPECT_EQ(sent[7], 0xFE);
  EXPECT_EQ(sent[16], 0x34);  // 2100 = 0x0834
  EXPECT_EQ(sent[17], 0x08);
  EXPECT_EQ(sent[18], 0x34);
  EXPECT_EQ(sent[19], 0x08);
  for (std::size_t i = 0; i < 4; ++i) EXPECT_EQ(sent[20 + i], reply[16 + i]) << "byte " << 20 + i;
}

TEST(DisplayReplies, EachFillsOnlyItsOwnHalf) {
  ReplyStore67 store;
  StoreReply6(ReplyText(Counting(1)), store);
  StoreReply7(ReplyText(Counting(101)), store);
  StoreReply7(ReplyText(Counting(201)), store);
  for (std::size_t i = 0; i < 24; ++i) {
    EXPECT_EQ(store.Bytes[i], Counting(1)[i]);
    EXPECT_EQ(store.Bytes[24 + i], Counting(201)[i]);
  }
}

TEST(ProcessState, ResetRestoresTheStartValues) {
  SensorTable[2].Number = 2;
  SensorTable[2].Name = QStringLiteral("Ambient");
  SensorTable[2].Temperature = 31;
  SensorTable[2].Higher = true;
  SensorTable[2].Level = 2;
  Device.Status.UnitState = 84;
  Device.Settings.SetOperatingHours(12);
  Device.FanBoot.Words[3] = -330;
  Device.Store67.Bytes[47] = 1;
  CelsiusFlag = false;

  ResetDeviceData();

  for (const SensorRecord& r : SensorTable) {
    EXPECT_EQ(r.Number, -1);
    EXPECT_TRUE(r.Name.isEmpty());
    EXPECT_EQ(r.Temperature, 0);
    EXPECT_FALSE(r.Higher);
    EXPECT_EQ(r.WarningLimit, 0);
    EXPECT_EQ(r.ShutdownLimit, 0);
    EXPECT_EQ(r.Level, 0);
  }
  EXPECT_EQ(Device.Status.UnitState, 0);
  EXPECT_EQ(Device.Settings.OperatingHours(), 0);
  EXPECT_EQ(Device.FanBoot.Words[3], 0);
  EXPECT_EQ(Device.Store67.Bytes[47], 0);
  EXPECT_TRUE(CelsiusFlag);
}
