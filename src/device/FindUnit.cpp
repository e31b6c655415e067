// SPDX-License-Identifier: GPL-3.0-or-later
#include "device/FindUnit.h"

#include <libusb.h>

#include <fstream>
#include <memory>

namespace {

constexpr std::uint8_t kPipeToUnit = 0x02;
constexpr std::uint8_t kPipeFromUnit = 0x81;

bool HasTheUnitsPipes(libusb_device* device) {
  libusb_config_descriptor* config = nullptr;
  if (libusb_get_active_config_descriptor(device, &config) != LIBUSB_SUCCESS &&
      libusb_get_config_descriptor(device, 0, &config) != LIBUSB_SUCCESS)
    return false;
  bool out = false, in = false;
  for (int i = 0; i < config->bNumInterfaces; ++i) {
    const libusb_interface& iface = config->interface[i];
    for (int a = 0; a < iface.num_altsetting; ++a) {
      const libusb_interface_descriptor& id = iface.altsetting[a];
      // The program selects interface 0, alternate setting 0.
      if (id.bInterfaceNumber != 0 || id.bAlternateSetting != 0) continue;
      for (int e = 0; e < id.bNumEndpoints; ++e) {
        const libusb_endpoint_descriptor& ed = id.endpoint[e];
        if ((ed.bmAttributes & LIBUSB_TRANSFER_TYPE_MASK) != LIBUSB_TRANSFER_TYPE_BULK) continue;
        out = out || ed.bEndpointAddress == kPipeToUnit;
        in = in || ed.bEndpointAddress == kPipeFromUnit;
      }
    }
  }
  libusb_free_config_descriptor(config);
  return out && in;
}

std::string Trimmed(std::string s) {
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ')) s.pop_back();
  return s;
}

// The kernel keeps the product string in sysfs, readable without access to
// the device itself, which is the point for a user whose rule is missing.
std::string SysfsProduct(int bus, const std::string& ports) {
  std::ifstream in("/sys/bus/usb/devices/" + std::to_string(bus) + "-" + ports + "/product");
  std::string line;
  std::getline(in, line);
  return Trimmed(line);
}

}  // namespace

std::vector<UnitCandidate> ListUnitCandidates(bool& ok) {
  std::vector<UnitCandidate> found;
  libusb_context* context = nullptr;
  ok = libusb_init(&context) == LIBUSB_SUCCESS;
  if (!ok) return found;
  libusb_device** list = nullptr;
  const ssize_t n = libusb_get_device_list(context, &list);
  ok = n >= 0;
  for (ssize_t i = 0; i < n; ++i) {
    libusb_device* device = list[i];
    libusb_device_descriptor dd{};
    if (libusb_get_device_descriptor(device, &dd) != LIBUSB_SUCCESS) continue;
    if (!HasTheUnitsPipes(device)) continue;
    UnitCandidate c;
    c.ids = UsbIdPair{dd.idVendor, dd.idProduct};
    c.bus = libusb_get_bus_number(device);
    std::uint8_t ports[8];
    const int depth = libusb_get_port_numbers(device, ports, sizeof ports);
    for (int p = 0; p < depth; ++p) c.ports += (p ? "." : "") + std::to_string(ports[p]);
    if (depth <= 0) c.ports = "?";
    c.product = SysfsProduct(c.bus, c.ports);
    // Opening (without claiming anything) is the honest test of access: the
    // seat's ACL, the rule's group, root.
    libusb_device_handle* handle = nullptr;
    const int r = libusb_open(device, &handle);
    if (r == LIBUSB_SUCCESS) {
      c.access = UnitCandidate::Access::Yes;
      if (c.product.empty() && dd.iProduct) {
        unsigned char text[128];
        const int len = libusb_get_string_descriptor_ascii(handle, dd.iProduct, text, sizeof text);
        if (len > 0) c.product = Trimmed(std::string(reinterpret_cast<char*>(text), len));
      }
      libusb_close(handle);
    } else {
      c.access = r == LIBUSB_ERROR_ACCESS ? UnitCandidate::Access::Denied : UnitCandidate::Access::Other;
      c.accessDetail = libusb_error_name(r);
    }
    found.push_back(std::move(c));
  }
  if (n >= 0) libusb_free_device_list(list, 1);
  libusb_exit(context);
  return found;
}

std::string DescribeUnitCandidates(const std::vector<UnitCandidate>& candidates,
                                   UsbIdPair lookedFor) {
  const std::string wanted = FormatUnitUsbId(lookedFor);
  std::string text;
  if (candidates.empty()) {
    text += "No USB device with bulk endpoints 0x02 (out) and 0x81 (in) on interface 0 is plugged in.\n";
  } else {
    text += "USB devices with bulk endpoints 0x02 (out) and 0x81 (in) on interface 0:\n";
    bool marked = false;
    for (const UnitCandidate& c : candidates) {
      const bool mark = !marked && c.ids == lookedFor;
      marked = marked || mark;
      text += mark ? "* " : "  ";
      text += FormatUnitUsbId(c.ids) + "  bus " + std::to_string(c.bus) + " port " + c.ports + "  ";
      text += c.product.empty() ? std::string("(no product name)") : "\"" + c.product + "\"";
      switch (c.access) {
        case UnitCandidate::Access::Yes: text += "  you may open it"; break;
        case UnitCandidate::Access::Denied:
          text += "  you may not open it (no access rule for this pair yet)";
          break;
        case UnitCandidate::Access::Other: text += "  cannot be opened (" + c.accessDetail + ")"; break;
      }
      text += mark ? "  <- used by this program\n" : "\n";
    }
    if (!marked) text += "None of them has the pair this program looks for.\n";
  }
  text += "This program looks for " + wanted +
          ". Name another pair with --unit-id VVVV:PPPP or the \"Unit USB id\" setting.\n";
  return text;
}

int RunFindUnit(UsbIdPair lookedFor, std::FILE* out) {
  bool ok = false;
  const std::vector<UnitCandidate> candidates = ListUnitCandidates(ok);
  if (!ok) {
    std::fprintf(out, "USB devices cannot be read (libusb did not start).\n");
    return 1;
  }
  std::fputs(DescribeUnitCandidates(candidates, lookedFor).c_str(), out);
  return 0;
}
