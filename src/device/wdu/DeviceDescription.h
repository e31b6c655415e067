// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A device as a driver stand-in knows it (descriptors of the device, its
// active configuration, interfaces, alternate settings and endpoints), and
// how that is laid out as the layer's device information in one buffer.

#include "device/wdu/WduTypes.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace wdu {

struct DeviceDescription {
  struct AlternateSetting {
    UsbInterfaceDescriptor descriptor{};
    std::vector<UsbEndpointDescriptor> endpoints;
  };
  struct Interface {
    std::vector<AlternateSetting> alternateSettings;
    std::uint32_t activeAlternateSetting = 0;  // index into alternateSettings
  };

  UsbDeviceDescriptor device{};
  UsbConfigDescriptor configuration{};
  std::vector<Interface> interfaces;

  // Whether the description matches a match table entry.
  bool Matches(const MatchEntry& entry) const;
};

// Bytes the laid-out information takes.
std::size_t DeviceInfoSize(const DeviceDescription& description);

// Lays the information out in `buffer` (at least DeviceInfoSize bytes,
// suitably aligned for pointers); its pointers point into the buffer.
void LayOutDeviceInfo(const DeviceDescription& description, void* buffer);

// A description of a device with one configuration whose interfaces each have
// one alternate setting with the given endpoints. Handy for stand-ins and
// tests.
DeviceDescription SimpleDeviceDescription(std::uint16_t vendorId, std::uint16_t productId,
                                          const std::vector<std::uint8_t>& interfaceNumbers,
                                          const std::vector<UsbEndpointDescriptor>& endpoints);

UsbEndpointDescriptor BulkEndpoint(std::uint8_t address, std::uint16_t maxPacketSize);

}  // namespace wdu
