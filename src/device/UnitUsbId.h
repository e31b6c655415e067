// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The USB vendor and product ids the program looks for. The unit's own pair is
// not known here: the pid.codes test pair 0x1209:0x0001 stands in unless the
// build names another (-DVCC_UNIT_USB_ID=VVVV:PPPP, which also goes into the
// packaged access rule), and a user names the pair of their own unit with
// --unit-id or the "Unit USB id" setting.

#include <cstdint>
#include <optional>
#include <string>

#ifndef VCC_UNIT_VENDOR_ID
#define VCC_UNIT_VENDOR_ID 0x1209
#endif
#ifndef VCC_UNIT_PRODUCT_ID
#define VCC_UNIT_PRODUCT_ID 0x0001
#endif

struct UsbIdPair {
  std::uint16_t vendor;
  std::uint16_t product;
  friend bool operator==(const UsbIdPair&, const UsbIdPair&) = default;
};

// The default pair, as built.
inline constexpr UsbIdPair UnitUsbIds{VCC_UNIT_VENDOR_ID, VCC_UNIT_PRODUCT_ID};

// The form a user types, "VVVV:PPPP", named in every complaint about it.
inline constexpr char kUnitUsbIdForm[] = "VVVV:PPPP (four hexadecimal digits each, e.g. 1209:0001)";

// Exactly four hexadecimal digits, a colon and four more; either case. A
// vendor id of 0000 is refused: no vendor has it, and it must never widen the
// match to other devices.
std::optional<UsbIdPair> ParseUnitUsbId(const std::string& text);

// "1209:0001": lower case, as udev and lsusb write it.
std::string FormatUnitUsbId(UsbIdPair ids);

// The access rule for a pair. The default pair has the packaged rule; any
// other pair gets a rule of its own beside it, named after the pair, so that
// installing one never replaces the other.
std::string AccessRuleFileNameFor(UsbIdPair ids);
