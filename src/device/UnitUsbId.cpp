// SPDX-License-Identifier: GPL-3.0-or-later
#include "device/UnitUsbId.h"

#include <cstdio>

namespace {

std::optional<std::uint16_t> FourHexDigits(const std::string& text, std::size_t at) {
  unsigned value = 0;
  for (std::size_t i = at; i < at + 4; ++i) {
    const char c = text[i];
    unsigned digit;
    if (c >= '0' && c <= '9')
      digit = static_cast<unsigned>(c - '0');
    else if (c >= 'a' && c <= 'f')
      digit = static_cast<unsigned>(c - 'a' + 10);
    else if (c >= 'A' && c <= 'F')
      digit = static_cast<unsigned>(c - 'A' + 10);
    else
      return std::nullopt;
    value = value * 16 + digit;
  }
  return static_cast<std::uint16_t>(value);
}

}  // namespace

std::optional<UsbIdPair> ParseUnitUsbId(const std::string& text) {
  if (text.size() != 9 || text[4] != ':') return std::nullopt;
  const auto vendor = FourHexDigits(text, 0);
  const auto product = FourHexDigits(text, 5);
  if (!vendor || !product || *vendor == 0) return std::nullopt;
  return UsbIdPair{*vendor, *product};
}

std::string FormatUnitUsbId(UsbIdPair ids) {
  char text[10];
  std::snprintf(text, sizeof text, "%04x:%04x", ids.vendor, ids.product);
  return text;
}

std::string AccessRuleFileNameFor(UsbIdPair ids) {
  if (ids == UnitUsbIds) return "70-vornalith-unit.rules";
  char name[64];
  std::snprintf(name, sizeof name, "70-vornalith-unit-%04x-%04x.rules", ids.vendor, ids.product);
  return name;
}
