// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The cooling unit as an emulated USB device: umockdev's fake sysfs, udev and
// device node, with usbfs requests answered by the project's own simulated
// unit. libusb (and so the program's libusb stand-in) cannot tell it from a
// plugged-in unit. No hardware and no kernel module are involved.
//
// A process using it must run under umockdev's preload library;
// RunUnderUmockdev re-executes the test binary that way.

#include "SimulatedUnit.h"

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

// Re-executes the process under umockdev's preload library unless it already
// runs under it; returns only when it does.
void RunUnderUmockdev(char** argv);

class EmulatedUnit {
 public:
  explicit EmulatedUnit(unitsim::SimulatedUnit& model);
  ~EmulatedUnit();
  EmulatedUnit(const EmulatedUnit&) = delete;
  EmulatedUnit& operator=(const EmulatedUnit&) = delete;

  // Plugs the unit in (again), as a new device address; the "add" uevent
  // follows.
  void PlugIn(std::uint16_t vendor, std::uint16_t product);
  // Pulls the cable: "remove" uevent, the device gone, transfers in flight
  // failed with ENODEV.
  void Unplug();
  // A second device with the same ids on another address; answers nothing.
  void PlugInAnother(std::uint16_t vendor, std::uint16_t product);

  // The unit takes requests but never answers.
  void SetSilent(bool silent);
  // The answer to the next request numbered `number` is ready only `late`
  // after the request; the answers to later requests queue behind it.
  void DelayNextReplyTo(std::uint8_t number, std::chrono::milliseconds late);
  // Every transfer on the endpoint stalls until the host clears the halt.
  void Halt(std::uint8_t endpoint);

  // What the host asked of each device node.
  struct Seen {
    std::vector<unsigned> claimed;
    std::vector<std::pair<unsigned, unsigned>> interfaceSettings;
    std::vector<unsigned> clearedHalts;
    int submitted = 0;
    int discarded = 0;
    int requests = 0;
  };
  Seen SeenOn(const std::string& devnode) const;
  std::string UnitNode() const;     // the unit's current device node
  std::string AnotherNode() const;  // the second device's node

  struct Impl;

 private:
  std::unique_ptr<Impl> d;
};

// What the emulated unit took, and when, from the harness's own threads.
class RequestRecorder {
 public:
  using Bytes = std::vector<std::uint8_t>;
  using Clock = std::chrono::steady_clock;
  explicit RequestRecorder(unitsim::SimulatedUnit& unit) : unit_(unit) {
    unit_.SetRequestObserver([this](const std::uint8_t* data, std::size_t length) {
      std::lock_guard lock(mutex_);
      requests_.emplace_back(data, data + length);
      times_.push_back(Clock::now());
    });
  }
  ~RequestRecorder() { unit_.SetRequestObserver({}); }
  RequestRecorder(const RequestRecorder&) = delete;
  RequestRecorder& operator=(const RequestRecorder&) = delete;
  std::vector<Bytes> Requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
  }
  std::vector<Clock::time_point> Times() const {
    std::lock_guard lock(mutex_);
    return times_;
  }

 private:
  unitsim::SimulatedUnit& unit_;
  mutable std::mutex mutex_;
  std::vector<Bytes> requests_;
  std::vector<Clock::time_point> times_;
};
