// SPDX-License-Identifier: GPL-3.0-or-later
#include "device/wdu/DeviceDescription.h"

#include <cstring>
#include <new>

namespace wdu {
namespace {

constexpr std::size_t RoundUp(std::size_t n, std::size_t to) { return (n + to - 1) / to * to; }

struct Counts {
  std::size_t interfaces = 0;
  std::size_t alternateSettings = 0;
  std::size_t endpoints = 0;
};

Counts CountOf(const DeviceDescription& d) {
  Counts c;
  c.interfaces = d.interfaces.size();
  for (const auto& iface : d.interfaces) {
    c.alternateSettings += iface.alternateSettings.size();
    for (const auto& alt : iface.alternateSettings) c.endpoints += alt.endpoints.size();
  }
  return c;
}

}  // namespace

bool DeviceDescription::Matches(const MatchEntry& e) const {
  if (e.vendorId != device.idVendor || e.productId != device.idProduct) return false;
  if (e.deviceClass && e.deviceClass != device.bDeviceClass) return false;
  if (e.deviceSubClass && e.deviceSubClass != device.bDeviceSubClass) return false;
  if (!e.interfaceClass && !e.interfaceSubClass && !e.interfaceProtocol) return true;
  for (const auto& iface : interfaces) {
    for (const auto& alt : iface.alternateSettings) {
      const auto& id = alt.descriptor;
      if ((!e.interfaceClass || e.interfaceClass == id.bInterfaceClass) &&
          (!e.interfaceSubClass || e.interfaceSubClass == id.bInterfaceSubClass) &&
          (!e.interfaceProtocol || e.interfaceProtocol == id.bInterfaceProtocol))
        return true;
    }
  }
  return false;
}

std::size_t DeviceInfoSize(const DeviceDescription& d) {
  const Counts c = CountOf(d);
  std::size_t size = RoundUp(sizeof(DeviceInfo), alignof(std::max_align_t));
  size += RoundUp(sizeof(ConfigurationInfo), alignof(std::max_align_t));
  size += RoundUp(sizeof(InterfaceInfo) * c.interfaces, alignof(std::max_align_t));
  size += RoundUp(sizeof(AlternateSettingInfo) * c.alternateSettings, alignof(std::max_align_t));
  size += sizeof(UsbEndpointDescriptor) * c.endpoints;
  return size;
}

void LayOutDeviceInfo(const DeviceDescription& d, void* buffer) {
  const Counts c = CountOf(d);
  auto* bytes = static_cast<std::uint8_t*>(buffer);
  std::memset(bytes, 0, DeviceInfoSize(d));

  std::size_t at = 0;
  auto* info = new (bytes + at) DeviceInfo{};
  at += RoundUp(sizeof(DeviceInfo), alignof(std::max_align_t));
  auto* config = new (bytes + at) ConfigurationInfo{};
  at += RoundUp(sizeof(ConfigurationInfo), alignof(std::max_align_t));
  auto* interfaces = reinterpret_cast<InterfaceInfo*>(bytes + at);
  at += RoundUp(sizeof(InterfaceInfo) * c.interfaces, alignof(std::max_align_t));
  auto* alternates = reinterpret_cast<AlternateSettingInfo*>(bytes + at);
  at += RoundUp(sizeof(AlternateSettingInfo) * c.alternateSettings, alignof(std::max_align_t));
  auto* endpoints = reinterpret_cast<UsbEndpointDescriptor*>(bytes + at);

  info->deviceDescriptor = d.device;
  info->configurationCount = 1;
  info->configurations = config;
  info->activeConfiguration = config;
  config->descriptor = d.configuration;
  config->interfaceCount = static_cast<std::uint32_t>(c.interfaces);
  config->interfaces = c.interfaces ? interfaces : nullptr;

  std::size_t altAt = 0, epAt = 0;
  for (std::size_t i = 0; i < c.interfaces; ++i) {
    const auto& src = d.interfaces[i];
    auto* iface = new (&interfaces[i]) InterfaceInfo{};
    iface->alternateSettingCount = static_cast<std::uint32_t>(src.alternateSettings.size());
    iface->alternateSettings = src.alternateSettings.empty() ? nullptr : &alternates[altAt];
    for (std::size_t a = 0; a < src.alternateSettings.size(); ++a) {
      const auto& srcAlt = src.alternateSettings[a];
      auto* alt = new (&alternates[altAt + a]) AlternateSettingInfo{};
      alt->descriptor = srcAlt.descriptor;
      alt->endpointCount = static_cast<std::uint32_t>(srcAlt.endpoints.size());
      alt->endpoints = srcAlt.endpoints.empty() ? nullptr : &endpoints[epAt];
      for (const auto& ep : srcAlt.endpoints) new (&endpoints[epAt++]) UsbEndpointDescriptor(ep);
    }
    if (src.activeAlternateSetting < src.alternateSettings.size())
      iface->activeAlternateSetting = &alternates[altAt + src.activeAlternateSetting];
    altAt += src.alternateSettings.size();
    if (i < kMaxActiveInterfaces) info->activeInterface[i] = iface;
  }
  info->activeInterfaceCount =
      static_cast<std::uint32_t>(c.interfaces < kMaxActiveInterfaces ? c.interfaces : kMaxActiveInterfaces);
}

UsbEndpointDescriptor BulkEndpoint(std::uint8_t address, std::uint16_t maxPacketSize) {
  return UsbEndpointDescriptor{7, 5, address, 0x02, maxPacketSize, 0};
}

DeviceDescription SimpleDeviceDescription(std::uint16_t vendorId, std::uint16_t productId,
                                          const std::vector<std::uint8_t>& interfaceNumbers,
                                          const std::vector<UsbEndpointDescriptor>& endpoints) {
  DeviceDescription d;
  d.device = UsbDeviceDescriptor{18, 1, 0x0200, 0, 0, 0, 64, vendorId, productId, 0x0100, 0, 0, 0, 1};
  d.configuration = UsbConfigDescriptor{9, 2, 0, static_cast<std::uint8_t>(interfaceNumbers.size()),
                                        1, 0, 0x80, 50};
  for (std::uint8_t number : interfaceNumbers) {
    DeviceDescription::AlternateSetting alt;
    alt.descriptor = UsbInterfaceDescriptor{9, 4, number, 0,
                                            static_cast<std::uint8_t>(endpoints.size()),
                                            0xFF, 0, 0, 0};
    alt.endpoints = endpoints;
    DeviceDescription::Interface iface;
    iface.alternateSettings.push_back(alt);
    d.interfaces.push_back(iface);
  }
  return d;
}

}  // namespace wdu
