// SPDX-License-Identifier: GPL-3.0-or-later
// The libusb stand-in and the USB link against the unit emulated by umockdev,
// with the simulated unit's firmware answering: the path a real unit's bytes
// take, without the hardware.

#include "EmulatedUnit.h"
#include "FakeDriver.h"

#include "SimulatedUnit.h"
#include "device/UsbLink.h"
#include "device/wdu/LibusbStandIn.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

using namespace wdutest;

namespace {

struct NoRunner : IProcessRunner {
  bool RunAndWait(const std::string&, const std::vector<std::string>&) override { return false; }
};

class Emulated : public ::testing::Test {
 protected:
  unitsim::SimulatedUnit model{11};
  std::unique_ptr<EmulatedUnit> bench;
  std::unique_ptr<wdu::LibusbStandIn> driver;
  NoRunner runner;
  std::unique_ptr<UsbLink> link;

  void SetUp() override { bench = std::make_unique<EmulatedUnit>(model); }
  void StartLink(std::chrono::milliseconds attachWait, std::uint32_t transferTimeoutMs = 3000) {
    driver = std::make_unique<wdu::LibusbStandIn>();
    UsbLink::Options options;
    options.accessRuleNeeded = false;
    options.attachWait = attachWait;
    options.transferTimeoutMs = transferTimeoutMs;
    link = std::make_unique<UsbLink>(*driver, runner, options);
  }
  void OpenPluggedInUnit(std::uint32_t transferTimeoutMs = 3000) {
    bench->PlugIn(UnitVendorId, UnitProductId);
    StartLink(std::chrono::milliseconds(3000), transferTimeoutMs);
    ASSERT_TRUE(link->OpenUnit());
  }
  void TearDown() override {
    link.reset();
    driver.reset();
    bench.reset();
    EXPECT_EQ(wdu::WDU_OpenContextCount(), 0);
  }

  std::uint32_t Exchange(std::uint8_t number, std::uint8_t* reply) {
    std::fill(reply, reply + 100, 0);
    const std::uint8_t request[3] = {0x01, number, 0x04};
    return link->TransferPacket(request, 3, reply, 88);
  }
  std::uint32_t WriteLine2() {
    std::uint8_t packet[28] = {0x01, 0x07, 0x02};
    std::memset(packet + 3, 'x', 24);
    packet[27] = 0x04;
    std::uint8_t reply[100] = {};
    return link->TransferPacket(packet, 28, reply, 88);
  }
  // One request as the window makes it (a failure resets both pipes); the
  // number of the reply it got, or -1.
  int Request(std::uint8_t number) {
    std::uint8_t packet[28] = {0x01, number, 0x02};
    packet[27] = 0x04;
    if (number == 1) packet[2] = 0x04;
    std::uint8_t reply[100] = {};
    const std::uint32_t n = link->TransferPacket(packet, number == 1 ? 3 : 28, reply, 88);
    if (n == 3 || n == 28) return reply[1];
    link->ResetLinkPipe(0x02);
    link->ResetLinkPipe(0x81);
    return -1;
  }
  // A data poll: line 2, then the status.
  std::vector<int> Poll() { return {Request(7), Request(1)}; }
};

TEST_F(Emulated, AFullDataPollComesBackFromTheUnit) {
  ASSERT_NO_FATAL_FAILURE(OpenPluggedInUnit());
  EXPECT_EQ(WriteLine2(), 28u);
  std::uint8_t reply[100];
  ASSERT_EQ(Exchange(1, reply), 28u);
  EXPECT_EQ(reply[0], 0x01);
  EXPECT_EQ(reply[1], 0x01);
  EXPECT_EQ(reply[2], 0x02);
  const auto block = model.Block(1);
  EXPECT_TRUE(std::equal(block.begin(), block.end(), reply + 3));
  EXPECT_EQ(model.FrontPanelLine(2), std::string(16, 'x'));
}

TEST_F(Emulated, OpensWithInterfaceZeroAndAfterAnUnplugFailsUntilReplugOpensItAnew) {
  const auto expectOpenedOnce = [&](const std::string& node) {
    const auto seen = bench->SeenOn(node);
    EXPECT_EQ(seen.claimed, std::vector<unsigned>{0});
    EXPECT_EQ(seen.interfaceSettings, (std::vector<std::pair<unsigned, unsigned>>{{0, 0}}));
  };
  ASSERT_NO_FATAL_FAILURE(OpenPluggedInUnit());
  expectOpenedOnce(bench->UnitNode());
  std::uint8_t reply[100];
  ASSERT_EQ(Exchange(1, reply), 28u);
  const std::string firstNode = bench->UnitNode();

  bench->Unplug();
  ASSERT_TRUE(Eventually([&] { return link->CurrentDevice() == nullptr; }));
  for (int tick = 0; tick < 3; ++tick) {
    EXPECT_EQ(WriteLine2(), 0u);
    EXPECT_EQ(Exchange(1, reply), 0u);
  }

  bench->PlugIn(UnitVendorId, UnitProductId);
  ASSERT_TRUE(Eventually([&] { return link->CurrentDevice() != nullptr; }));
  ASSERT_NE(bench->UnitNode(), firstNode);
  EXPECT_EQ(Exchange(1, reply), 28u);
  expectOpenedOnce(bench->UnitNode());
}

TEST_F(Emulated, ASecondMatchingUnitIsRefusedAndNeverOpened) {
  ASSERT_NO_FATAL_FAILURE(OpenPluggedInUnit());
  const wdu::DeviceHandle first = link->CurrentDevice();
  bench->PlugInAnother(UnitVendorId, UnitProductId);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(link->CurrentDevice(), first);
  EXPECT_EQ(bench->SeenOn(bench->AnotherNode()).requests, 0);
  std::uint8_t reply[100];
  EXPECT_EQ(Exchange(1, reply), 28u);
}

TEST_F(Emulated, AfterAStallOrALateAnswerEveryReplyIsItsRequestsFromTheNextPollOn) {
  ASSERT_NO_FATAL_FAILURE(OpenPluggedInUnit(/*transferTimeoutMs=*/200));
  bench->Halt(0x81);
  std::uint8_t reply[100];
  EXPECT_EQ(Exchange(1, reply), wdu::status::kPipeStalled);
  EXPECT_EQ(Exchange(1, reply), wdu::status::kPipeStalled);  // stays halted until cleared
  EXPECT_EQ(link->ResetLinkPipe(0x02), 0u);
  EXPECT_EQ(link->ResetLinkPipe(0x81), 0u);
  EXPECT_EQ(bench->SeenOn(bench->UnitNode()).clearedHalts, (std::vector<unsigned>{0x02, 0x81}));
  // The answers the stalled reads missed were waiting in the unit.
  EXPECT_EQ(Poll(), (std::vector<int>{7, 1}));

  // The status answer comes after the read gave up and the pipes were reset,
  // before the next poll.
  bench->DelayNextReplyTo(1, std::chrono::milliseconds(400));
  EXPECT_EQ(Poll(), (std::vector<int>{7, -1}));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(Poll(), (std::vector<int>{7, 1}));

  // Line 2's answer comes while the status request already waits for its own.
  bench->DelayNextReplyTo(7, std::chrono::milliseconds(400));
  EXPECT_EQ(Poll()[0], -1);
  for (int poll = 0; poll < 2; ++poll) EXPECT_EQ(Poll(), (std::vector<int>{7, 1}));
}

TEST_F(Emulated, AnAnswerLeftFromAnEarlierRunIsNotTakenForTheFirstReply) {
  ASSERT_NO_FATAL_FAILURE(OpenPluggedInUnit());
  // That run ended between its request and the answer.
  std::uint8_t request[3] = {0x01, 0x06, 0x04};
  std::uint32_t sent = 0;
  ASSERT_EQ(wdu::WDU_PipeTransfer(link->CurrentDevice(), 0x02, 0, 0, request, 3, &sent, nullptr,
                                  3000), 0u);
  link.reset();
  driver.reset();
  StartLink(std::chrono::milliseconds(3000));
  ASSERT_TRUE(link->OpenUnit());
  EXPECT_EQ(Request(1), 1);
}

TEST_F(Emulated, ASilentUnitFailsTheReadAfterTheTimeOut) {
  ASSERT_NO_FATAL_FAILURE(OpenPluggedInUnit(/*transferTimeoutMs=*/150));
  bench->SetSilent(true);
  const int discardedBefore = bench->SeenOn(bench->UnitNode()).discarded;  // opening drains
  std::uint8_t reply[100];
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Exchange(1, reply), wdu::status::kTimeoutExpired);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(150));
  EXPECT_EQ(bench->SeenOn(bench->UnitNode()).discarded, discardedBefore + 1);
}

TEST_F(Emulated, NoUnitAtStartMeansOpenFails) {
  StartLink(std::chrono::milliseconds(300));
  EXPECT_FALSE(link->OpenUnit());
  EXPECT_EQ(wdu::WDU_OpenContextCount(), 0);
}

TEST(LibusbStatus, MapsLibusbResultsOntoTheStatusTable) {
  using wdu::LibusbStandIn;
  EXPECT_EQ(LibusbStandIn::MapLibusbResult(0), 0u);
  EXPECT_EQ(LibusbStandIn::MapLibusbResult(28), 0u);
  EXPECT_EQ(LibusbStandIn::MapLibusbResult(-4), wdu::status::kDeviceNotFound);    // NO_DEVICE
  EXPECT_EQ(LibusbStandIn::MapLibusbResult(-7), wdu::status::kTimeoutExpired);    // TIMEOUT
  EXPECT_EQ(LibusbStandIn::MapLibusbResult(-9), wdu::status::kPipeStalled);       // PIPE
  EXPECT_EQ(LibusbStandIn::MapLibusbResult(-3), wdu::status::kAccessDenied);      // ACCESS
  EXPECT_EQ(LibusbStandIn::MapLibusbResult(-11), wdu::status::kInsufficientResources);
  EXPECT_EQ(LibusbStandIn::MapLibusbResult(-99), wdu::status::kOtherError);
  EXPECT_EQ(LibusbStandIn::MapLibusbResult(-1234), wdu::status::kOtherError);
}

}  // namespace

int main(int argc, char** argv) {
  RunUnderUmockdev(argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
