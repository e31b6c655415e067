// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A model of the cooling unit's firmware. It is the device, not the program:
// the program reaches it only through the same driver seam a USB unit sits
// behind. It speaks the unit's packet protocol byte for byte.
//
// All operations are thread-safe: the host side (link or driver stand-in), the
// "Simulated unit" window and tests may call from different threads.

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace unitsim {

class SimulatedUnit {
 public:
  explicit SimulatedUnit(std::uint64_t seed = 1);
  ~SimulatedUnit();
  SimulatedUnit(const SimulatedUnit&) = delete;
  SimulatedUnit& operator=(const SimulatedUnit&) = delete;

  // Bulk OUT, pipe 0x02: the unit takes one request. False while unplugged.
  bool Receive(const std::uint8_t* data, std::size_t length);
  // Bulk IN, pipe 0x81: the unit's pending answer, at most maxLength bytes.
  // Empty when it has nothing to say (the host's read then times out).
  std::vector<std::uint8_t> Transmit(std::size_t maxLength);

  // Sees every request the unit takes, as it arrives (bytes and length as
  // sent). Runs under the unit's lock: it must not call back into the unit.
  // An empty function removes it.
  using RequestObserver = std::function<void(const std::uint8_t* data, std::size_t length)>;
  void SetRequestObserver(RequestObserver observer);

  // Model time in seconds since power-on. Tests step it; the -sim build feeds
  // it the wall clock.
  void Advance(double seconds);
  double Now() const;
  // Steps the model past power-up and boot delay (at most half an hour of
  // model time): a real unit holds the computer's boot back until its
  // evaporator is cold, so a program always meets a unit that has finished
  // its boot delay.
  void RunUntilBooted();

  // Ties model time to the steady clock from this call on (the first call
  // anchors it; later calls change nothing). Every party that shows or talks
  // to the unit then calls SyncToWallClock, and they all agree on one time.
  void FollowWallClock();
  bool FollowsWallClock() const;
  void SyncToWallClock();  // no-op unless following the wall clock

  // Cable.
  bool IsPlugged() const;
  void Unplug();
  void Plug();
  using PlugListener = std::function<void(bool plugged)>;
  int AddPlugListener(PlugListener listener);  // called after each change
  void RemovePlugListener(int id);

  // Conditions a test or the user can impose.
  void ForceState(std::uint8_t code);  // a state (0..7) or fault code (80..87)
  void ClearForcedState();
  // Mains off and on again: back to POWER UP with the evaporator as it is now.
  // The way out of POWER DOWN.
  void PowerCycle();
  void SetSensor(int sensor, double celsius);  // sensor 1..5
  void SetSensorMissing(int sensor);           // reports raw -990
  void ClearSensor(int sensor);                // back to the model's own value
  void StopFan(int fan, bool stopped);         // fan 1 front, 2 rear
  enum class Malformation { None, Short27, Long29, BadFraming, Number04, Number05 };
  void MalformNextReplies(Malformation kind, int count = 1);

  // What the unit holds now.
  std::uint8_t State() const;
  double Temperature(int sensor) const;  // degrees Celsius; -99 when missing
  int FanRpm(int fan) const;
  // 01 is the status a reply would carry now. 03 is held as the host writes
  // it (rear pair at 16-19, the four bytes at 20-23); a reply 03 reports it
  // as words 0-7 followed by the four bytes. Other numbers give zeros.
  std::array<std::uint8_t, 24> Block(std::uint8_t number) const;  // 01, 02, 03, 06, 07
  std::string FrontPanelLine(int line) const;  // 16 bytes as sent (Windows-1252)
  std::uint16_t OperatingHours() const;

 private:
  struct Impl;
  Impl* d;
};

}  // namespace unitsim
