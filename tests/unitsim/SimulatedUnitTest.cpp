// SPDX-License-Identifier: GPL-3.0-or-later
// The model is checked from the host's side of the cable: requests go in as
// bytes, replies come out as bytes and are decoded here field by field.

#include "SimulatedUnit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <vector>

using unitsim::SimulatedUnit;
using Bytes = std::vector<std::uint8_t>;
using Payload = std::array<std::uint8_t, 24>;

namespace {

Bytes Exchange(SimulatedUnit& unit, const Bytes& request, std::size_t maxLength = 88) {
  if (!unit.Receive(request.data(), request.size())) return {};
  return unit.Transmit(maxLength);
}

Bytes Read(SimulatedUnit& unit, std::uint8_t number) { return Exchange(unit, {0x01, number, 0x04}); }

Bytes Write(SimulatedUnit& unit, std::uint8_t number, const Payload& payload) {
  Bytes packet{0x01, number, 0x02};
  packet.insert(packet.end(), payload.begin(), payload.end());
  packet.push_back(0x04);
  return Exchange(unit, packet);
}

Payload PayloadOf(const Bytes& reply) {
  Payload p{};
  EXPECT_EQ(reply.size(), 28u);
  if (reply.size() >= 27) std::copy(reply.begin() + 3, reply.begin() + 27, p.begin());
  return p;
}

int U16(const Payload& p, int at) { return p[at] | (p[at + 1] << 8); }
int S16(const Payload& p, int at) { return static_cast<std::int16_t>(U16(p, at)); }
int S16BigEndian(const Payload& p, int at) { return static_cast<std::int16_t>((p[at] << 8) | p[at + 1]); }

void Put16(Payload& p, int at, int v) {
  p[at] = static_cast<std::uint8_t>(v & 0xFF);
  p[at + 1] = static_cast<std::uint8_t>((v >> 8) & 0xFF);
}

void AdvanceUntil(SimulatedUnit& unit, double limitSeconds, const std::function<bool()>& done) {
  for (double t = 0; t < limitSeconds && !done(); t += 1.0) unit.Advance(1.0);
}

}  // namespace

TEST(SimulatedUnitStatus, ReplyDecodesToTheValuesTheUnitHolds) {
  SimulatedUnit unit(3);
  unit.SetSensor(4, -12.3);
  unit.SetSensor(5, 41.0);
  unit.Advance(40.0);

  const Bytes reply = Read(unit, 0x01);
  ASSERT_EQ(reply.size(), 28u);
  EXPECT_EQ(reply[0], 0x01);
  EXPECT_EQ(reply[1], 0x01);
  EXPECT_EQ(reply[2], 0x02);
  EXPECT_EQ(reply[27], 0x04);
  const Payload p = PayloadOf(reply);

  EXPECT_EQ(p[2], unit.State());
  for (int sensor = 1; sensor <= 5; ++sensor) {
    const int raw = S16(p, 3 + 2 * (sensor - 1));
    const double celsius = (raw >= -999 && raw <= -990) ? -99.0 : raw / 10.0;
    EXPECT_DOUBLE_EQ(celsius, unit.Temperature(sensor)) << "sensor " << sensor;
  }
  EXPECT_EQ(S16(p, 7), -990) << "sensor 3 has never been set";
  EXPECT_EQ(S16(p, 9), -123);
  EXPECT_EQ(S16(p, 11), 410);
  EXPECT_NEAR(S16(p, 5), 240, 5) << "sensor 2 reads the room";
  EXPECT_EQ(U16(p, 13), unit.FanRpm(1));
  EXPECT_EQ(U16(p, 15), unit.FanRpm(2));
  EXPECT_GT(U16(p, 13), 1000);
  // The condenser runs a little above room temperature; read with the wrong
  // byte order it would come out in the thousands.
  EXPECT_GT(S16BigEndian(p, 19), 240);
  EXPECT_LT(S16BigEndian(p, 19), 400);
  EXPECT_EQ(unit.Block(0x01), p);
}

TEST(SimulatedUnitStatus, MissingSensorsReadAsNoneAndALostEvaporatorSensorIsASensorFailure) {
  SimulatedUnit unit(8);
  unit.Advance(30.0);
  unit.SetSensorMissing(2);
  EXPECT_EQ(unit.Temperature(2), -99.0);
  EXPECT_EQ(S16(PayloadOf(Read(unit, 0x01)), 5), -990);
  unit.ClearSensor(2);
  EXPECT_NEAR(unit.Temperature(2), 24.0, 0.5);
  unit.ClearSensor(3);
  EXPECT_EQ(unit.Temperature(3), -99.0) << "no sensor is fitted there";

  unit.SetSensorMissing(1);
  EXPECT_EQ(unit.State(), 83);
  EXPECT_EQ(S16(PayloadOf(Read(unit, 0x01)), 3), -990);
  unit.ClearSensor(1);
  EXPECT_NE(unit.State(), 83);
}

TEST(SimulatedUnitBlocks, SettingsBlockCountsModelHoursAndRoundTrips) {
  SimulatedUnit unit(5);
  Payload p = PayloadOf(Read(unit, 0x02));
  EXPECT_EQ(p[1], 'C');
  EXPECT_EQ(p[2], 0x02);
  EXPECT_EQ(p[3], 'E');
  EXPECT_EQ(U16(p, 17), 1250);
  unit.Advance(3599.0);
  EXPECT_EQ(unit.OperatingHours(), 1250);
  unit.Advance(2.0);
  EXPECT_EQ(unit.OperatingHours(), 1251);
  unit.Advance(3600.0);
  p = PayloadOf(Read(unit, 0x02));
  EXPECT_EQ(U16(p, 17), 1252);

  p[1] = 'F';
  Put16(p, 17, 300);
  const Bytes answer = Write(unit, 0x02, p);
  ASSERT_EQ(answer.size(), 28u);
  EXPECT_EQ(answer[1], 0x02);
  EXPECT_EQ(PayloadOf(answer), p);
  EXPECT_EQ(PayloadOf(Read(unit, 0x02)), p);
  EXPECT_EQ(unit.OperatingHours(), 300);
}

TEST(SimulatedUnitBlocks, FanBootReplyReportsOnePairWhereTheWriteCarriesTwo) {
  SimulatedUnit unit(5);
  Payload initial = PayloadOf(Read(unit, 0x03));
  EXPECT_EQ(S16(initial, 6), -330);

  Payload write{};
  const int words[8] = {2100, 750, 760, -200, 11, 12, 13, 14};
  for (int w = 0; w < 8; ++w) Put16(write, 2 * w, words[w]);
  Put16(write, 16, 2100);  // rear pair
  Put16(write, 18, 2150);
  write[20] = 0xA1;
  write[21] = 0xA2;
  write[22] = 0xA3;
  write[23] = 0xA4;

  const Bytes answer = Write(unit, 0x03, write);
  ASSERT_EQ(answer.size(), 28u);
  EXPECT_EQ(answer[1], 0x03);
  for (const Payload& reply : {PayloadOf(answer), PayloadOf(Read(unit, 0x03))}) {
    for (int w = 0; w < 8; ++w) EXPECT_EQ(S16(reply, 2 * w), words[w]) << "word " << w;
    EXPECT_EQ(reply[16], 0xA1);
    EXPECT_EQ(reply[17], 0xA2);
    EXPECT_EQ(reply[18], 0xA3);
    EXPECT_EQ(reply[19], 0xA4);
  }
  EXPECT_EQ(unit.Block(0x03), write) << "the unit keeps the rear pair it was sent";

  unit.Advance(20.0);
  EXPECT_NEAR(unit.FanRpm(1), 755, 755 * 0.03);
  EXPECT_NEAR(unit.FanRpm(2), 2125, 2125 * 0.03);
}

TEST(SimulatedUnitBlocks, DisplayLinesAreKeptPerLine) {
  SimulatedUnit unit(5);
  Payload line1;
  line1.fill(0x20);
  const std::string text = "2400MHz 7% -35\xDF";
  std::copy(text.begin(), text.end(), line1.begin());

  const Bytes answer = Write(unit, 0x06, line1);
  ASSERT_EQ(answer.size(), 28u);
  EXPECT_EQ(answer[1], 0x06);
  EXPECT_EQ(PayloadOf(answer), line1);
  EXPECT_EQ(unit.FrontPanelLine(1), text + " ");

  const std::string line2Before = unit.FrontPanelLine(2);
  Payload blank;
  blank.fill(0x20);
  EXPECT_EQ(Write(unit, 0x07, blank)[1], 0x07);
  EXPECT_EQ(unit.FrontPanelLine(2), std::string(16, ' '));
  EXPECT_NE(line2Before, unit.FrontPanelLine(2));
  EXPECT_EQ(unit.FrontPanelLine(1), text + " ") << "line 1 untouched by packet 07";
  EXPECT_EQ(PayloadOf(Read(unit, 0x07)), blank);
}

TEST(SimulatedUnitProtocol, ShutdownNoticePowersTheUnitDown) {
  SimulatedUnit unit(5);
  unit.Advance(60.0);
  EXPECT_EQ(Read(unit, 0x85), (Bytes{0x01, 0x85, 0x04}));
  EXPECT_EQ(unit.State(), 5);
  EXPECT_EQ(PayloadOf(Read(unit, 0x01))[2], 5);
  unit.Advance(30.0);
  EXPECT_EQ(unit.State(), 5);
  EXPECT_EQ(unit.FanRpm(1), 0) << "a powered-down unit lets its fans run down";

  unit.PowerCycle();
  EXPECT_EQ(unit.State(), 0);
}

TEST(SimulatedUnitProtocol, IgnoresWhatItDoesNotUnderstand) {
  SimulatedUnit unit(5);
  const std::vector<Bytes> requests = {
      {0x01, 0x04, 0x04},        // no such block
      {0x01, 0x05, 0x04},
      {0x01, 0x01, 0x02},        // not a read request
      {0x00, 0x01, 0x04},
      {0x01, 0x01, 0x04, 0x00},  // what a request of unknown framing goes out as
      {},
  };
  for (const Bytes& request : requests) {
    EXPECT_TRUE(unit.Receive(request.data(), request.size()));
    EXPECT_TRUE(unit.Transmit(88).empty());
  }
  Payload payload{};
  EXPECT_TRUE(Write(unit, 0x01, payload).empty()) << "the status block cannot be written";
  Bytes shortWrite{0x01, 0x06, 0x02};
  shortWrite.resize(27, 0x20);
  EXPECT_TRUE(Exchange(unit, shortWrite).empty());
}

TEST(SimulatedUnitProtocol, AnswerIsHandedOutOnceAndCutToTheReadLength) {
  SimulatedUnit unit(5);
  const Bytes request{0x01, 0x02, 0x04};
  ASSERT_TRUE(unit.Receive(request.data(), request.size()));
  const Bytes head = unit.Transmit(10);
  ASSERT_EQ(head.size(), 10u);
  EXPECT_EQ(head[1], 0x02);
  EXPECT_TRUE(unit.Transmit(88).empty());

  ASSERT_TRUE(unit.Receive(request.data(), request.size()));
  ASSERT_EQ(unit.Transmit(88).size(), 28u);
}

TEST(SimulatedUnitProtocol, EachMalformationAppliesToTheNextRepliesOnly) {
  using M = SimulatedUnit::Malformation;
  SimulatedUnit unit(5);

  unit.MalformNextReplies(M::Short27);
  EXPECT_EQ(Read(unit, 0x01).size(), 27u);
  EXPECT_EQ(Read(unit, 0x01).size(), 28u);

  unit.MalformNextReplies(M::Long29, 2);
  EXPECT_EQ(Read(unit, 0x02).size(), 29u);
  EXPECT_EQ(Read(unit, 0x02).size(), 29u);
  EXPECT_EQ(Read(unit, 0x02).size(), 28u);

  unit.MalformNextReplies(M::BadFraming);
  const Bytes bad = Read(unit, 0x01);
  ASSERT_EQ(bad.size(), 28u);
  EXPECT_EQ(bad[2], 0x04);

  unit.MalformNextReplies(M::Number04);
  EXPECT_EQ(Read(unit, 0x01)[1], 0x04);
  unit.MalformNextReplies(M::Number05);
  Payload payload;
  payload.fill(0x20);
  const Bytes renumbered = Write(unit, 0x07, payload);
  EXPECT_EQ(renumbered[1], 0x05);
  EXPECT_EQ(unit.FrontPanelLine(2), std::string(16, ' ')) << "the write itself was taken";

  unit.MalformNextReplies(M::Short27, 5);
  unit.MalformNextReplies(M::None);
  EXPECT_EQ(Read(unit, 0x01).size(), 28u);
}

TEST(SimulatedUnitCable, UnpluggedUnitHearsNothingAndListenersAreTold) {
  SimulatedUnit unit(5);
  std::vector<bool> seen;
  bool pluggedSeenInside = true;
  const int id = unit.AddPlugListener([&](bool plugged) {
    seen.push_back(plugged);
    pluggedSeenInside = unit.IsPlugged();  // must not deadlock: called outside the lock
  });

  const Bytes request{0x01, 0x01, 0x04};
  ASSERT_TRUE(unit.Receive(request.data(), request.size()));
  unit.Unplug();
  EXPECT_FALSE(pluggedSeenInside);
  EXPECT_TRUE(unit.Transmit(88).empty()) << "an answer in flight is lost with the cable";
  EXPECT_FALSE(unit.Receive(request.data(), request.size()));
  unit.Unplug();  // no change, no call

  unit.Plug();
  EXPECT_EQ(seen, (std::vector<bool>{false, true}));
  EXPECT_EQ(Read(unit, 0x01).size(), 28u);

  unit.RemovePlugListener(id);
  unit.Unplug();
  EXPECT_EQ(seen.size(), 2u);
}

TEST(SimulatedUnitModel, EqualSeedsGiveEqualRuns) {
  auto run = [](std::uint64_t seed) {
    SimulatedUnit unit(seed);
    std::vector<Bytes> replies;
    for (int i = 0; i < 400; ++i) {
      unit.Advance(3.0);
      replies.push_back(Read(unit, 0x01));
    }
    return replies;
  };
  EXPECT_EQ(run(11), run(11));
  EXPECT_NE(run(11), run(12));
}

TEST(SimulatedUnitModel, SlicingTimeDoesNotChangeTheOutcome) {
  SimulatedUnit coarse(9);
  SimulatedUnit fine(9);
  coarse.Advance(90.0);
  for (int i = 0; i < 360; ++i) fine.Advance(0.25);
  EXPECT_EQ(coarse.Block(0x01), fine.Block(0x01));
}

TEST(SimulatedUnitModel, BootsThroughBootDelayToNearTheBootTemperature) {
  SimulatedUnit unit(21);
  EXPECT_EQ(unit.State(), 0);
  EXPECT_NEAR(unit.Temperature(1), 24.0, 0.5);
  unit.Advance(3.0);
  EXPECT_EQ(unit.State(), 0);
  unit.Advance(3.0);
  EXPECT_EQ(unit.State(), 2);

  double previous = unit.Temperature(1);
  AdvanceUntil(unit, 1200.0, [&] {
    EXPECT_LE(unit.Temperature(1), previous + 0.5) << "the evaporator only cools during boot delay";
    previous = unit.Temperature(1);
    return unit.State() != 2;
  });
  const std::set<int> cooling{1, 3, 4};
  EXPECT_TRUE(cooling.count(unit.State())) << int(unit.State());
  EXPECT_LE(unit.Temperature(1), -32.5);
  EXPECT_GT(unit.Temperature(1), -34.5);
}

TEST(SimulatedUnitModel, BootDelayEndsAtTheWrittenBootTemperature) {
  SimulatedUnit unit(21);
  Payload block = PayloadOf(Read(unit, 0x03));
  Payload write{};
  std::copy_n(block.begin(), 16, write.begin());
  Put16(write, 6, -100);
  Write(unit, 0x03, write);
  AdvanceUntil(unit, 1200.0, [&] { return unit.State() != 0 && unit.State() != 2; });
  EXPECT_LE(unit.Temperature(1), -9.5);
  EXPECT_GT(unit.Temperature(1), -12.0);
}

TEST(SimulatedUnitModel, CoolingCycleRestsNowAndThenButStaysCold) {
  SimulatedUnit unit(4);
  AdvanceUntil(unit, 1200.0, [&] { return unit.State() != 0 && unit.State() != 2; });
  std::set<int> states;
  double warmest = -100.0;
  for (int s = 0; s < 3 * 3600; ++s) {
    unit.Advance(1.0);
    states.insert(unit.State());
    warmest = std::max(warmest, unit.Temperature(1));
  }
  EXPECT_EQ(states, (std::set<int>{1, 3, 4, 6, 7}));
  EXPECT_LT(warmest, -20.0) << "a rest must not take the evaporator to a warning limit";
}

TEST(SimulatedUnitFaults, StoppedFanReadsZeroAndTheUnitNoticesIt) {
  SimulatedUnit unit(8);
  unit.Advance(30.0);
  ASSERT_GT(unit.FanRpm(2), 1000);
  unit.StopFan(2, true);
  EXPECT_EQ(unit.FanRpm(2), 0);
  unit.Advance(2.0);
  EXPECT_EQ(U16(PayloadOf(Read(unit, 0x01)), 15), 0);
  EXPECT_GT(unit.FanRpm(1), 1000) << "the other fan keeps turning";
  EXPECT_NE(unit.State(), 82);
  unit.Advance(5.0);
  EXPECT_EQ(unit.State(), 82);

  unit.StopFan(2, false);
  unit.Advance(10.0);
  EXPECT_NEAR(unit.FanRpm(2), 1250, 1250 * 0.03);
  EXPECT_NE(unit.State(), 82);
}

TEST(SimulatedUnitFaults, ForcedCodesOverrideTheReportUntilCleared) {
  SimulatedUnit unit(8);
  unit.Advance(30.0);
  const std::uint8_t own = unit.State();

  unit.ForceState(85);
  EXPECT_EQ(PayloadOf(Read(unit, 0x01))[2], 85);
  unit.ForceState(79);  // codes the host does not know go out as they are
  EXPECT_EQ(unit.State(), 79);

  unit.ForceState(82);
  unit.Advance(2.0);
  EXPECT_EQ(unit.FanRpm(2), 0) << "a fan failure shows on the rear fan";
  EXPECT_GT(unit.FanRpm(1), 1000);

  unit.ClearForcedState();
  unit.Advance(5.0);
  EXPECT_EQ(unit.State(), own);
  EXPECT_GT(unit.FanRpm(2), 1000);
}
