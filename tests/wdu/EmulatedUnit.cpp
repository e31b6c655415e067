// SPDX-License-Identifier: GPL-3.0-or-later
#include "EmulatedUnit.h"

#include "SimulatedUnit.h"

#include <glib.h>
#include <sys/ioctl.h>
#include <linux/usbdevice_fs.h>
#include <sys/prctl.h>
#include <umockdev.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <stdexcept>

void RunUnderUmockdev(char** argv) {
  const char* preload = std::getenv("LD_PRELOAD");
  if (preload && std::strstr(preload, "libumockdev-preload")) {
    // Each emulated exchange waits on short timers; default slack doubles it.
    prctl(PR_SET_TIMERSLACK, 1);
    return;
  }
  std::string value = "libumockdev-preload.so.0";
  if (preload && *preload) value += std::string(":") + preload;
  setenv("LD_PRELOAD", value.c_str(), 1);
  setenv("ASAN_OPTIONS", "verify_asan_link_order=0", 0);
  execv("/proc/self/exe", argv);
  std::perror("re-executing under umockdev");
  std::exit(1);
}

namespace {

constexpr std::uint8_t kOut = 0x02, kIn = 0x81;

std::vector<std::uint8_t> Descriptors(std::uint16_t vendor, std::uint16_t product) {
  return {
      // device
      18, 1, 0x00, 0x02, 0, 0, 0, 64, std::uint8_t(vendor & 0xFF), std::uint8_t(vendor >> 8),
      std::uint8_t(product & 0xFF), std::uint8_t(product >> 8), 0x00, 0x01, 0, 0, 0, 1,
      // configuration 1, one interface
      9, 2, 32, 0, 1, 1, 0, 0x80, 50,
      // interface 0, two bulk endpoints, vendor class
      9, 4, 0, 0, 2, 0xFF, 0, 0, 0,
      7, 5, kOut, 2, 64, 0, 0,
      7, 5, kIn, 2, 64, 0, 0};
}

std::string Hex(const std::vector<std::uint8_t>& bytes) {
  std::string s;
  char b[3];
  for (auto v : bytes) {
    std::snprintf(b, sizeof b, "%02x", v);
    s += b;
  }
  return s;
}

// An answer the unit has made and not yet sent, in the order it made them.
struct Held {
  std::vector<std::uint8_t> bytes;
  std::chrono::steady_clock::time_point ready;
};

struct Urb {
  UMockdevIoctlData* urb;     // the host's usbdevfs_urb
  UMockdevIoctlData* buffer;  // its data buffer
  std::string node;
  // The opened device it came through: another process (or a later open)
  // never reaps it, and it is dropped once its opener has gone.
  UMockdevIoctlClient* owner;
};

void Release(const Urb& u) {
  umockdev_ioctl_data_unref(u.buffer);
  umockdev_ioctl_data_unref(u.urb);
  g_object_unref(u.owner);
}

// Drops the transfers of openers that have closed the device.
void DropOrphans(std::deque<Urb>& urbs) {
  for (auto it = urbs.begin(); it != urbs.end();) {
    if (umockdev_ioctl_client_get_connected(it->owner)) {
      ++it;
    } else {
      Release(*it);
      it = urbs.erase(it);
    }
  }
}

}  // namespace

struct EmulatedUnit::Impl {
  unitsim::SimulatedUnit& model;
  UMockdevTestbed* testbed = nullptr;
  UMockdevIoctlBase* handler = nullptr;

  mutable std::mutex mutex;  // the handler runs on umockdev's worker thread
  std::string unitSyspath, unitNode, anotherSyspath, anotherNode;
  int nextDevnum = 2;
  bool silent = false;
  std::set<std::uint8_t> halted;
  std::deque<Urb> pendingIn;   // IN transfers waiting for the unit's answer
  std::deque<Urb> completed;   // ready to be reaped
  std::deque<Held> outbox;     // answers waiting for a read, oldest first
  int delayedNumber = -1;
  std::chrono::milliseconds delay{0};
  std::map<std::string, Seen> seen;

  explicit Impl(unitsim::SimulatedUnit& m) : model(m) {}

  static void SetUrb(UMockdevIoctlData* urb, int status, int actual) {
    auto* u = reinterpret_cast<usbdevfs_urb*>(urb->data);
    u->status = status;
    u->actual_length = actual;
  }

  // The unit answers each request as it takes it; the answer waits in the
  // unit until a read takes it, as a real endpoint's buffer does. Mutex held.
  void Take(const std::uint8_t* request, std::size_t length) {
    model.Receive(request, length);
    std::vector<std::uint8_t> reply = model.Transmit(512);
    if (silent || reply.empty()) return;
    auto ready = std::chrono::steady_clock::now();
    if (length >= 2 && request[1] == delayedNumber) {
      ready += delay;
      delayedNumber = -1;
    }
    outbox.push_back({std::move(reply), ready});
  }

  // Gives the oldest ready answers to the oldest waiting reads; mutex held.
  void Answer() {
    const auto now = std::chrono::steady_clock::now();
    DropOrphans(pendingIn);
    while (!pendingIn.empty() && !outbox.empty() && outbox.front().ready <= now) {
      Urb u = pendingIn.front();
      auto* urb = reinterpret_cast<usbdevfs_urb*>(u.urb->data);
      const std::vector<std::uint8_t>& reply = outbox.front().bytes;
      const std::size_t n = std::min(reply.size(), static_cast<std::size_t>(urb->buffer_length));
      std::memcpy(u.buffer->data, reply.data(), n);
      SetUrb(u.urb, 0, static_cast<int>(n));
      outbox.pop_front();
      pendingIn.pop_front();
      completed.push_back(u);
    }
  }

  std::string Add(std::uint16_t vendor, std::uint16_t product, bool isUnit) {
    const int devnum = nextDevnum++;
    char node[64], syspath[64];
    std::snprintf(node, sizeof node, "/dev/bus/usb/001/%03d", devnum);
    std::snprintf(syspath, sizeof syspath, "/devices/pci0000:00/0000:00:14.0/usb1/1-%d", devnum);
    char text[1024];
    std::snprintf(text, sizeof text,
                  "P: %s\nN: bus/usb/001/%03d\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\n"
                  "E: DEVNAME=%s\nE: BUSNUM=001\nE: DEVNUM=%03d\nA: busnum=1\\n\nA: devnum=%d\\n\n"
                  "A: speed=480\\n\nA: bConfigurationValue=1\\n\nA: idVendor=%04x\\n\nA: idProduct=%04x\\n\n"
                  "A: product=%s\\n\nH: descriptors=%s\n",
                  syspath, devnum, node, devnum, devnum, vendor, product,
                  isUnit ? "Emulated cooling unit" : "Another device",
                  Hex(Descriptors(vendor, product)).c_str());
    {
      // Known before the "add" uevent goes out: the host may open it at once.
      std::lock_guard<std::mutex> lock(mutex);
      (isUnit ? unitSyspath : anotherSyspath) = std::string("/sys") + syspath;
      (isUnit ? unitNode : anotherNode) = node;
    }
    GError* error = nullptr;
    if (!umockdev_testbed_attach_ioctl(testbed, node, handler, &error))
      throw std::runtime_error(std::string("umockdev ioctl: ") + (error ? error->message : "?"));
    if (!umockdev_testbed_add_from_string(testbed, text, &error))
      throw std::runtime_error(std::string("umockdev device: ") + (error ? error->message : "?"));
    return node;
  }

  gboolean Handle(UMockdevIoctlClient* client) {
    const unsigned long request = umockdev_ioctl_client_get_request(client);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    const std::string node = umockdev_ioctl_client_get_devnode(client);
    GError* error = nullptr;
    std::lock_guard<std::mutex> lock(mutex);
    Seen& s = seen[node];
    ++s.requests;
    const bool present = node == unitNode && model.IsPlugged();
    auto fail = [&](int err) {
      umockdev_ioctl_client_complete(client, -1, err);
      return TRUE;
    };
    auto ok = [&] {
      umockdev_ioctl_client_complete(client, 0, 0);
      return TRUE;
    };

    switch (request) {
      case USBDEVFS_GET_CAPABILITIES: {
        UMockdevIoctlData* caps = umockdev_ioctl_data_resolve(arg, 0, sizeof(std::uint32_t), &error);
        if (!caps) return fail(EFAULT);
        const std::uint32_t value = USBDEVFS_CAP_BULK_CONTINUATION | USBDEVFS_CAP_NO_PACKET_SIZE_LIM;
        std::memcpy(caps->data, &value, sizeof value);
        return ok();
      }
      case USBDEVFS_GETDRIVER:
      case USBDEVFS_IOCTL:  // detaching a kernel driver
        return fail(ENODATA);  // no kernel driver bound
      case USBDEVFS_CLAIMINTERFACE:
      case USBDEVFS_RELEASEINTERFACE: {
        UMockdevIoctlData* iface = umockdev_ioctl_data_resolve(arg, 0, sizeof(unsigned), &error);
        if (!iface) return fail(EFAULT);
        unsigned n;
        std::memcpy(&n, iface->data, sizeof n);
        if (request == USBDEVFS_CLAIMINTERFACE) {
          if (n != 0) return fail(ENOENT);
          s.claimed.push_back(n);
        }
        return ok();
      }
      case USBDEVFS_SETINTERFACE: {
        UMockdevIoctlData* set = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_setinterface), &error);
        if (!set) return fail(EFAULT);
        usbdevfs_setinterface si;
        std::memcpy(&si, set->data, sizeof si);
        if (!present) return fail(ENODEV);
        s.interfaceSettings.push_back({si.interface, si.altsetting});
        return ok();
      }
      case USBDEVFS_CLEAR_HALT: {
        UMockdevIoctlData* ep = umockdev_ioctl_data_resolve(arg, 0, sizeof(unsigned), &error);
        if (!ep) return fail(EFAULT);
        unsigned n;
        std::memcpy(&n, ep->data, sizeof n);
        if (!present) return fail(ENODEV);
        s.clearedHalts.push_back(n);
        halted.erase(static_cast<std::uint8_t>(n));
        return ok();
      }
      case USBDEVFS_SUBMITURB: {
        UMockdevIoctlData* urb = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_urb), &error);
        if (!urb) return fail(EFAULT);
        auto* u = reinterpret_cast<usbdevfs_urb*>(urb->data);
        UMockdevIoctlData* buffer = umockdev_ioctl_data_resolve(
            urb, offsetof(usbdevfs_urb, buffer), static_cast<gsize>(u->buffer_length), &error);
        if (!buffer) return fail(EFAULT);
        if (!present) return fail(ENODEV);
        ++s.submitted;
        Urb entry{umockdev_ioctl_data_ref(urb), umockdev_ioctl_data_ref(buffer), node,
                  static_cast<UMockdevIoctlClient*>(g_object_ref(client))};
        if (halted.count(u->endpoint)) {
          SetUrb(urb, -EPIPE, 0);
          completed.push_back(entry);
        } else if (u->endpoint & 0x80) {
          pendingIn.push_back(entry);
          Answer();
        } else {
          Take(buffer->data, static_cast<std::size_t>(u->buffer_length));
          SetUrb(urb, 0, u->buffer_length);
          completed.push_back(entry);
        }
        return ok();
      }
      case USBDEVFS_DISCARDURB: {
        // The argument is the URB's address in the host, not a pointer to it.
        gulong address = 0;
        std::memcpy(&address, arg->data, std::min<std::size_t>(sizeof address, arg->data_len));
        for (auto it = pendingIn.begin(); it != pendingIn.end(); ++it) {
          if (it->owner == client && it->urb->client_addr == address) {
            ++s.discarded;
            SetUrb(it->urb, -ENOENT, 0);
            completed.push_back(*it);
            pendingIn.erase(it);
            return ok();
          }
        }
        return fail(EINVAL);
      }
      case USBDEVFS_REAPURB:
      case USBDEVFS_REAPURBNDELAY: {
        Answer();
        DropOrphans(completed);
        for (auto it = completed.begin(); it != completed.end(); ++it) {
          if (it->node != node || it->owner != client) continue;
          Urb u = *it;
          completed.erase(it);
          // The argument points at the host's URB pointer, which is set to the
          // reaped URB.
          UMockdevIoctlData* slot = umockdev_ioctl_data_resolve(arg, 0, sizeof(void*), &error);
          if (!slot) return fail(EFAULT);
          umockdev_ioctl_data_set_ptr(slot, 0, u.urb);
          umockdev_ioctl_client_complete(client, 0, 0);
          Release(u);
          return TRUE;
        }
        return fail(present || node != unitNode ? EAGAIN : ENODEV);
      }
      default:
        return fail(ENOTTY);
    }
  }
};

namespace {
gboolean OnIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self) {
  return static_cast<EmulatedUnit::Impl*>(self)->Handle(client);
}
}  // namespace

EmulatedUnit::EmulatedUnit(unitsim::SimulatedUnit& model) : d(std::make_unique<Impl>(model)) {
  d->testbed = umockdev_testbed_new();
  if (!umockdev_in_mock_environment())
    throw std::runtime_error("not running under umockdev's preload library");
  d->handler = umockdev_ioctl_base_new();
  g_signal_connect(d->handler, "handle-ioctl", G_CALLBACK(OnIoctl), d.get());
}

EmulatedUnit::~EmulatedUnit() {
  {
    std::lock_guard<std::mutex> lock(d->mutex);
    for (auto* q : {&d->pendingIn, &d->completed}) {
      for (auto& u : *q) Release(u);
      q->clear();
    }
  }
  g_object_unref(d->handler);
  g_object_unref(d->testbed);
}

void EmulatedUnit::PlugIn(std::uint16_t vendor, std::uint16_t product) {
  d->model.Plug();
  d->Add(vendor, product, true);
}

void EmulatedUnit::PlugInAnother(std::uint16_t vendor, std::uint16_t product) {
  d->Add(vendor, product, false);
}

void EmulatedUnit::Unplug() {
  std::string syspath;
  {
    std::lock_guard<std::mutex> lock(d->mutex);
    syspath = d->unitSyspath;
    d->model.Unplug();
    // A pulled cable fails what is in flight; no POLLERR tells the host.
    for (auto& u : d->pendingIn) {
      Impl::SetUrb(u.urb, -ENODEV, 0);
      d->completed.push_back(u);
    }
    d->pendingIn.clear();
    d->outbox.clear();  // plugging in again resets the unit's USB side
  }
  umockdev_testbed_uevent(d->testbed, syspath.c_str(), "remove");
  umockdev_testbed_remove_device(d->testbed, syspath.c_str());
}

void EmulatedUnit::SetSilent(bool silent) {
  std::lock_guard<std::mutex> lock(d->mutex);
  d->silent = silent;
}

void EmulatedUnit::DelayNextReplyTo(std::uint8_t number, std::chrono::milliseconds late) {
  std::lock_guard<std::mutex> lock(d->mutex);
  d->delayedNumber = number;
  d->delay = late;
}

void EmulatedUnit::Halt(std::uint8_t endpoint) {
  std::lock_guard<std::mutex> lock(d->mutex);
  d->halted.insert(endpoint);
}

EmulatedUnit::Seen EmulatedUnit::SeenOn(const std::string& devnode) const {
  std::lock_guard<std::mutex> lock(d->mutex);
  auto it = d->seen.find(devnode);
  return it == d->seen.end() ? Seen{} : it->second;
}

std::string EmulatedUnit::UnitNode() const {
  std::lock_guard<std::mutex> lock(d->mutex);
  return d->unitNode;
}

std::string EmulatedUnit::AnotherNode() const {
  std::lock_guard<std::mutex> lock(d->mutex);
  return d->anotherNode;
}
