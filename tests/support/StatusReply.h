// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A unit status report (reply 01 payload) built from readable values.

#include "device/Packet.h"

#include <array>
#include <cstdint>

struct Reading {
  std::uint8_t state = 3;
  std::array<int, 5> tenths{-350, 240, -990, -990, -990};  // tenths of a degree; -990 no reading
  std::uint16_t front = 1250, rear = 1250;
};

inline packet::Payload StatusPayload(const Reading& r) {
  packet::Payload p{};
  p[2] = r.state;
  for (int i = 0; i < 5; ++i) {
    const auto v = static_cast<std::uint16_t>(static_cast<std::int16_t>(r.tenths[i]));
    p[3 + 2 * i] = v & 0xFF;
    p[4 + 2 * i] = v >> 8;
  }
  p[13] = r.front & 0xFF;
  p[14] = r.front >> 8;
  p[15] = r.rear & 0xFF;
  p[16] = r.rear >> 8;
  return p;
}
