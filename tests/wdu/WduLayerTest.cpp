// SPDX-License-Identifier: GPL-3.0-or-later
// The driver layer against a recording fake driver: what it asks the driver,
// in which records, and what it answers without asking.

#include "FakeDriver.h"

#include "device/wdu/DevList.h"
#include "device/wdu/Wdu.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

using namespace wdu;
using namespace wdutest;

namespace {

constexpr MatchEntry kTable{0x1209, 0x0001, 0, 0, 0, 0, 0, 0};

struct Calls {
  std::mutex mutex;
  std::vector<DeviceHandle> attached, detached;
  std::vector<std::pair<DeviceHandle, std::uint32_t>> power;
  std::vector<int> interfaceNumbers;
  bool takeControl = true;
};

bool Attach(DeviceHandle device, const DeviceInfo* info, void* user) {
  auto* calls = static_cast<Calls*>(user);
  std::lock_guard<std::mutex> lock(calls->mutex);
  calls->attached.push_back(device);
  calls->interfaceNumbers.push_back(FirstActiveInterfaceNumber(info));
  return calls->takeControl;
}
void Detach(DeviceHandle device, void* user) {
  auto* calls = static_cast<Calls*>(user);
  std::lock_guard<std::mutex> lock(calls->mutex);
  calls->detached.push_back(device);
}
void Power(DeviceHandle device, std::uint32_t action, void* user) {
  auto* calls = static_cast<Calls*>(user);
  std::lock_guard<std::mutex> lock(calls->mutex);
  calls->power.push_back({device, action});
}

class WduLayer : public ::testing::Test {
 protected:
  FakeUnitDriver unit;
  RecordingDriver driver{unit};
  Calls calls;
  EventTable events{&Attach, &Detach, nullptr, &calls};
  DriverHandle context = nullptr;

  void TearDown() override {
    WDU_Close(context);
    DeviceListLock::SetBound(DeviceListLock::kDefaultBound);
    EXPECT_EQ(WDU_OpenContextCount(), 0);
  }

  Status Init(const EventTable* table = nullptr) {
    return WDU_Init(&context, &kTable, 1, table ? table : &events, option::kAcknowledge, driver);
  }
  std::size_t AttachCount() {
    std::lock_guard<std::mutex> lock(calls.mutex);
    return calls.attached.size();
  }
  DeviceHandle LastAttached() {
    std::lock_guard<std::mutex> lock(calls.mutex);
    return calls.attached.empty() ? nullptr : calls.attached.back();
  }
  std::vector<RecordedRequest> Acks() { return driver.RequestsWith(code::kEventSend); }
};

// --- Opening and closing a context

TEST_F(WduLayer, InitAsksForTheVersionAndRegistersTheMatchTable) {
  events.power = &Power;
  ASSERT_EQ(Init(), status::kSuccess);
  ASSERT_NE(context, nullptr);
  const auto requests = driver.Requests();
  ASSERT_GE(requests.size(), 3u);
  EXPECT_EQ(requests[0].code, code::kVersion);
  EXPECT_EQ(requests[0].in.size(), 132u);
  EXPECT_EQ(requests[0].In<VersionRecord>().version, 0u);  // cleared

  EXPECT_EQ(requests[1].code, code::kEventRegister);
  EXPECT_EQ(requests[1].in.size(), 68u);
  const auto event = requests[1].In<EventRecord>();
  EXPECT_EQ(event.action, action::kAttach | action::kDetach | action::kPowerMask);
  EXPECT_EQ(event.cardType, kEventCardType);
  EXPECT_EQ(event.options, option::kAcknowledge);
  EXPECT_EQ(event.version, 1u);
  EXPECT_EQ(event.matchCount, 1u);
  EXPECT_EQ(event.match[0].vendorId, 0x1209);
  EXPECT_EQ(event.match[0].productId, 0x0001);

  EXPECT_EQ(requests[2].code, code::kEventWaitEnable);
  EXPECT_EQ(requests[2].In<WaitRecord>().eventHandle, requests[1].Out<EventRecord>().eventHandle);
  EXPECT_EQ(WDU_OpenContextCount(), 1);
}

TEST_F(WduLayer, RegistrationAsksOnlyForTheEventsThereAreCallbacksFor) {
  events.detach = nullptr;
  ASSERT_EQ(Init(), status::kSuccess);
  EXPECT_EQ(driver.RequestsWith(code::kEventRegister).at(0).In<EventRecord>().action, action::kAttach);
}

TEST_F(WduLayer, InitWithoutAttachCallbackRegistersNothingAndStartsNoThread) {
  EventTable none{nullptr, &Detach, nullptr, &calls};
  ASSERT_EQ(Init(&none), status::kSuccess);
  unit.Plug(0x1209, 0x0001);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_TRUE(driver.RequestsWith(code::kEventRegister).empty());
  EXPECT_TRUE(driver.RequestsWith(code::kEventWaitEnable).empty());
  EXPECT_TRUE(driver.RequestsWith(code::kEventWait).empty());
  EXPECT_EQ(AttachCount(), 0u);
  WDU_Close(context);
  context = nullptr;
  EXPECT_TRUE(driver.RequestsWith(code::kEventWaitDisable).empty());
  EXPECT_TRUE(driver.RequestsWith(code::kEventUnregister).empty());
  EXPECT_EQ(unit.OpenHandleCount(), 0);
}

TEST_F(WduLayer, AFailedInitReturnsItsStatusAndLeavesNothingOpen) {
  const auto failVersion = [](std::uint32_t c, void*) -> std::optional<Status> {
    return c == code::kVersion ? std::optional<Status>(0x12345678u) : std::nullopt;
  };
  const struct {
    const char* why;
    std::function<void()> arrange;
    Status expected;
  } cases[] = {
      {"driver too old", [&] { unit.version = 600; }, status::kIncorrectVersion},
      {"version query failed", [&] { driver.SetIntercept(failVersion); }, 0x12345678u},
      {"driver cannot be opened", [&] { driver.SetFailOpen(true); }, status::kInternalSystemError},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    c.arrange();
    EXPECT_EQ(Init(), c.expected);
    EXPECT_EQ(context, nullptr);
    EXPECT_EQ(WDU_OpenContextCount(), 0);
    EXPECT_EQ(unit.OpenHandleCount(), 0);
    EXPECT_TRUE(driver.RequestsWith(code::kEventRegister).empty());
    unit.version = 1000;
    driver.SetIntercept(nullptr);
    driver.SetFailOpen(false);
  }
  unit.version = 601;  // the oldest driver that will do
  EXPECT_EQ(Init(), status::kSuccess);
}

TEST_F(WduLayer, CloseAfterAFailedInitKeepsTheContextCountRight) {
  DriverHandle first = nullptr;
  ASSERT_EQ(WDU_Init(&first, &kTable, 1, &events, option::kAcknowledge, driver), status::kSuccess);
  const std::uint32_t id = unit.Plug(0x1209, 0x0001);
  ASSERT_TRUE(Eventually([&] { return AttachCount() == 1; }));

  // A second context fails part-way (wait enable refused): it is closed
  // inside WDU_Init, and the caller closes what it got back once more.
  driver.SetIntercept([](std::uint32_t c, void*) -> std::optional<Status> {
    if (c == code::kEventWaitEnable) return 0x20000099u;
    return std::nullopt;
  });
  EXPECT_EQ(Init(), 0x20000099u);
  EXPECT_EQ(context, nullptr);
  EXPECT_EQ(driver.RequestsWith(code::kEventWaitDisable).size(), 1u);
  EXPECT_EQ(driver.RequestsWith(code::kEventUnregister).size(), 1u);
  WDU_Close(context);
  WDU_Close(nullptr);
  EXPECT_EQ(WDU_OpenContextCount(), 1);

  // The first context still works: its device list lock was not pulled.
  driver.SetIntercept(nullptr);
  EXPECT_EQ(WDU_SelectInterface(LastAttached(), 0, 0), status::kSuccess);
  EXPECT_EQ(unit.Selects().back().uniqueId, id);
  WDU_Close(first);
  EXPECT_EQ(WDU_OpenContextCount(), 0);
}

TEST_F(WduLayer, CloseStopsTheEventThreadAndUnregisters) {
  ASSERT_EQ(Init(), status::kSuccess);
  const std::uint32_t handle = driver.RequestsWith(code::kEventRegister).at(0).Out<EventRecord>().eventHandle;
  WDU_Close(context);
  context = nullptr;
  const auto requests = driver.Requests();
  std::vector<std::uint32_t> tail;
  for (auto& r : requests)
    if (r.code == code::kEventWaitDisable || r.code == code::kEventUnregister) tail.push_back(r.code);
  EXPECT_EQ(tail, (std::vector<std::uint32_t>{code::kEventWaitDisable, code::kEventUnregister}));
  EXPECT_EQ(driver.RequestsWith(code::kEventUnregister).at(0).In<EventRecord>().eventHandle, handle);
  EXPECT_EQ(unit.RegistrationCount(), 0);
  EXPECT_EQ(unit.OpenHandleCount(), 0);
}

// --- Attach, detach and power events

TEST_F(WduLayer, AnAcceptedAttachIsListedAndAcknowledgedWithControl) {
  const std::uint32_t id = unit.Plug(0x1209, 0x0001);
  ASSERT_EQ(Init(), status::kSuccess);  // present before: reported at registration
  ASSERT_TRUE(Eventually([&] { return Acks().size() == 1; }));
  EXPECT_EQ(calls.interfaceNumbers.at(0), 0);
  const auto ack = Acks().at(0).In<EventRecord>();
  EXPECT_EQ(ack.action, action::kAttach);
  EXPECT_EQ(ack.uniqueId, id);
  EXPECT_TRUE(ack.options & option::kTakeControl);
  EXPECT_EQ(DevListSize(), 1u);
  EXPECT_TRUE(unit.Released().empty());
  // The information was asked for twice: its size, then the data.
  const auto data = driver.RequestsWith(code::kGetDeviceData);
  ASSERT_EQ(data.size(), 2u);
  EXPECT_EQ(data[0].In<DeviceDataRecord>().buffer, nullptr);
  EXPECT_NE(data[1].In<DeviceDataRecord>().buffer, nullptr);
  EXPECT_EQ(data[1].In<DeviceDataRecord>().bufferSize, data[0].Out<DeviceDataRecord>().bufferSize);
}

TEST_F(WduLayer, ARefusedAttachLeavesNoEntryAndAcknowledgesWithoutControl) {
  calls.takeControl = false;
  ASSERT_EQ(Init(), status::kSuccess);
  const std::uint32_t id = unit.Plug(0x1209, 0x0001);
  ASSERT_TRUE(Eventually([&] { return Acks().size() == 1; }));
  EXPECT_EQ(AttachCount(), 1u);
  EXPECT_EQ(DevListSize(), 0u);
  EXPECT_FALSE(Acks().at(0).In<EventRecord>().options & option::kTakeControl);
  EXPECT_EQ(unit.Released(), std::vector<std::uint32_t>{id});
  // The refused handle is no longer a device.
  EXPECT_EQ(WDU_SelectInterface(LastAttached(), 0, 0), status::kDeviceNotFound);
  EXPECT_TRUE(unit.Selects().empty());
}

TEST_F(WduLayer, AnAttachWhoseInformationCannotBeHadIsDropped) {
  driver.SetIntercept([](std::uint32_t c, void*) -> std::optional<Status> {
    if (c == code::kGetDeviceData) return status::kDeviceNotFound;
    return std::nullopt;
  });
  ASSERT_EQ(Init(), status::kSuccess);
  unit.Plug(0x1209, 0x0001);
  ASSERT_TRUE(Eventually([&] { return Acks().size() == 1; }));
  EXPECT_EQ(AttachCount(), 0u);
  EXPECT_EQ(DevListSize(), 0u);
  EXPECT_FALSE(Acks().at(0).In<EventRecord>().options & option::kTakeControl);
}

TEST_F(WduLayer, ADetachedHandleAnswersDeviceNotFoundWithoutAskingTheDriver) {
  ASSERT_EQ(Init(), status::kSuccess);
  const std::uint32_t id = unit.Plug(0x1209, 0x0001);
  ASSERT_TRUE(Eventually([&] { return AttachCount() == 1; }));
  DeviceHandle device = LastAttached();
  unit.Unplug(id);
  ASSERT_TRUE(Eventually([&] {
    std::lock_guard<std::mutex> lock(calls.mutex);
    return calls.detached.size() == 1;
  }));
  EXPECT_EQ(calls.detached.at(0), device);
  EXPECT_EQ(DevListSize(), 0u);

  driver.Clear();
  std::uint8_t buffer[28] = {};
  std::uint32_t transferred = 77;
  EXPECT_EQ(WDU_PipeTransfer(device, 0x02, 0, 0, buffer, 3, &transferred, nullptr, 3000),
            status::kDeviceNotFound);
  EXPECT_EQ(WDU_PipeReset(device, 0x81), status::kDeviceNotFound);
  EXPECT_EQ(WDU_SelectInterface(device, 0, 0), status::kDeviceNotFound);
  DeviceInfo* info = nullptr;
  EXPECT_EQ(WDU_GetDeviceInfo(device, &info), status::kDeviceNotFound);
  EXPECT_EQ(WDU_PipeTransfer(nullptr, 0x02, 0, 0, buffer, 3, &transferred, nullptr, 3000),
            status::kDeviceNotFound);
  EXPECT_TRUE(driver.Requests().empty());
  EXPECT_EQ(transferred, 77u);  // the driver was not asked, so nothing was written
}

TEST_F(WduLayer, PowerEventsReachThePowerCallbackAndOtherActionsAreIgnored) {
  events.power = &Power;
  // The fake queues only attach and detach; the power events are slipped in
  // by rewriting what the driver hands back on later pulls.
  std::atomic<int> pulls{0};
  std::atomic<std::uint32_t> deviceId{0};
  driver.SetIntercept([&](std::uint32_t c, void* record) -> std::optional<Status> {
    if (c == code::kEventWait && pulls >= 1 && pulls < 4) {
      static_cast<WaitRecord*>(record)->outcome = wait::kEventPending;
      return status::kSuccess;
    }
    if (c != code::kEventPull || pulls++ == 0) return std::nullopt;
    auto* event = static_cast<EventRecord*>(record);
    static constexpr std::uint32_t kActions[] = {0x20, 0x30, 0x4000};
    if (pulls > 4) return std::nullopt;
    event->action = kActions[pulls - 2];
    event->uniqueId = deviceId;
    event->options = 0;
    return status::kSuccess;
  });
  deviceId = unit.Plug(0x1209, 0x0001);
  ASSERT_EQ(Init(), status::kSuccess);
  ASSERT_TRUE(Eventually([&] { return pulls >= 4; }));
  ASSERT_TRUE(Eventually([&] {
    std::lock_guard<std::mutex> lock(calls.mutex);
    return !calls.power.empty();
  }));
  std::this_thread::sleep_for(std::chrono::milliseconds(10));
  WDU_Close(context);  // the event thread uses this test's locals
  context = nullptr;
  std::lock_guard<std::mutex> lock(calls.mutex);
  ASSERT_EQ(calls.power.size(), 1u);  // 0x30 is two bits, 0x4000 is none of the ten
  EXPECT_EQ(calls.power[0].first, calls.attached.at(0));
  EXPECT_EQ(calls.power[0].second, 0x20u);
}

// --- The event loop

TEST_F(WduLayer, WaitAgainDoesNotPullAndAFailingWaitEndsTheLoop) {
  std::atomic<int> waits{0};
  driver.SetIntercept([&](std::uint32_t c, void* record) -> std::optional<Status> {
    if (c != code::kEventWait) return std::nullopt;
    const int n = ++waits;
    if (n <= 3) {
      static_cast<WaitRecord*>(record)->outcome = wait::kWaitAgain;
      return status::kSuccess;
    }
    return status::kInvalidDriverHandle;  // the driver can no longer be waited on
  });
  ASSERT_EQ(Init(), status::kSuccess);
  ASSERT_TRUE(Eventually([&] { return waits >= 4; }));
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(waits, 4);  // no spinning on a wait that keeps failing
  EXPECT_TRUE(driver.RequestsWith(code::kEventPull).empty());
  WDU_Close(context);
  context = nullptr;
}

TEST_F(WduLayer, EveryWaitAndTransferUsesAHandleOfItsOwn) {
  ASSERT_EQ(Init(), status::kSuccess);
  unit.Plug(0x1209, 0x0001);
  ASSERT_TRUE(Eventually([&] { return AttachCount() == 1; }));
  std::uint8_t request[3] = {1, 1, 4};
  std::uint32_t transferred = 0;
  const std::uint8_t setup[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  ASSERT_EQ(WDU_PipeTransfer(LastAttached(), 0x02, 0, 5, request, 3, &transferred, setup, 1234),
            status::kSuccess);
  EXPECT_EQ(transferred, 3u);

  const auto transfers = driver.RequestsWith(code::kTransfer);
  ASSERT_EQ(transfers.size(), 1u);
  const auto t = transfers[0].In<TransferRecord>();
  EXPECT_EQ(transfers[0].in.size(), sizeof(TransferRecord));
  EXPECT_EQ(t.pipe, 0x02u);
  EXPECT_EQ(t.read, 0u);
  EXPECT_EQ(t.options, 5u);
  EXPECT_EQ(t.buffer, request);
  EXPECT_EQ(t.bufferSize, 3u);
  EXPECT_EQ(t.timeoutMs, 1234u);
  EXPECT_EQ(std::memcmp(t.setupPacket, setup, 8), 0);
  const wdu::DriverFd contextFd = driver.RequestsWith(code::kVersion).at(0).fd;
  EXPECT_NE(transfers[0].fd, contextFd);
  for (const auto& w : driver.RequestsWith(code::kEventWait)) EXPECT_NE(w.fd, contextFd);
  // Only the context's handle and the event thread's current wait stay open.
  EXPECT_LE(unit.OpenHandleCount(), 2);
}

TEST_F(WduLayer, TheByteCountIsWrittenAlsoWhenATransferFails) {
  unit.answerRead = [](std::vector<std::uint8_t>& reply) {
    reply.assign(5, 0xAB);
    return status::kTimeoutExpired;
  };
  ASSERT_EQ(Init(), status::kSuccess);
  unit.Plug(0x1209, 0x0001);
  ASSERT_TRUE(Eventually([&] { return AttachCount() == 1; }));
  std::uint8_t reply[88] = {};
  std::uint32_t transferred = 0;
  EXPECT_EQ(WDU_PipeTransfer(LastAttached(), 0x81, 1, 0, reply, 88, &transferred, nullptr, 3000),
            status::kTimeoutExpired);
  EXPECT_EQ(transferred, 5u);
}

// --- The device list lock

TEST_F(WduLayer, TheListLockGivesUpAfterItsBound) {
  ASSERT_EQ(Init(), status::kSuccess);
  unit.Plug(0x1209, 0x0001);
  ASSERT_TRUE(Eventually([&] { return AttachCount() == 1; }));
  DeviceListLock::SetBound(std::chrono::milliseconds(50));

  std::atomic<bool> held{false}, release{false};
  std::thread holder([&] {
    ASSERT_EQ(DeviceListLock::Acquire(), status::kSuccess);
    held = true;
    while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    DeviceListLock::Release();
  });
  while (!held) std::this_thread::yield();

  driver.Clear();
  const auto start = std::chrono::steady_clock::now();
  std::uint8_t buffer[3] = {1, 1, 4};
  std::uint32_t transferred = 0;
  EXPECT_EQ(WDU_PipeTransfer(LastAttached(), 0x02, 0, 0, buffer, 3, &transferred, nullptr, 3000),
            status::kTimeoutExpired);
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, std::chrono::milliseconds(45));
  EXPECT_LT(waited, std::chrono::seconds(2));
  EXPECT_TRUE(driver.RequestsWith(code::kTransfer).empty());
  release = true;
  holder.join();

  EXPECT_EQ(WDU_PipeTransfer(LastAttached(), 0x02, 0, 0, buffer, 3, &transferred, nullptr, 3000),
            status::kSuccess);
}

TEST(WduListLock, DoesNotExistWithoutAnOpenContext) {
  ASSERT_EQ(WDU_OpenContextCount(), 0);
  EXPECT_EQ(DeviceListLock::Acquire(), status::kInternalSystemError);
}

// --- Device information

TEST(WduDeviceInfo, LeadsFromTheFirstActiveInterfaceToItsNumber) {
  auto d = SimpleDeviceDescription(0x1209, 0x0001, {3, 0}, {BulkEndpoint(0x02, 64)});
  std::vector<std::uint64_t> buffer((DeviceInfoSize(d) + 7) / 8);
  LayOutDeviceInfo(d, buffer.data());
  const auto* info = reinterpret_cast<const DeviceInfo*>(buffer.data());
  EXPECT_EQ(FirstActiveInterfaceNumber(info), 3);
  EXPECT_EQ(info->activeInterfaceCount, 2u);
  EXPECT_EQ(info->deviceDescriptor.idVendor, 0x1209);
  const auto* alt = info->activeInterface[1]->activeAlternateSetting;
  EXPECT_EQ(alt->descriptor.bInterfaceNumber, 0);
  ASSERT_EQ(alt->endpointCount, 1u);
  EXPECT_EQ(alt->endpoints[0].bEndpointAddress, 0x02);
  // Everything the information points at lies inside the buffer.
  const auto* begin = reinterpret_cast<const std::uint8_t*>(buffer.data());
  const auto* end = begin + DeviceInfoSize(d);
  const auto* ep = reinterpret_cast<const std::uint8_t*>(alt->endpoints);
  EXPECT_TRUE(ep >= begin && ep + sizeof(UsbEndpointDescriptor) <= end);
  EXPECT_EQ(FirstActiveInterfaceNumber(nullptr), -1);
}

TEST(WduDeviceInfo, MatchesOnIdsAndOnNonZeroClassFields) {
  auto d = SimpleDeviceDescription(0x1209, 0x0001, {0}, {});  // interface class 0xFF
  EXPECT_TRUE(d.Matches(MatchEntry{0x1209, 0x0001, 0, 0, 0, 0, 0, 0}));
  EXPECT_FALSE(d.Matches(MatchEntry{0x1209, 0x0002, 0, 0, 0, 0, 0, 0}));
  EXPECT_FALSE(d.Matches(MatchEntry{0x1208, 0x0001, 0, 0, 0, 0, 0, 0}));
  EXPECT_TRUE(d.Matches(MatchEntry{0x1209, 0x0001, 0, 0, 0xFF, 0, 0, 0}));
  EXPECT_FALSE(d.Matches(MatchEntry{0x1209, 0x0001, 0, 0, 0x03, 0, 0, 0}));
  EXPECT_FALSE(d.Matches(MatchEntry{0x1209, 0x0001, 0x09, 0, 0, 0, 0, 0}));
}

// A transfer that checks its handle while the event thread frees the record
// of the same device must never read the freed record (run under a sanitizer
// to see it).
TEST_F(WduLayer, TransfersRacingDetachesSeeEitherTheDeviceOrNotFound) {
  ASSERT_EQ(Init(), status::kSuccess);
  std::atomic<DeviceHandle> current{nullptr};
  std::atomic<bool> stop{false};
  std::atomic<int> odd{0};
  std::thread caller([&] {
    std::uint8_t request[3] = {1, 1, 4};
    while (!stop) {
      std::uint32_t n = 0;
      const Status s = WDU_PipeTransfer(current.load(), 0x02, 0, 0, request, 3, &n, nullptr, 100);
      if (s != status::kSuccess && s != status::kDeviceNotFound) ++odd;
    }
  });
  for (int i = 0; i < 40; ++i) {
    const std::size_t before = AttachCount();
    const std::uint32_t id = unit.Plug(0x1209, 0x0001);
    ASSERT_TRUE(Eventually([&] { return AttachCount() == before + 1; }));
    current = LastAttached();
    unit.Unplug(id);
    ASSERT_TRUE(Eventually([&] { return DevListSize() == 0; }));
  }
  stop = true;
  caller.join();
  EXPECT_EQ(odd, 0);
}

}  // namespace
