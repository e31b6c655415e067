// SPDX-License-Identifier: GPL-3.0-or-later
#include "device/wdu/LibusbStandIn.h"

#include <libusb.h>

#include <mutex>
#include <shared_mutex>

namespace wdu {

struct LibusbStandIn::Device {
  explicit Device(libusb_device* d) : device(libusb_ref_device(d)) {}
  ~Device() { libusb_unref_device(device); }

  libusb_device* const device;
  // Transfers hold it shared for as long as they use the handle; opening,
  // selecting and closing hold it exclusively.
  std::shared_mutex use;
  libusb_device_handle* handle = nullptr;
  int claimedInterface = -1;
  std::map<std::uint8_t, std::uint8_t> endpointTypes;  // address -> LIBUSB_TRANSFER_TYPE_*

  void CloseHandle() {
    if (!handle) return;
    if (claimedInterface >= 0) libusb_release_interface(handle, claimedInterface);
    claimedInterface = -1;
    libusb_close(handle);
    handle = nullptr;
    endpointTypes.clear();
  }
};

namespace {

int LIBUSB_CALL HotplugCallback(libusb_context*, libusb_device* device, libusb_hotplug_event event,
                                void* self) {
  static_cast<LibusbStandIn*>(self)->HandleHotplug(device,
                                                   event == LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED);
  return 0;  // stay registered
}

DeviceDescription Describe(libusb_device* device, const libusb_device_descriptor& dd) {
  DeviceDescription d;
  d.device = UsbDeviceDescriptor{dd.bLength,        dd.bDescriptorType,   dd.bcdUSB,
                                 dd.bDeviceClass,   dd.bDeviceSubClass,   dd.bDeviceProtocol,
                                 dd.bMaxPacketSize0, dd.idVendor,         dd.idProduct,
                                 dd.bcdDevice,      dd.iManufacturer,     dd.iProduct,
                                 dd.iSerialNumber,  dd.bNumConfigurations};
  // The descriptors are cached when the device is enumerated; reading them
  // here does no I/O, which matters inside a hot-plug callback.
  libusb_config_descriptor* config = nullptr;
  if (libusb_get_active_config_descriptor(device, &config) != LIBUSB_SUCCESS &&
      libusb_get_config_descriptor(device, 0, &config) != LIBUSB_SUCCESS)
    return d;
  d.configuration = UsbConfigDescriptor{config->bLength, config->bDescriptorType,
                                        config->wTotalLength, config->bNumInterfaces,
                                        config->bConfigurationValue, config->iConfiguration,
                                        config->bmAttributes, config->MaxPower};
  for (int i = 0; i < config->bNumInterfaces; ++i) {
    const libusb_interface& iface = config->interface[i];
    DeviceDescription::Interface out;
    for (int a = 0; a < iface.num_altsetting; ++a) {
      const libusb_interface_descriptor& id = iface.altsetting[a];
      DeviceDescription::AlternateSetting alt;
      alt.descriptor = UsbInterfaceDescriptor{id.bLength,          id.bDescriptorType,
                                              id.bInterfaceNumber, id.bAlternateSetting,
                                              id.bNumEndpoints,    id.bInterfaceClass,
                                              id.bInterfaceSubClass, id.bInterfaceProtocol,
                                              id.iInterface};
      for (int e = 0; e < id.bNumEndpoints; ++e) {
        const libusb_endpoint_descriptor& ed = id.endpoint[e];
        alt.endpoints.push_back(UsbEndpointDescriptor{ed.bLength, ed.bDescriptorType,
                                                      ed.bEndpointAddress, ed.bmAttributes,
                                                      ed.wMaxPacketSize, ed.bInterval});
      }
      out.alternateSettings.push_back(alt);
    }
    d.interfaces.push_back(out);
  }
  libusb_free_config_descriptor(config);
  return d;
}

std::map<std::uint8_t, std::uint8_t> EndpointTypes(libusb_device* device, int interfaceNumber,
                                                   int alternateSetting) {
  std::map<std::uint8_t, std::uint8_t> types;
  libusb_config_descriptor* config = nullptr;
  if (libusb_get_active_config_descriptor(device, &config) != LIBUSB_SUCCESS) return types;
  for (int i = 0; i < config->bNumInterfaces; ++i) {
    const libusb_interface& iface = config->interface[i];
    for (int a = 0; a < iface.num_altsetting; ++a) {
      const libusb_interface_descriptor& id = iface.altsetting[a];
      if (id.bInterfaceNumber != interfaceNumber || id.bAlternateSetting != alternateSetting)
        continue;
      for (int e = 0; e < id.bNumEndpoints; ++e)
        types[id.endpoint[e].bEndpointAddress] =
            id.endpoint[e].bmAttributes & LIBUSB_TRANSFER_TYPE_MASK;
    }
  }
  libusb_free_config_descriptor(config);
  return types;
}

}  // namespace

Status LibusbStandIn::MapLibusbResult(int result) {
  if (result >= 0) return status::kSuccess;
  switch (result) {
    case LIBUSB_ERROR_NO_DEVICE: return status::kDeviceNotFound;
    case LIBUSB_ERROR_TIMEOUT: return status::kTimeoutExpired;
    case LIBUSB_ERROR_NO_MEM: return status::kInsufficientResources;
    case LIBUSB_ERROR_IO: return status::kIoError;
    case LIBUSB_ERROR_INVALID_PARAM: return status::kInvalidParameter;
    case LIBUSB_ERROR_ACCESS: return status::kAccessDenied;
    case LIBUSB_ERROR_NOT_FOUND: return status::kNotFound;
    case LIBUSB_ERROR_BUSY: return status::kBusy;
    case LIBUSB_ERROR_OVERFLOW: return status::kOverflow;
    case LIBUSB_ERROR_PIPE: return status::kPipeStalled;
    case LIBUSB_ERROR_INTERRUPTED: return status::kInterrupted;
    case LIBUSB_ERROR_NOT_SUPPORTED: return status::kNotSupported;
    default: return status::kOtherError;
  }
}

LibusbStandIn::LibusbStandIn() = default;

LibusbStandIn::~LibusbStandIn() {
  if (!context_) return;
  std::vector<int> handles;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& [ids, handle] : hotplugHandles_) handles.push_back(handle);
    hotplugHandles_.clear();
  }
  for (int handle : handles) libusb_hotplug_deregister_callback(context_, handle);
  stopping_ = true;
  libusb_interrupt_event_handler(context_);
  if (pump_.joinable()) pump_.join();
  CloseLeftDevices();
  std::map<std::uint32_t, std::shared_ptr<Device>> devices;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    devices.swap(devices_);
    ids_.clear();
  }
  for (auto& [id, device] : devices) {
    std::unique_lock<std::shared_mutex> use(device->use);
    device->CloseHandle();
  }
  devices.clear();
  libusb_exit(context_);
}

std::uint32_t LibusbStandIn::Version() const {
  const libusb_version* v = libusb_get_version();
  return v->major * 1000u + v->minor * 100u + v->micro;
}

bool LibusbStandIn::Start() {
  if (context_) return true;
  if (libusb_init(&context_) != LIBUSB_SUCCESS) {
    context_ = nullptr;
    return false;
  }
  pump_ = std::thread(&LibusbStandIn::Pump, this);
  return true;
}

void LibusbStandIn::Pump() {
  while (!stopping_) {
    timeval tv{0, 100000};
    libusb_handle_events_timeout_completed(context_, &tv, nullptr);
    CloseLeftDevices();
  }
}

// A device that has gone is closed here, between two rounds of event
// handling, rather than in the hot-plug callback: a transfer still running on
// its handle needs events handled to finish, so waiting for it inside the
// callback would wait for ever.
void LibusbStandIn::CloseLeftDevices() {
  std::vector<std::shared_ptr<Device>> left;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    left.swap(leftDevices_);
  }
  for (auto& device : left) {
    std::unique_lock<std::shared_mutex> use(device->use);
    device->CloseHandle();
  }
}

void LibusbStandIn::OnRegistered(const std::vector<MatchEntry>& matchTable) {
  if (!context_) return;
  if (!libusb_has_capability(LIBUSB_CAP_HAS_HOTPLUG)) {
    // Without hot-plug support, at least the units present now are reported.
    libusb_device** list = nullptr;
    const ssize_t n = libusb_get_device_list(context_, &list);
    for (ssize_t i = 0; i < n; ++i) HandleHotplug(list[i], true);
    if (n >= 0) libusb_free_device_list(list, 1);
    return;
  }
  for (const MatchEntry& entry : matchTable) {
    libusb_hotplug_callback_handle handle = 0;
    const int r = libusb_hotplug_register_callback(
        context_,
        static_cast<libusb_hotplug_event>(LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED |
                                          LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT),
        LIBUSB_HOTPLUG_ENUMERATE, entry.vendorId, entry.productId, LIBUSB_HOTPLUG_MATCH_ANY,
        HotplugCallback, this, &handle);
    if (r == LIBUSB_SUCCESS) {
      std::lock_guard<std::mutex> lock(mutex_);
      hotplugHandles_.emplace(std::make_pair(entry.vendorId, entry.productId), handle);
    }
  }
}

void LibusbStandIn::OnUnregistered(const std::vector<MatchEntry>& matchTable) {
  if (!context_) return;
  for (const MatchEntry& entry : matchTable) {
    int handle = -1;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      auto it = hotplugHandles_.find(std::make_pair(entry.vendorId, entry.productId));
      if (it == hotplugHandles_.end()) continue;
      handle = it->second;
      hotplugHandles_.erase(it);
    }
    libusb_hotplug_deregister_callback(context_, handle);
  }
}

void LibusbStandIn::HandleHotplug(libusb_device* device, bool arrived) {
  if (arrived)
    Arrived(device);
  else
    Left(device);
}

void LibusbStandIn::Arrived(libusb_device* device) {
  libusb_device_descriptor dd{};
  if (libusb_get_device_descriptor(device, &dd) != LIBUSB_SUCCESS) return;
  std::uint32_t id = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    // Two registrations for the same ids both hear of the same device.
    if (ids_.count(device)) return;
    id = NewDeviceId();
    ids_[device] = id;
    devices_[id] = std::make_shared<Device>(device);
  }
  DeviceArrived(id, Describe(device, dd));
}

void LibusbStandIn::Left(libusb_device* device) {
  std::uint32_t id = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = ids_.find(device);
    if (it == ids_.end()) return;
    id = it->second;
    ids_.erase(it);
    auto d = devices_.find(id);
    if (d != devices_.end()) {
      leftDevices_.push_back(d->second);
      devices_.erase(d);
    }
  }
  DeviceLeft(id);
}

std::shared_ptr<LibusbStandIn::Device> LibusbStandIn::Find(std::uint32_t uniqueId) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = devices_.find(uniqueId);
  return it == devices_.end() ? nullptr : it->second;
}

Status LibusbStandIn::SelectInterface(std::uint32_t uniqueId, std::uint32_t interfaceNumber,
                                      std::uint32_t alternateSetting) {
  auto device = Find(uniqueId);
  if (!device) return status::kDeviceNotFound;
  if (interfaceNumber > 255 || alternateSetting > 255) return status::kInvalidParameter;
  std::unique_lock<std::shared_mutex> use(device->use);
  if (!device->handle) {
    const int r = libusb_open(device->device, &device->handle);
    if (r != LIBUSB_SUCCESS) {
      device->handle = nullptr;
      return MapLibusbResult(r);
    }
    // A kernel driver that bound to the interface gives way while we hold it.
    libusb_set_auto_detach_kernel_driver(device->handle, 1);
  }
  const int iface = static_cast<int>(interfaceNumber);
  if (device->claimedInterface >= 0 && device->claimedInterface != iface) {
    libusb_release_interface(device->handle, device->claimedInterface);
    device->claimedInterface = -1;
  }
  if (device->claimedInterface != iface) {
    const int r = libusb_claim_interface(device->handle, iface);
    if (r != LIBUSB_SUCCESS) return MapLibusbResult(r);
    device->claimedInterface = iface;
  }
  const int r = libusb_set_interface_alt_setting(device->handle, iface,
                                                 static_cast<int>(alternateSetting));
  if (r != LIBUSB_SUCCESS) return MapLibusbResult(r);
  device->endpointTypes = EndpointTypes(device->device, iface, static_cast<int>(alternateSetting));
  return status::kSuccess;
}

Status LibusbStandIn::ResetPipe(std::uint32_t uniqueId, std::uint32_t pipe) {
  auto device = Find(uniqueId);
  if (!device) return status::kDeviceNotFound;
  std::shared_lock<std::shared_mutex> use(device->use);
  if (!device->handle) return status::kInterfaceNotSelected;
  return MapLibusbResult(libusb_clear_halt(device->handle, static_cast<unsigned char>(pipe)));
}

Status LibusbStandIn::Transfer(std::uint32_t uniqueId, TransferRecord& t) {
  auto device = Find(uniqueId);
  if (!device) return status::kDeviceNotFound;
  std::shared_lock<std::shared_mutex> use(device->use);
  if (!device->handle) return status::kInterfaceNotSelected;
  if (t.bufferSize > 0 && !t.buffer) return status::kInvalidParameter;
  auto* data = static_cast<unsigned char*>(t.buffer);
  int r;
  if ((t.pipe & 0x7F) == 0) {
    const std::uint8_t* s = t.setupPacket;
    const std::uint16_t wValue = static_cast<std::uint16_t>(s[2] | s[3] << 8);
    const std::uint16_t wIndex = static_cast<std::uint16_t>(s[4] | s[5] << 8);
    std::uint16_t wLength = static_cast<std::uint16_t>(s[6] | s[7] << 8);
    if (wLength > t.bufferSize) wLength = static_cast<std::uint16_t>(t.bufferSize);
    r = libusb_control_transfer(device->handle, s[0], s[1], wValue, wIndex, data, wLength,
                                t.timeoutMs);
    t.bytesTransferred = r > 0 ? static_cast<std::uint32_t>(r) : 0;
  } else {
    const auto endpoint = static_cast<unsigned char>(t.read ? (t.pipe | 0x80) : (t.pipe & 0x7F));
    const auto type = device->endpointTypes.find(endpoint);
    const bool interrupt =
        type != device->endpointTypes.end() && type->second == LIBUSB_TRANSFER_TYPE_INTERRUPT;
    int transferred = 0;
    r = interrupt ? libusb_interrupt_transfer(device->handle, endpoint, data,
                                              static_cast<int>(t.bufferSize), &transferred,
                                              t.timeoutMs)
                  : libusb_bulk_transfer(device->handle, endpoint, data,
                                         static_cast<int>(t.bufferSize), &transferred, t.timeoutMs);
    t.bytesTransferred = static_cast<std::uint32_t>(transferred);
  }
  return MapLibusbResult(r);
}

void LibusbStandIn::ReleaseDevice(std::uint32_t uniqueId) {
  auto device = Find(uniqueId);
  if (!device) return;
  std::unique_lock<std::shared_mutex> use(device->use);
  device->CloseHandle();
}

}  // namespace wdu
