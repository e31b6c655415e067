// SPDX-License-Identifier: GPL-3.0-or-later
// The status cycle without a window: the overall status the state codes give,
// the texts they queue, and the other replies' blocks and running hours.

#include "support/WatchFixture.h"

namespace {

class WatchStatusCycleTest : public WatchFixture {
 protected:
  void SetUp() override {
    WatchFixture::SetUp();
    AnswerAsTheUnit();
    UseDefaultSensors();
  }
};

TEST_F(WatchStatusCycleTest, StateCodesSetTheStatusAndQueueTheirTextAtEveryReply) {
  reading.state = 84;  // the texts and colours of each code: UnitStatesTest
  for (int i = 0; i < 3; ++i) Poll();
  EXPECT_EQ(watch.Model().status.caption, "CRITICAL TEMPERATURE");
  EXPECT_EQ(watch.Model().status.colour, PanelColour::Orange);
  const QString text84 = "CRITICAL TEMPERATURE -  System is critical in controlling the temperature";
  EXPECT_EQ(Drain(), (QStringList{text84, text84, text84}));

  for (std::uint8_t unknown : {8, 79}) {
    reading.state = unknown;
    Poll();
    EXPECT_EQ(watch.Model().status.caption, "Normal");
    EXPECT_EQ(watch.Model().status.colour, PanelColour::Green);
    EXPECT_EQ(Device.Status.UnitState, 3);
    EXPECT_TRUE(Drain().isEmpty());
  }
}

TEST_F(WatchStatusCycleTest, OtherRepliesFillTheirBlocksAndTheRunningHours) {
  packet::Payload p{};
  p[1] = 'C';
  p[2] = 0x7F;
  p[17] = 0x2C;
  p[18] = 0x01;
  fakes.link.respond = [&](const Bytes&) { return FakeLink::Answer{28, MakeReplyFrame(0x02, p)}; };
  watch.ExchangePacket(packet::MakeReadRequest(0x02));
  EXPECT_EQ(watch.Model().operatingHours, 300);
  EXPECT_EQ(face.hoursShown, 1);
  EXPECT_EQ(Device.Settings.Bytes[2], 0x02);

  packet::Payload fan{};  // the block's layout is DeviceDataTest's concern
  fan[6] = 0xB6;
  fan[7] = 0xFE;
  fakes.link.respond = [&](const Bytes&) { return FakeLink::Answer{28, MakeReplyFrame(0x03, fan)}; };
  watch.ExchangePacket(packet::MakeReadRequest(0x03));
  EXPECT_EQ(Device.FanBoot.Words[3], -330);
}

}  // namespace
