// SPDX-License-Identifier: GPL-3.0-or-later
// The simulated unit's side of the cable: any request bytes of any length,
// reads of any size, interleaved with what its window lets a user do (time
// passing, plugging, forced states, sensors, fans, malformed replies).
//
// Besides the sanitizers' checks: a read never returns more than asked for,
// the unit only ever reports a known state, and a well-formed request for a
// block it holds, with no malformation pending, gets its 28-byte reply.

#include "SimulatedUnit.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "simulated unit fuzzer: %s\n", what);
  std::abort();
}

bool KnownState(std::uint8_t s) { return s <= 7 || (s >= 80 && s <= 87); }

// Takes the input apart front to back; past its end every value reads as 0.
class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  std::size_t Remaining() const { return size_ - at_; }
  std::uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
  bool Bool() { return (Byte() & 1) != 0; }
  // lo..hi inclusive, hi - lo below 65536.
  int Range(int lo, int hi) {
    const unsigned span = static_cast<unsigned>(hi - lo) + 1;
    unsigned v = Byte();
    if (span > 256) v |= static_cast<unsigned>(Byte()) << 8;
    return lo + static_cast<int>(v % span);
  }
  std::vector<std::uint8_t> Bytes(std::size_t n) {
    n = std::min(n, Remaining());
    std::vector<std::uint8_t> out(data_ + at_, data_ + at_ + n);
    at_ += n;
    return out;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) { return 0; }

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Input in(data, size);
  unitsim::SimulatedUnit unit(static_cast<std::uint64_t>(in.Range(0, 65535)));
  bool malformPending = false;

  while (in.Remaining() > 0) {
    switch (in.Range(0, 11)) {
      case 0:
      case 1:
      case 2: {  // a request as the host might send it, then the read
        const std::size_t length = static_cast<std::size_t>(in.Range(0, 40));
        std::vector<std::uint8_t> request = in.Bytes(length);
        const bool plugged = unit.IsPlugged();
        if (unit.Receive(request.data(), request.size()) != plugged) Fail("Receive ignored the cable");
        const std::size_t maxLength = static_cast<std::size_t>(in.Range(0, 100));
        const std::vector<std::uint8_t> reply = unit.Transmit(maxLength);
        if (reply.size() > maxLength) Fail("a reply longer than the read");
        const bool heldBlock =
            request.size() == 3 && request[0] == 0x01 && request[2] == 0x04 &&
            (request[1] == 1 || request[1] == 2 || request[1] == 3 || request[1] == 6 || request[1] == 7);
        if (plugged && heldBlock && !malformPending && maxLength >= 28) {
          if (reply.size() != 28 || reply[0] != 0x01 || reply[1] != request[1] || reply[2] != 0x02 ||
              reply[27] != 0x04)
            Fail("a read request for a held block went without its reply");
        }
        break;
      }
      case 3: {  // a write packet with a chosen number and payload
        std::vector<std::uint8_t> request(28, 0);
        request[0] = 0x01;
        request[1] = in.Byte();
        request[2] = 0x02;
        const std::vector<std::uint8_t> payload = in.Bytes(24);
        std::copy(payload.begin(), payload.end(), request.begin() + 3);
        request[27] = 0x04;
        unit.Receive(request.data(), request.size());
        unit.Transmit(static_cast<std::size_t>(in.Range(0, 88)));
        break;
      }
      case 4: unit.Advance(in.Range(-4, 240) / 4.0); break;
      case 5: in.Bool() ? unit.Unplug() : unit.Plug(); break;
      case 6: {
        const std::uint8_t code = in.Byte();
        if (KnownState(code))
          unit.ForceState(code);
        else
          unit.ClearForcedState();
        break;
      }
      case 7: unit.PowerCycle(); break;
      case 8: {
        const int sensor = in.Range(1, 5);
        switch (in.Range(0, 2)) {
          case 0: unit.SetSensor(sensor, in.Range(-990, 1500) / 10.0); break;
          case 1: unit.SetSensorMissing(sensor); break;
          default: unit.ClearSensor(sensor); break;
        }
        break;
      }
      case 9: unit.StopFan(in.Range(1, 2), in.Bool()); break;
      case 10: {
        const auto kind = static_cast<unitsim::SimulatedUnit::Malformation>(in.Range(0, 5));
        const int count = in.Range(0, 3);
        unit.MalformNextReplies(kind, count);
        // Once a malformation was asked for, the reply check stands aside
        // for the rest of the input: how many replies it takes is the
        // unit's business.
        if (kind != unitsim::SimulatedUnit::Malformation::None && count > 0) malformPending = true;
        break;
      }
      default: {  // what the unit's window and the tests read
        if (!KnownState(unit.State())) Fail("an unknown state");
        for (int s = 1; s <= 5; ++s) unit.Temperature(s);
        unit.FanRpm(1);
        unit.FanRpm(2);
        unit.Block(in.Byte());
        unit.FrontPanelLine(in.Range(0, 3));
        unit.OperatingHours();
        break;
      }
    }
  }
  return 0;
}
