// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The link to the one cooling unit over the driver layer: makes sure a normal
// user may reach the unit (the access rule), opens a driver context that
// follows the unit's attach and detach, and moves one request out and one
// reply in. Plain C++: the layer underneath and this link can be tested
// without Qt.

#include "device/UnitLink.h"
#include "device/UnitUsbId.h"
#include "device/wdu/Wdu.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// The default pair (device/UnitUsbId.h); the packaged access rule names the
// same pair.
inline constexpr std::uint16_t UnitVendorId = UnitUsbIds.vendor;
inline constexpr std::uint16_t UnitProductId = UnitUsbIds.product;

inline constexpr wdu::MatchEntry UnitMatchTable{UnitVendorId, UnitProductId, 0, 0, 0, 0, 0, 0};

// The access rule and its installer, shipped in the program folder.
inline constexpr char kAccessRuleFileName[] = "70-vornalith-unit.rules";
inline constexpr char kInstallerFileName[] = "wdreg";

// Starts a program and waits for it to end. Tests stand in for it so that no
// privilege prompt ever appears.
class IProcessRunner {
 public:
  virtual ~IProcessRunner() = default;
  // `program` is run as is (never through a shell) with `arguments`, without a
  // terminal for input. False when it could not be started; its exit code is
  // not reported.
  virtual bool RunAndWait(const std::string& program, const std::vector<std::string>& arguments) = 0;
};

class PosixProcessRunner : public IProcessRunner {
 public:
  bool RunAndWait(const std::string& program, const std::vector<std::string>& arguments) override;
};

// Signalled by the attach callback; automatic reset.
class AttachEvent {
 public:
  void Signal();
  // True when signalled within `timeout`; consumes the signal.
  bool WaitFor(std::chrono::milliseconds timeout);

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool signalled_ = false;
};

// The record handed to the driver layer as the callbacks' user data.
struct UnitLinkRecord {
  std::uint32_t interfaceNumber = 0;
  std::uint32_t alternateSetting = 0;
  // Written on the event thread, read by transfers on the caller's thread.
  std::atomic<wdu::DeviceHandle> device{nullptr};
  std::unique_ptr<AttachEvent> attachEvent;
  std::atomic<wdu::Status> interfaceStatus{0};
};
static_assert(std::atomic<wdu::DeviceHandle>::is_always_lock_free);

class UsbLink : public IUnitLink {
 public:
  struct Options {
    // Folder of the installer and the rule file, with a trailing separator.
    std::string programFolder;
    // Where udev reads rules; the rule present in one of them counts as the
    // driver being installed.
    std::vector<std::string> ruleFolders = DefaultRuleFolders();
    std::function<bool()> runningAsRoot = DefaultRunningAsRoot;
    // False for a stand-in that needs no access to a device node (the
    // simulated unit): nothing is ever installed then.
    bool accessRuleNeeded = true;
    // The unit looked for; another pair than the default has an access rule
    // of its own.
    UsbIdPair unitIds = UnitUsbIds;
    // How long OpenUnit waits for the unit's attach.
    std::chrono::milliseconds attachWait{3000};
    // The time-out of each of an exchange's two transfers.
    std::uint32_t transferTimeoutMs = 3000;
    // How long each read that throws away a stale reply waits for one; 0
    // keeps them (for tests that count an exchange's own transfers).
    std::uint32_t drainReadMs = 30;
  };

  static std::vector<std::string> DefaultRuleFolders();
  static bool DefaultRunningAsRoot();

  // The stand-in and the runner must outlive the link.
  UsbLink(wdu::DriverStandIn& driver, IProcessRunner& runner, Options options);
  // Closes the driver context, so that the stand-in may go after the link.
  ~UsbLink() override;
  UsbLink(const UsbLink&) = delete;
  UsbLink& operator=(const UsbLink&) = delete;

  bool InstallDriverIfMissing() override;
  bool OpenUnit() override;
  std::uint32_t TransferPacket(const std::uint8_t* request, std::uint32_t length,
                               std::uint8_t* reply, std::uint32_t replyLength) override;
  std::uint32_t ResetLinkPipe(std::uint8_t pipe) override;
  void CloseUnit() override;
  std::optional<UsbIdPair> UnitIds() const override { return options_.unitIds; }

  // The installer's arguments: -inf "<folder><rule file>" -silent install;
  // for a pair other than the default, "-unit-id vvvv:pppp" comes before
  // "-silent": the installer then writes that pair's own rule.
  std::vector<std::string> InstallerArguments() const;

  static bool OnUnitAttach(wdu::DeviceHandle device, const wdu::DeviceInfo* info, void* userData);
  static void OnUnitDetach(wdu::DeviceHandle device, void* userData);

  // The attached unit, or null; for tests.
  wdu::DeviceHandle CurrentDevice() const { return record_.device.load(); }

 private:
  void DrainStaleReplies();

  wdu::DriverStandIn& driver_;
  IProcessRunner& runner_;
  Options options_;
  UnitLinkRecord record_;
  wdu::DriverHandle context_ = nullptr;
  // Set when a reply meant for an earlier request may still come in; the next
  // request is then preceded by a drain. Caller's thread only.
  bool drainBeforeNextWrite_ = false;
};

// The link and everything behind it, owned together.
struct UsbLinkStack : IUnitLink {
  std::unique_ptr<wdu::DriverStandIn> driver;
  std::unique_ptr<IProcessRunner> runner;
  std::unique_ptr<UsbLink> link;  // declared last: goes first

  bool InstallDriverIfMissing() override { return link->InstallDriverIfMissing(); }
  bool OpenUnit() override { return link->OpenUnit(); }
  std::uint32_t TransferPacket(const std::uint8_t* request, std::uint32_t length,
                               std::uint8_t* reply, std::uint32_t replyLength) override {
    return link->TransferPacket(request, length, reply, replyLength);
  }
  std::uint32_t ResetLinkPipe(std::uint8_t pipe) override { return link->ResetLinkPipe(pipe); }
  void CloseUnit() override { link->CloseUnit(); }
  std::optional<UsbIdPair> UnitIds() const override { return link->UnitIds(); }
};

// The link to a real unit: libusb behind the driver layer, the installer run
// as a process. `programFolder` holds the installer and the rule file.
std::unique_ptr<IUnitLink> MakeUsbLink(const std::string& programFolder,
                                       UsbIdPair unitIds = UnitUsbIds);

// The link of a system service: its access to the unit comes with it (a
// udev rule for its group), so it never asks for the installer to run.
std::unique_ptr<IUnitLink> MakeServiceUsbLink(UsbIdPair unitIds = UnitUsbIds);

// The link with a stand-in behind the layer that needs no access rule (the
// -sim build passes the simulated unit's stand-in).
std::unique_ptr<IUnitLink> MakeStandInLink(std::unique_ptr<wdu::DriverStandIn> driver);
