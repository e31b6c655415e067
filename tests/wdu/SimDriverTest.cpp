// SPDX-License-Identifier: GPL-3.0-or-later
// The simulated unit behind the driver layer: the -sim build's whole stack
// below the packet transaction, with the unit's cable as the only hardware.

#include "FakeDriver.h"

#include "SimDriver.h"
#include "SimulatedUnit.h"
#include "device/UsbLink.h"

#include <gtest/gtest.h>

#include <chrono>

using namespace wdutest;

namespace {

class SimStack : public ::testing::Test {
 protected:
  unitsim::SimulatedUnit unit{7};
  std::unique_ptr<unitsim::SimDriver> driver;
  struct NoRunner : IProcessRunner {
    int runs = 0;
    bool RunAndWait(const std::string&, const std::vector<std::string>&) override {
      ++runs;
      return false;
    }
  } runner;
  std::unique_ptr<UsbLink> link;

  void SetUp() override {
    driver = std::make_unique<unitsim::SimDriver>(unit);
    UsbLink::Options options;
    options.accessRuleNeeded = false;
    options.attachWait = std::chrono::milliseconds(200);
    link = std::make_unique<UsbLink>(*driver, runner, options);
  }
  void TearDown() override {
    link.reset();
    driver.reset();
    EXPECT_EQ(wdu::WDU_OpenContextCount(), 0);
  }

  std::uint32_t Exchange(std::uint8_t number, std::uint8_t* reply) {
    const std::uint8_t request[3] = {0x01, number, 0x04};
    return link->TransferPacket(request, 3, reply, 88);
  }
};

TEST_F(SimStack, NeedsNoAccessRuleAndAnswersAStatusRequestThroughTheLayer) {
  EXPECT_TRUE(link->InstallDriverIfMissing());
  EXPECT_EQ(runner.runs, 0);
  ASSERT_TRUE(link->OpenUnit());
  std::uint8_t reply[100] = {};
  ASSERT_EQ(Exchange(1, reply), 28u);
  EXPECT_EQ(reply[0], 0x01);
  EXPECT_EQ(reply[1], 0x01);
  EXPECT_EQ(reply[2], 0x02);
  const auto block = unit.Block(1);
  EXPECT_TRUE(std::equal(block.begin(), block.end(), reply + 3));
}

TEST_F(SimStack, UnplugAndPlugTravelAsDetachAndAttach) {
  ASSERT_TRUE(link->OpenUnit());
  std::uint8_t reply[100] = {};

  unit.Unplug();
  ASSERT_TRUE(Eventually([&] { return link->CurrentDevice() == nullptr; }));
  EXPECT_EQ(Exchange(1, reply), 0u);
  EXPECT_EQ(link->ResetLinkPipe(0x02), wdu::status::kDeviceNotFound);

  unit.Plug();
  ASSERT_TRUE(Eventually([&] { return link->CurrentDevice() != nullptr; }));
  EXPECT_EQ(Exchange(1, reply), 28u);
}

TEST_F(SimStack, AnUnpluggedUnitCannotBeOpened) {
  unit.Unplug();
  EXPECT_FALSE(link->OpenUnit());
  unit.Plug();
}

TEST_F(SimStack, AReadThatGetsNoAnswerWaitsForItsTimeOut) {
  ASSERT_TRUE(link->OpenUnit());
  std::uint8_t reply[88] = {};
  std::uint32_t transferred = 99;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(wdu::WDU_PipeTransfer(link->CurrentDevice(), 0x81, 1, 0, reply, 88, &transferred,
                                  nullptr, 60),
            wdu::status::kTimeoutExpired);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(60));
  EXPECT_EQ(transferred, 0u);
}

}  // namespace
