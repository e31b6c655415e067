// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Test stand-ins for the driver underneath the layer.
//
// FakeUnitDriver is a driver with devices a test plugs in and out by hand and
// whose per-device requests it answers from scripts. RecordingDriver sits in
// front of any stand-in and writes down every request the layer makes (control
// code and record, as it went in and as it came back), and can answer a
// request itself instead of passing it on.

#include "device/wdu/StandInBase.h"

#include <cstdint>
#include <chrono>
#include <cstring>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace wdutest {

using wdu::Status;

struct RecordedRequest {
  wdu::DriverFd fd;
  std::uint32_t code;
  std::vector<std::uint8_t> in;   // the record as the layer handed it over
  std::vector<std::uint8_t> out;  // the record as it went back
  Status status;

  template <typename T>
  T In() const {
    T t{};
    std::memcpy(&t, in.data(), std::min(in.size(), sizeof(T)));
    return t;
  }
  template <typename T>
  T Out() const {
    T t{};
    std::memcpy(&t, out.data(), std::min(out.size(), sizeof(T)));
    return t;
  }
};

class RecordingDriver : public wdu::DriverStandIn {
 public:
  explicit RecordingDriver(wdu::DriverStandIn& inner) : inner_(inner) {}

  using Intercept = std::function<std::optional<Status>(std::uint32_t code, void* record)>;
  // Answers a request in place of the inner driver when it returns a status.
  void SetIntercept(Intercept intercept) {
    std::lock_guard<std::mutex> lock(mutex_);
    intercept_ = std::move(intercept);
  }
  void SetFailOpen(bool fail) {
    std::lock_guard<std::mutex> lock(mutex_);
    failOpen_ = fail;
  }

  wdu::DriverFd Open() override {
    std::lock_guard<std::mutex> lock(mutex_);
    return failOpen_ ? wdu::kInvalidDriverFd : inner_.Open();
  }
  void Close(wdu::DriverFd fd) override { inner_.Close(fd); }
  Status Request(wdu::DriverFd fd, std::uint32_t code, void* record, std::uint32_t size) override {
    RecordedRequest r{fd, code, Bytes(record, size), {}, 0};
    Intercept hook;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      hook = intercept_;
    }
    std::optional<Status> answer = hook ? hook(code, record) : std::nullopt;
    r.status = answer ? *answer : inner_.Request(fd, code, record, size);
    r.out = Bytes(record, size);
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.push_back(std::move(r));
    return requests_.back().status;
  }

  std::vector<RecordedRequest> Requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
  }
  std::vector<RecordedRequest> RequestsWith(std::uint32_t code) const {
    std::vector<RecordedRequest> out;
    for (auto& r : Requests())
      if (r.code == code) out.push_back(r);
    return out;
  }
  void Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.clear();
  }

 private:
  static std::vector<std::uint8_t> Bytes(const void* p, std::uint32_t n) {
    const auto* b = static_cast<const std::uint8_t*>(p);
    return p ? std::vector<std::uint8_t>(b, b + n) : std::vector<std::uint8_t>{};
  }

  wdu::DriverStandIn& inner_;
  mutable std::mutex mutex_;
  std::vector<RecordedRequest> requests_;
  Intercept intercept_;
  bool failOpen_ = false;
};

class FakeUnitDriver : public wdu::StandInBase {
 public:
  struct Select {
    std::uint32_t uniqueId, interfaceNumber, alternateSetting;
  };
  struct TransferMade {
    std::uint32_t uniqueId, pipe, read, size, timeoutMs;
    std::vector<std::uint8_t> data;  // what was written
  };

  std::uint32_t version = 1000;

  // Plugs in a device with the unit's bulk pipes; returns its identifier.
  std::uint32_t Plug(std::uint16_t vendor, std::uint16_t product, std::uint8_t interfaceNumber = 0) {
    const std::uint32_t id = NewDeviceId();
    DeviceArrived(id, wdu::SimpleDeviceDescription(
                          vendor, product, {interfaceNumber},
                          {wdu::BulkEndpoint(0x02, 64), wdu::BulkEndpoint(0x81, 64)}));
    return id;
  }
  void Unplug(std::uint32_t id) { DeviceLeft(id); }

  // Scripts: the status of selections, and the answer to each read.
  Status selectStatus = 0;
  Status writeStatus = 0;
  std::function<Status(std::vector<std::uint8_t>& reply)> answerRead = [](auto& reply) {
    reply.assign(28, 0);
    return Status{0};
  };

  std::vector<Select> Selects() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return selects_;
  }
  std::vector<TransferMade> Transfers() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return transfers_;
  }
  std::vector<std::uint32_t> Released() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return released_;
  }
  std::vector<std::pair<std::uint32_t, std::uint32_t>> Resets() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return resets_;
  }

 protected:
  std::uint32_t Version() const override { return version; }
  Status SelectInterface(std::uint32_t id, std::uint32_t iface, std::uint32_t alt) override {
    std::lock_guard<std::mutex> lock(mutex_);
    selects_.push_back({id, iface, alt});
    return selectStatus;
  }
  Status ResetPipe(std::uint32_t id, std::uint32_t pipe) override {
    std::lock_guard<std::mutex> lock(mutex_);
    resets_.push_back({id, pipe});
    return 0;
  }
  Status Transfer(std::uint32_t id, wdu::TransferRecord& t) override {
    TransferMade rec{id, t.pipe, t.read, t.bufferSize, t.timeoutMs, {}};
    Status s = 0;
    if (t.read) {
      std::vector<std::uint8_t> reply;
      s = answerRead(reply);
      const std::size_t n = std::min<std::size_t>(reply.size(), t.bufferSize);
      if (n > 0) std::memcpy(t.buffer, reply.data(), n);  // an empty reply has no data pointer
      t.bytesTransferred = static_cast<std::uint32_t>(n);
    } else {
      const auto* b = static_cast<const std::uint8_t*>(t.buffer);
      rec.data.assign(b, b + t.bufferSize);
      s = writeStatus;
      t.bytesTransferred = s == 0 ? t.bufferSize : 0;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    transfers_.push_back(std::move(rec));
    return s;
  }
  void ReleaseDevice(std::uint32_t id) override {
    std::lock_guard<std::mutex> lock(mutex_);
    released_.push_back(id);
  }

 private:
  mutable std::mutex mutex_;
  std::vector<Select> selects_;
  std::vector<TransferMade> transfers_;
  std::vector<std::uint32_t> released_;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> resets_;
};

// Polls `done` until it holds or a second has passed; event-thread effects
// land asynchronously.
inline bool Eventually(const std::function<bool()>& done) {
  for (int i = 0; i < 1000; ++i) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return done();
}

}  // namespace wdutest
