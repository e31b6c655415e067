// SPDX-License-Identifier: GPL-3.0-or-later
#include "device/UsbLink.h"

#include "device/wdu/LibusbStandIn.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

extern char** environ;

namespace {

constexpr std::uint32_t kPipeToUnit = 0x02;
constexpr std::uint32_t kPipeFromUnit = 0x81;

// A unit that never stops talking must not hold up the poll: a drain gives up
// after this, whatever still comes.
constexpr std::chrono::milliseconds kDrainLimit{250};

bool FileExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string WithSeparator(std::string folder) {
  if (!folder.empty() && folder.back() != '/') folder.push_back('/');
  return folder;
}

}  // namespace

// --- PosixProcessRunner

bool PosixProcessRunner::RunAndWait(const std::string& program,
                                    const std::vector<std::string>& arguments) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const auto& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);

  // No terminal to read from: the helper asks through the desktop's own
  // authentication dialog, never on standard input.
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  pid_t pid = -1;
  const int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return false;

  int wstatus = 0;
  while (::waitpid(pid, &wstatus, 0) < 0 && errno == EINTR) {
  }
  return true;
}

// --- AttachEvent

void AttachEvent::Signal() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    signalled_ = true;
  }
  cv_.notify_one();
}

bool AttachEvent::WaitFor(std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (!cv_.wait_for(lock, timeout, [this] { return signalled_; })) return false;
  signalled_ = false;
  return true;
}

// --- UsbLink

std::vector<std::string> UsbLink::DefaultRuleFolders() {
  return {"/etc/udev/rules.d/", "/run/udev/rules.d/", "/usr/lib/udev/rules.d/",
          "/lib/udev/rules.d/", "/usr/local/lib/udev/rules.d/"};
}

bool UsbLink::DefaultRunningAsRoot() { return ::geteuid() == 0; }

UsbLink::UsbLink(wdu::DriverStandIn& driver, IProcessRunner& runner, Options options)
    : driver_(driver), runner_(runner), options_(std::move(options)) {
  options_.programFolder = WithSeparator(options_.programFolder);
}

UsbLink::~UsbLink() {
  // The event thread calls back into record_, and the stand-in may go right
  // after the link: both need the context ended first.
  wdu::WDU_Close(context_);
  context_ = nullptr;
}

std::vector<std::string> UsbLink::InstallerArguments() const {
  const std::string& folder = options_.programFolder;
  std::vector<std::string> arguments{"-inf", folder + kAccessRuleFileName};
  if (!(options_.unitIds == UnitUsbIds))
    arguments.insert(arguments.end(), {"-unit-id", FormatUnitUsbId(options_.unitIds)});
  arguments.insert(arguments.end(), {"-silent", "install"});
  return arguments;
}

bool UsbLink::InstallDriverIfMissing() {
  if (!options_.accessRuleNeeded) return true;
  if (options_.runningAsRoot && options_.runningAsRoot()) return true;
  const std::string rule = AccessRuleFileNameFor(options_.unitIds);
  for (const auto& folder : options_.ruleFolders)
    if (FileExists(WithSeparator(folder) + rule)) return true;

  // The program path is passed as one piece rather than parsed out of the
  // command line: a folder with blanks in its name must not start some other
  // program.
  runner_.RunAndWait(options_.programFolder + kInstallerFileName, InstallerArguments());
  return false;
}

bool UsbLink::OpenUnit() {
  if (context_) {
    wdu::WDU_Close(context_);
    context_ = nullptr;
  }
  record_.interfaceNumber = 0;
  record_.alternateSetting = 0;
  record_.device = nullptr;
  record_.interfaceStatus = 0;
  record_.attachEvent = std::make_unique<AttachEvent>();

  const wdu::MatchEntry match{options_.unitIds.vendor, options_.unitIds.product, 0, 0, 0, 0, 0, 0};
  wdu::EventTable events;
  events.attach = &UsbLink::OnUnitAttach;
  events.detach = &UsbLink::OnUnitDetach;
  events.userData = &record_;
  const wdu::Status s =
      wdu::WDU_Init(&context_, &match, 1, &events, wdu::option::kAcknowledge, driver_);
  const bool attached = s == wdu::status::kSuccess && record_.attachEvent->WaitFor(options_.attachWait);
  if (attached && record_.interfaceStatus == 0) {
    // The unit outlives the program: an answer to a request of an earlier run
    // that ended before reading it may still wait there, and would be taken
    // for the answer to our first request.
    DrainStaleReplies();
    drainBeforeNextWrite_ = false;
    return true;
  }

  wdu::WDU_Close(context_);
  context_ = nullptr;
  record_.device = nullptr;
  record_.attachEvent.reset();
  return false;
}

bool UsbLink::OnUnitAttach(wdu::DeviceHandle device, const wdu::DeviceInfo* info, void* userData) {
  auto* link = static_cast<UnitLinkRecord*>(userData);
  if (wdu::FirstActiveInterfaceNumber(info) != static_cast<int>(link->interfaceNumber)) return false;
  // A second matching unit is refused and left alone. Attaches arrive one at
  // a time on the event thread, so nothing can slip in between.
  if (link->device.load() != nullptr) return false;
  const wdu::Status s =
      wdu::WDU_SelectInterface(device, link->interfaceNumber, link->alternateSetting);
  link->interfaceStatus = s;
  // Published only once selected: a transfer never goes to a unit whose
  // interface is not yet ours.
  if (s == wdu::status::kSuccess) link->device = device;
  if (link->attachEvent) link->attachEvent->Signal();
  return s == wdu::status::kSuccess;
}

void UsbLink::OnUnitDetach(wdu::DeviceHandle device, void* userData) {
  auto* link = static_cast<UnitLinkRecord*>(userData);
  wdu::DeviceHandle stored = device;
  link->device.compare_exchange_strong(stored, nullptr);
}

std::uint32_t UsbLink::TransferPacket(const std::uint8_t* request, std::uint32_t length,
                                      std::uint8_t* reply, std::uint32_t replyLength) {
  // Throws away what the unit still had to say about an earlier request, so
  // that the reply read below is this request's own.
  if (drainBeforeNextWrite_) {
    drainBeforeNextWrite_ = false;
    DrainStaleReplies();
  }
  const wdu::DeviceHandle device = record_.device.load();
  std::uint32_t transferred = 0;
  // The layer only reads from the buffer of a write.
  wdu::Status s = wdu::WDU_PipeTransfer(device, kPipeToUnit, 0, 0, const_cast<std::uint8_t*>(request),
                                        length, &transferred, nullptr, options_.transferTimeoutMs);
  if (s != wdu::status::kSuccess) return 0;
  transferred = 0;
  s = wdu::WDU_PipeTransfer(device, kPipeFromUnit, 1, 0, reply, replyLength, &transferred, nullptr,
                            options_.transferTimeoutMs);
  if (s != wdu::status::kSuccess) return s;
  // A reply numbered otherwise is most likely a late answer to an earlier
  // request that landed during this read, with this request's own answer
  // queued behind it. The next request drains first; when nothing waits,
  // that costs one short read.
  if (length >= 2 && transferred >= 2 && reply[1] != request[1]) drainBeforeNextWrite_ = true;
  return transferred;
}

std::uint32_t UsbLink::ResetLinkPipe(std::uint8_t pipe) {
  const wdu::Status s = wdu::WDU_PipeReset(record_.device.load(), pipe);
  if (pipe == kPipeFromUnit) {
    // The IN pipe is reset after a failed exchange. An answer that waited
    // behind a stall, or that came just after the read gave up, is drained
    // now. One still on its way (a unit that answers half a second after
    // the time-out) would land after this drain and be read as the answer to
    // the next request, so the next request drains again first: by then it
    // has come.
    DrainStaleReplies();
    drainBeforeNextWrite_ = true;
  }
  return s;
}

void UsbLink::DrainStaleReplies() {
  const wdu::DeviceHandle device = record_.device.load();
  if (options_.drainReadMs == 0 || device == nullptr) return;
  // A reply waiting in the unit comes within a frame or two: a short read
  // bound is plenty, and a read that gets nothing means nothing waits.
  std::uint8_t scrap[512];
  const auto end = std::chrono::steady_clock::now() + kDrainLimit;
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    if (left.count() <= 0) return;
    std::uint32_t transferred = 0;
    const std::uint32_t bound =
        std::min<std::uint32_t>(options_.drainReadMs, static_cast<std::uint32_t>(left.count()));
    if (wdu::WDU_PipeTransfer(device, kPipeFromUnit, 1, 0, scrap, sizeof scrap, &transferred,
                              nullptr, bound) != wdu::status::kSuccess)
      return;
  }
}

void UsbLink::CloseUnit() {
  // The context and its event thread stay until the link goes: the close path
  // still sends its last packets after this.
}

namespace {

std::unique_ptr<IUnitLink> MakeStack(std::unique_ptr<wdu::DriverStandIn> driver,
                                     UsbLink::Options options) {
  auto stack = std::make_unique<UsbLinkStack>();
  stack->driver = std::move(driver);
  stack->runner = std::make_unique<PosixProcessRunner>();
  stack->link = std::make_unique<UsbLink>(*stack->driver, *stack->runner, std::move(options));
  return stack;
}

}  // namespace

std::unique_ptr<IUnitLink> MakeUsbLink(const std::string& programFolder, UsbIdPair unitIds) {
  UsbLink::Options options;
  options.programFolder = programFolder;
  options.unitIds = unitIds;
  return MakeStack(std::make_unique<wdu::LibusbStandIn>(), std::move(options));
}

std::unique_ptr<IUnitLink> MakeServiceUsbLink(UsbIdPair unitIds) {
  UsbLink::Options options;
  options.accessRuleNeeded = false;
  options.unitIds = unitIds;
  return MakeStack(std::make_unique<wdu::LibusbStandIn>(), std::move(options));
}

std::unique_ptr<IUnitLink> MakeStandInLink(std::unique_ptr<wdu::DriverStandIn> driver) {
  UsbLink::Options options;
  options.accessRuleNeeded = false;
  return MakeStack(std::move(driver), std::move(options));
}
