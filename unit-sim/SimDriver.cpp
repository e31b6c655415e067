// SPDX-License-Identifier: GPL-3.0-or-later
#include "SimDriver.h"

#include "SimulatedUnit.h"
#include "device/UsbLink.h"

#include <thread>

namespace unitsim {
namespace {

constexpr std::uint32_t kStandInVersion = 1000;
constexpr std::uint8_t kPipeOut = 0x02;
constexpr std::uint8_t kPipeIn = 0x81;

wdu::DeviceDescription UnitDescription() {
  return wdu::SimpleDeviceDescription(UnitVendorId, UnitProductId, {0},
                                      {wdu::BulkEndpoint(kPipeOut, 64), wdu::BulkEndpoint(kPipeIn, 64)});
}

}  // namespace

SimDriver::SimDriver(SimulatedUnit& unit) : unit_(unit) {
  listenerId_ = unit_.AddPlugListener([this](bool plugged) { OnPlug(plugged); });
  OnPlug(unit_.IsPlugged());
}

SimDriver::~SimDriver() { unit_.RemovePlugListener(listenerId_); }

void SimDriver::OnPlug(bool plugged) {
  std::lock_guard<std::mutex> lock(plugMutex_);
  if (plugged && currentId_ == 0) {
    // Each plugging-in is a new device to the driver, as with a real cable.
    currentId_ = NewDeviceId();
    DeviceArrived(currentId_, UnitDescription());
  } else if (!plugged && currentId_ != 0) {
    DeviceLeft(currentId_);
    currentId_ = 0;
  }
}

std::uint32_t SimDriver::Version() const { return kStandInVersion; }

wdu::Status SimDriver::SelectInterface(std::uint32_t, std::uint32_t interfaceNumber,
                                       std::uint32_t alternateSetting) {
  if (interfaceNumber != 0 || alternateSetting != 0) return wdu::status::kNotFound;
  return wdu::status::kSuccess;
}

wdu::Status SimDriver::ResetPipe(std::uint32_t, std::uint32_t pipe) {
  if (pipe != kPipeOut && pipe != kPipeIn && pipe != 0) return wdu::status::kNotFound;
  return unit_.IsPlugged() ? wdu::status::kSuccess : wdu::status::kDeviceNotFound;
}

wdu::Status SimDriver::Transfer(std::uint32_t uniqueId, wdu::TransferRecord& t) {
  if (t.bufferSize > 0 && !t.buffer) return wdu::status::kInvalidParameter;
  if (!t.read) {
    if (t.pipe != kPipeOut) return wdu::status::kNotFound;
    // The unit must have lived up to this moment before it hears the request.
    unit_.SyncToWallClock();
    if (!unit_.Receive(static_cast<const std::uint8_t*>(t.buffer), t.bufferSize))
      return wdu::status::kDeviceNotFound;
    t.bytesTransferred = t.bufferSize;
    return wdu::status::kSuccess;
  }
  if (t.pipe != kPipeIn) return wdu::status::kNotFound;
  // A unit with nothing to say leaves the read waiting until its time-out, as
  // a real one would.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(t.timeoutMs);
  for (;;) {
    if (!IsAttached(uniqueId) || !unit_.IsPlugged()) return wdu::status::kDeviceNotFound;
    unit_.SyncToWallClock();
    const std::vector<std::uint8_t> answer = unit_.Transmit(t.bufferSize);
    if (!answer.empty()) {
      std::copy(answer.begin(), answer.end(), static_cast<std::uint8_t*>(t.buffer));
      t.bytesTransferred = static_cast<std::uint32_t>(answer.size());
      return wdu::status::kSuccess;
    }
    if (t.timeoutMs != 0 && std::chrono::steady_clock::now() >= deadline)
      return wdu::status::kTimeoutExpired;
    std::this_thread::sleep_for(pollInterval_);
  }
}

}  // namespace unitsim
