// SPDX-License-Identifier: GPL-3.0-or-later
#include "device/Packet.h"

#include <gtest/gtest.h>

using namespace packet;

TEST(PacketFraming, RequestLengthComesFromTheFramingBytes) {
  EXPECT_EQ(DecideRequestLength(MakeReadRequest(kStatus).data()), 3);
  EXPECT_EQ(DecideRequestLength(MakeReadRequest(kShutdownNotice).data()), 3);

  Payload p{};
  p.fill(0x04);  // a payload full of end bytes must not fool the read test
  const Request write = MakeWritePacket(kDisplayLine2, p);
  EXPECT_EQ(write[2], kStx);
  EXPECT_EQ(write[27], kEot);
  EXPECT_EQ(DecideRequestLength(write.data()), 28);

  // Both framings present: the read test wins.
  Request both = MakeWritePacket(kStatus, p);
  both[2] = kEot;
  EXPECT_EQ(DecideRequestLength(both.data()), 3);

  Request bad{};
  EXPECT_EQ(DecideRequestLength(bad.data()), kMalformedRequestLength);
  bad[0] = kSoh;  // start byte alone is not enough
  EXPECT_EQ(DecideRequestLength(bad.data()), kMalformedRequestLength);
}

TEST(PacketFraming, WritePacketCarriesPayloadAtOffsetThree) {
  Payload p{};
  for (int i = 0; i < kPayloadLength; ++i) p[i] = static_cast<std::uint8_t>(0x40 + i);
  const Request r = MakeWritePacket(kFanBoot, p);
  EXPECT_EQ(r[0], kSoh);
  EXPECT_EQ(r[1], kFanBoot);
  for (int i = 0; i < kPayloadLength; ++i) EXPECT_EQ(r[3 + i], p[i]) << i;
}

TEST(PacketFraming, OnlyThreeOrTwentyEightByteRepliesAreAccepted) {
  for (std::uint32_t n : {0u, 1u, 2u, 4u, 27u, 29u, 88u, 0x20000015u})
    EXPECT_FALSE(IsAcceptedReplyLength(n)) << n;
  EXPECT_TRUE(IsAcceptedReplyLength(3));
  EXPECT_TRUE(IsAcceptedReplyLength(28));
}

TEST(PacketFraming, RepliesGoToTheDecoderOfTheirOwnNumber) {
  std::uint8_t area[kReceiveAreaSize] = {kSoh, 0, kStx};
  for (int n : {1, 2, 3, 6, 7}) {
    area[1] = static_cast<std::uint8_t>(n);
    EXPECT_EQ(ReplyDecoderNumber(area, 28), n);
  }
  for (int n : {0, 4, 5, 8, 0x85, 0xFF}) {
    area[1] = static_cast<std::uint8_t>(n);
    EXPECT_EQ(ReplyDecoderNumber(area, 28), 0) << n;
  }
  area[1] = 1;
  area[2] = kEot;  // a read-request shape coming back is not a reply
  EXPECT_EQ(ReplyDecoderNumber(area, 28), 0);
  area[2] = kStx;
  area[0] = 0x00;
  EXPECT_EQ(ReplyDecoderNumber(area, 28), 0);
  area[0] = kSoh;
  for (std::uint32_t received : {0u, 3u, 26u}) EXPECT_EQ(ReplyDecoderNumber(area, received), 0) << received;
}

TEST(PacketFraming, ReplyPayloadIsNinetySevenBytesFromOffsetThree) {
  std::uint8_t area[kReceiveAreaSize] = {};
  for (int i = 0; i < kReceiveAreaSize; ++i) area[i] = static_cast<std::uint8_t>(i);
  area[10] = 0;  // zero bytes stay in the text
  const QByteArray payload = MakeReplyPayload(area);
  ASSERT_EQ(payload.size(), 97);
  EXPECT_EQ(PayloadByte(payload, 0), 3);
  EXPECT_EQ(PayloadByte(payload, 7), 0);
  EXPECT_EQ(PayloadByte(payload, 96), 99);
}
