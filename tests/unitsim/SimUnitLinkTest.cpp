// SPDX-License-Identifier: GPL-3.0-or-later
// The link answers the way the USB link does: bytes received, a read status
// when the unit stays silent, 0 when the request could not be written.

#include "SimUnitLink.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>

using unitsim::SimClock;
using unitsim::SimulatedUnit;
using unitsim::SimUnitLink;

namespace {

struct Transfer {
  std::uint32_t result;
  std::array<std::uint8_t, 100> reply;
};

Transfer Send(SimUnitLink& link, std::initializer_list<std::uint8_t> request, std::uint32_t replyLength = 88) {
  std::array<std::uint8_t, 30> buffer{};
  std::copy(request.begin(), request.end(), buffer.begin());
  Transfer t{0, {}};
  t.result = link.TransferPacket(buffer.data(), static_cast<std::uint32_t>(request.size()), t.reply.data(),
                                 replyLength);
  return t;
}

}  // namespace

TEST(SimUnitLink, ReturnsWhatTheUnitAnswered) {
  SimulatedUnit unit(1);
  SimUnitLink link(unit);
  EXPECT_TRUE(link.InstallDriverIfMissing());
  EXPECT_TRUE(link.OpenUnit());

  const Transfer t = Send(link, {0x01, 0x02, 0x04});
  ASSERT_EQ(t.result, 28u);
  EXPECT_EQ(t.reply[0], 0x01);
  EXPECT_EQ(t.reply[1], 0x02);
  EXPECT_EQ(t.reply[2], 0x02);
  EXPECT_EQ(t.reply[4], 'C');
  EXPECT_EQ(t.reply[28], 0x00) << "nothing written past the answer";

  EXPECT_EQ(Send(link, {0x01, 0x85, 0x04}).result, 3u);
  EXPECT_EQ(Send(link, {0x01, 0x01, 0x04}, 20).result, 20u);

  unit.MalformNextReplies(SimulatedUnit::Malformation::Short27);
  EXPECT_EQ(Send(link, {0x01, 0x01, 0x04}).result, 27u);
  EXPECT_EQ(link.ResetLinkPipe(0x02), 0u);
  EXPECT_EQ(link.ResetLinkPipe(0x81), 0u);
}

TEST(SimUnitLink, ASilentUnitIsAReadFailureAndAnUnpluggedOneAWriteFailure) {
  SimulatedUnit unit(1);
  SimUnitLink link(unit);
  EXPECT_EQ(Send(link, {0x01, 0x04, 0x04}).result, SimUnitLink::kReadTimedOut);
  unit.Unplug();
  EXPECT_FALSE(link.OpenUnit());
  EXPECT_EQ(Send(link, {0x01, 0x01, 0x04}).result, 0u);
  unit.Plug();
  EXPECT_TRUE(link.OpenUnit());
  EXPECT_EQ(Send(link, {0x01, 0x01, 0x04}).result, 28u);
}

TEST(SimUnitLink, OnlyTheWallClockModeMovesModelTime) {
  SimulatedUnit unit(1);
  SimUnitLink manual(unit, SimClock::Manual);
  Send(manual, {0x01, 0x01, 0x04});
  EXPECT_EQ(unit.Now(), 0.0);

  unit.Advance(100.0);
  SimUnitLink link(unit, SimClock::WallClock);
  Send(link, {0x01, 0x01, 0x04});
  EXPECT_TRUE(unit.FollowsWallClock());
  EXPECT_GE(unit.Now(), 100.0);
  EXPECT_LT(unit.Now(), 160.0);
}
