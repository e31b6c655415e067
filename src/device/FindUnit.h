// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// `--find-unit`: the USB devices that could be a cooling unit, i.e. whose
// interface 0 has a bulk OUT endpoint 0x02 and a bulk IN endpoint 0x81, so
// that a user with a unit plugged in can learn its ids. Plain C++ on libusb:
// it runs before (and without) any window system.

#include "device/UnitUsbId.h"

#include <cstdio>
#include <string>
#include <vector>

struct UnitCandidate {
  UsbIdPair ids{};
  int bus = 0;
  std::string ports;    // "2" or "1.4": the path of ports from the root hub
  std::string product;  // the device's product string, empty when unknown
  enum class Access { Yes, Denied, Other } access = Access::Other;
  std::string accessDetail;  // libusb's word for why it could not be opened
};

// Empty when no candidate is plugged in; false in `ok` when libusb could not
// start at all.
std::vector<UnitCandidate> ListUnitCandidates(bool& ok);

// The listing as printed. The first candidate with `lookedFor` is the one the
// program would use, and is marked so.
std::string DescribeUnitCandidates(const std::vector<UnitCandidate>& candidates,
                                   UsbIdPair lookedFor);

// Lists and prints; the exit code (0, or 1 when USB could not be read).
int RunFindUnit(UsbIdPair lookedFor, std::FILE* out);
