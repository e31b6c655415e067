// SPDX-License-Identifier: GPL-3.0-or-later
// The USB link over the driver layer, with a fake driver underneath: opening
// the unit, following its attach and detach, the two transfers of an
// exchange, and the access-rule installation.

#include "FakeDriver.h"

#include "device/FindUnit.h"
#include "device/UsbLink.h"
#include "device/wdu/DevList.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

using namespace wdutest;
namespace fs = std::filesystem;

namespace {

class RecordingRunner : public IProcessRunner {
 public:
  struct Run {
    std::string program;
    std::vector<std::string> arguments;
  };
  std::vector<Run> runs;
  bool RunAndWait(const std::string& program, const std::vector<std::string>& arguments) override {
    runs.push_back({program, arguments});
    return true;
  }
};

class ScratchFolder {
 public:
  ScratchFolder() {
    char name[] = "/tmp/vcc-usblink-XXXXXX";
    path_ = ::mkdtemp(name);
  }
  ~ScratchFolder() { fs::remove_all(path_); }
  std::string Path() const { return path_.string() + "/"; }

 private:
  fs::path path_;
};

class Link : public ::testing::Test {
 protected:
  FakeUnitDriver unit;
  RecordingRunner runner;
  std::unique_ptr<UsbLink> link;
  UsbLink::Options options;

  void SetUp() override {
    options.programFolder = "/opt/vcc/";
    options.ruleFolders = {};
    options.runningAsRoot = [] { return false; };
    options.attachWait = std::chrono::milliseconds(300);
    // The fake answers every read, as no unit does unasked; the drain has a
    // case of its own.
    options.drainReadMs = 0;
    MakeLink();
  }
  void MakeLink() { link = std::make_unique<UsbLink>(unit, runner, options); }
  void TearDown() override {
    link.reset();
    EXPECT_EQ(wdu::WDU_OpenContextCount(), 0);
  }

  std::uint32_t Exchange(std::uint8_t number, std::uint8_t* reply) {
    const std::uint8_t request[3] = {0x01, number, 0x04};
    return link->TransferPacket(request, 3, reply, 88);
  }
};

std::vector<std::uint8_t> Reply(std::uint8_t number) {
  std::vector<std::uint8_t> r(28, 0);
  r[0] = 0x01;
  r[1] = number;
  r[2] = 0x02;
  r[27] = 0x04;
  return r;
}

// --- Opening the unit

TEST_F(Link, OpensAUnitThatIsAlreadyPluggedInAndSelectsInterfaceZero) {
  const std::uint32_t id = unit.Plug(UnitVendorId, UnitProductId);
  ASSERT_TRUE(link->OpenUnit());
  ASSERT_NE(link->CurrentDevice(), nullptr);
  const auto selects = unit.Selects();
  ASSERT_EQ(selects.size(), 1u);
  EXPECT_EQ(selects[0].uniqueId, id);
  EXPECT_EQ(selects[0].interfaceNumber, 0u);
  EXPECT_EQ(selects[0].alternateSetting, 0u);
}

TEST_F(Link, FailsWhenNoUnitAttachesInTimeAndClosesTheContext) {
  unit.Plug(0x1209, 0x0002);  // not the unit
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(link->OpenUnit());
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(290));
  EXPECT_EQ(wdu::WDU_OpenContextCount(), 0);
  EXPECT_EQ(unit.RegistrationCount(), 0);
  std::uint8_t reply[100] = {};
  EXPECT_EQ(Exchange(1, reply), 0u);
}

TEST_F(Link, TheUsersOwnPairIsTheOnlyOneTaken) {
  options.unitIds = {0xabcd, 0x1234};
  MakeLink();
  unit.Plug(UnitVendorId, UnitProductId);  // the default pair is not looked for now
  const std::uint32_t own = unit.Plug(0xabcd, 0x1234);
  ASSERT_TRUE(link->OpenUnit());
  const auto selects = unit.Selects();
  ASSERT_EQ(selects.size(), 1u);
  EXPECT_EQ(selects[0].uniqueId, own);
  ASSERT_TRUE(link->UnitIds());
  EXPECT_EQ(*link->UnitIds(), (UsbIdPair{0xabcd, 0x1234}));
}

TEST_F(Link, FailsForAUnitWhoseFirstInterfaceIsNotZero) {
  unit.Plug(UnitVendorId, UnitProductId, /*interfaceNumber=*/1);
  EXPECT_FALSE(link->OpenUnit());
  EXPECT_TRUE(unit.Selects().empty());
}

TEST_F(Link, FailsWhenTheInterfaceCannotBeSelected) {
  unit.selectStatus = wdu::status::kBusy;
  unit.Plug(UnitVendorId, UnitProductId);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(link->OpenUnit());
  // The attach signals the failure at once; nobody waits out the bound.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(250));
  EXPECT_EQ(link->CurrentDevice(), nullptr);
  EXPECT_EQ(wdu::DevListSize(), 0u);
}

TEST_F(Link, ASecondUnitIsRefusedAndLeftUntouched) {
  unit.Plug(UnitVendorId, UnitProductId);
  ASSERT_TRUE(link->OpenUnit());
  const wdu::DeviceHandle first = link->CurrentDevice();
  const std::uint32_t second = unit.Plug(UnitVendorId, UnitProductId);
  ASSERT_TRUE(Eventually([&] { return unit.Released().size() == 1; }));
  EXPECT_EQ(unit.Released().at(0), second);
  EXPECT_EQ(unit.Selects().size(), 1u);
  EXPECT_EQ(link->CurrentDevice(), first);
  // Unplugging the refused unit does not disturb the link either.
  unit.Unplug(second);
  std::uint8_t reply[100] = {};
  EXPECT_EQ(Exchange(1, reply), 28u);
}

// --- Exchanges, unplugging and plugging back

TEST_F(Link, AnExchangeWritesThenReadsOnTheUnitsPipes) {
  unit.answerRead = [](std::vector<std::uint8_t>& reply) {
    reply = Reply(1);
    return wdu::Status{0};
  };
  unit.Plug(UnitVendorId, UnitProductId);
  ASSERT_TRUE(link->OpenUnit());
  std::uint8_t reply[100] = {};
  EXPECT_EQ(Exchange(1, reply), 28u);
  EXPECT_EQ(reply[1], 1);
  const auto transfers = unit.Transfers();
  ASSERT_EQ(transfers.size(), 2u);
  EXPECT_EQ(transfers[0].pipe, 0x02u);
  EXPECT_EQ(transfers[0].read, 0u);
  EXPECT_EQ(transfers[0].data, (std::vector<std::uint8_t>{1, 1, 4}));
  EXPECT_EQ(transfers[0].timeoutMs, 3000u);
  EXPECT_EQ(transfers[1].pipe, 0x81u);
  EXPECT_EQ(transfers[1].read, 1u);
  EXPECT_EQ(transfers[1].size, 88u);
  EXPECT_EQ(transfers[1].timeoutMs, 3000u);
}

TEST_F(Link, AFailedWriteGivesZeroAndAFailedReadGivesItsStatus) {
  unit.Plug(UnitVendorId, UnitProductId);
  ASSERT_TRUE(link->OpenUnit());
  std::uint8_t reply[100] = {};
  unit.answerRead = [](std::vector<std::uint8_t>& r) {
    r.clear();
    return wdu::status::kTimeoutExpired;
  };
  EXPECT_EQ(Exchange(1, reply), wdu::status::kTimeoutExpired);
  unit.writeStatus = wdu::status::kPipeStalled;
  EXPECT_EQ(Exchange(1, reply), 0u);
  EXPECT_EQ(unit.Transfers().size(), 3u);  // no read after the failed write

  EXPECT_EQ(link->ResetLinkPipe(0x02), 0u);
  EXPECT_EQ(link->ResetLinkPipe(0x81), 0u);
  EXPECT_EQ(unit.Resets().size(), 2u);
  EXPECT_EQ(unit.Resets()[1].second, 0x81u);
}

TEST_F(Link, ThrowingAwayStaleRepliesStopsAtItsLimitWhenTheUnitKeepsTalking) {
  options.drainReadMs = 30;
  MakeLink();
  unit.Plug(UnitVendorId, UnitProductId);
  const auto timed = [](const std::function<void()>& step) {
    const auto start = std::chrono::steady_clock::now();
    step();
    return std::chrono::steady_clock::now() - start;
  };
  EXPECT_LT(timed([&] { ASSERT_TRUE(link->OpenUnit()); }), std::chrono::milliseconds(400));
  EXPECT_LT(timed([&] { link->ResetLinkPipe(0x81); }), std::chrono::milliseconds(400));
  std::uint8_t reply[100] = {};
  EXPECT_LT(timed([&] { EXPECT_EQ(Exchange(1, reply), 28u); }), std::chrono::milliseconds(400));
  const auto transfers = unit.Transfers();
  EXPECT_GT(transfers.size(), 3u);
  EXPECT_EQ(transfers[transfers.size() - 2].pipe, 0x02u);  // the request still goes out
}

TEST_F(Link, UnpluggedTransfersFailAndAReplugResumesWithInterfaceZeroSelectedAnew) {
  const std::uint32_t first = unit.Plug(UnitVendorId, UnitProductId);
  ASSERT_TRUE(link->OpenUnit());
  std::uint8_t reply[100] = {};
  ASSERT_EQ(Exchange(1, reply), 28u);

  unit.Unplug(first);
  ASSERT_TRUE(Eventually([&] { return link->CurrentDevice() == nullptr; }));
  const std::size_t transfersBefore = unit.Transfers().size();
  EXPECT_EQ(Exchange(1, reply), 0u);
  EXPECT_EQ(Exchange(7, reply), 0u);
  EXPECT_EQ(link->ResetLinkPipe(0x02), wdu::status::kDeviceNotFound);
  EXPECT_EQ(unit.Transfers().size(), transfersBefore);  // the driver was not bothered

  const std::uint32_t again = unit.Plug(UnitVendorId, UnitProductId);
  ASSERT_TRUE(Eventually([&] { return link->CurrentDevice() != nullptr; }));
  EXPECT_EQ(Exchange(1, reply), 28u);
  const auto selects = unit.Selects();
  ASSERT_EQ(selects.size(), 2u);
  EXPECT_EQ(selects[1].uniqueId, again);
  EXPECT_EQ(selects[1].interfaceNumber, 0u);
}

TEST_F(Link, OpeningAgainReplacesTheEarlierContext) {
  unit.Plug(UnitVendorId, UnitProductId);
  ASSERT_TRUE(link->OpenUnit());
  ASSERT_TRUE(link->OpenUnit());
  EXPECT_EQ(wdu::WDU_OpenContextCount(), 1);
  EXPECT_EQ(unit.RegistrationCount(), 1);
}

// --- The access rule and its installer

TEST_F(Link, NothingIsInstalledWhenARuleIsInPlaceOrForRoot) {
  ScratchFolder rules;
  std::ofstream(rules.Path() + kAccessRuleFileName) << "\n";
  options.ruleFolders = {"/nonexistent/", rules.Path()};
  MakeLink();
  EXPECT_TRUE(link->InstallDriverIfMissing());

  options.ruleFolders = {};
  options.runningAsRoot = [] { return true; };
  MakeLink();
  EXPECT_TRUE(link->InstallDriverIfMissing());
  EXPECT_TRUE(runner.runs.empty());
}

TEST_F(Link, AMissingRuleRunsTheInstallerFromTheProgramFolder) {
  options.programFolder = "/opt/my \"vcc\" dir";  // blanks and quotes, no separator
  MakeLink();
  EXPECT_FALSE(link->InstallDriverIfMissing());
  ASSERT_EQ(runner.runs.size(), 1u);
  EXPECT_EQ(runner.runs[0].program, "/opt/my \"vcc\" dir/wdreg");
  EXPECT_EQ(runner.runs[0].arguments,
            (std::vector<std::string>{"-inf", "/opt/my \"vcc\" dir/70-vornalith-unit.rules",
                                      "-silent", "install"}));
}

TEST_F(Link, TheUsersOwnPairNeedsARuleOfItsOwnAndAsksTheInstallerForIt) {
  ScratchFolder rules;
  std::ofstream(rules.Path() + kAccessRuleFileName) << "\n";  // the packaged rule only
  options.ruleFolders = {rules.Path()};
  options.unitIds = {0xABCD, 0x1234};
  MakeLink();
  EXPECT_FALSE(link->InstallDriverIfMissing());
  ASSERT_EQ(runner.runs.size(), 1u);
  EXPECT_EQ(runner.runs[0].arguments,
            (std::vector<std::string>{"-inf", "/opt/vcc/70-vornalith-unit.rules", "-unit-id",
                                      "abcd:1234", "-silent", "install"}));

  std::ofstream(rules.Path() + "70-vornalith-unit-abcd-1234.rules") << "\n";
  EXPECT_TRUE(link->InstallDriverIfMissing());
  EXPECT_EQ(runner.runs.size(), 1u);
}

TEST(UnitUsbId, OnlyFourHexDigitsAColonAndFourMoreAreAPair) {
  const struct {
    const char* text;
    std::optional<UsbIdPair> ids;
  } cases[] = {
      {"1209:0001", UsbIdPair{0x1209, 0x0001}},
      {"ABcd:fFfF", UsbIdPair{0xabcd, 0xffff}},
      {"1209:0000", UsbIdPair{0x1209, 0x0000}},
      {"0000:0001", std::nullopt},  // no vendor: would widen the match
      {"1209:001", std::nullopt},
      {"12090:0001", std::nullopt},
      {"1209-0001", std::nullopt},
      {"0x1209:0x0001", std::nullopt},
      {"1209:000g", std::nullopt},
      {" 1209:0001", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(ParseUnitUsbId(c.text), c.ids) << c.text;
  EXPECT_EQ(FormatUnitUsbId({0xABCD, 0x0012}), "abcd:0012");
  EXPECT_EQ(AccessRuleFileNameFor(UnitUsbIds), kAccessRuleFileName);
}

TEST(FindUnit, MarksOnlyTheFirstDeviceWithThePairLookedFor) {
  std::vector<UnitCandidate> found(3);
  found[0].ids = {0x1111, 0x2222};
  found[1].ids = {0xabcd, 0x1234};
  found[1].ports = "2";
  found[1].product = "Cooler";
  found[1].access = UnitCandidate::Access::Denied;
  found[2].ids = {0xabcd, 0x1234};
  found[2].ports = "3";
  const std::string text = DescribeUnitCandidates(found, {0xabcd, 0x1234});
  EXPECT_NE(text.find("* abcd:1234  bus 0 port 2  \"Cooler\"  you may not open it"), std::string::npos)
      << text;
  EXPECT_NE(text.find("  abcd:1234  bus 0 port 3"), std::string::npos) << text;
  EXPECT_EQ(text.find("<-"), text.rfind("<-")) << text;
  EXPECT_NE(DescribeUnitCandidates(found, {0x1209, 0x0001}).find("None of them"), std::string::npos);
}

// The shipped rule and installer, from the source tree.

std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// The rule as built, for the pair the build was given.
#ifndef VCC_ACCESS_RULE
#define VCC_ACCESS_RULE VCC_SOURCE_DIR "/data/udev/70-vornalith-unit.rules"
#endif

TEST(AccessRule, GrantsTheSeatUserAccessToTheUnitsIdsAndNothingMore) {
  const std::string rule = ReadFile(VCC_ACCESS_RULE);
  ASSERT_FALSE(rule.empty());
  char ids[64];
  std::snprintf(ids, sizeof ids, "ATTR{idVendor}==\"%04x\", ATTR{idProduct}==\"%04x\"", UnitVendorId,
                UnitProductId);
  EXPECT_NE(rule.find(ids), std::string::npos) << rule;
  EXPECT_NE(rule.find("TAG+=\"uaccess\""), std::string::npos);
  EXPECT_EQ(rule.find("MODE"), std::string::npos);  // never a world-writable mode
}

class Installer : public ::testing::Test {
 protected:
  ScratchFolder scratch;
  // Beside the rule as built: the installer installs the rule beside it.
  std::string script = fs::path(VCC_ACCESS_RULE).parent_path() / "wdreg";
  std::string log;

  // A pkexec on PATH that only writes down what it was asked to run.
  void SetUp() override {
    log = scratch.Path() + "pkexec.log";
    const std::string stub = scratch.Path() + "pkexec";
    std::ofstream(stub) << "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > '" << log
                        << "'\n";
    ::chmod(stub.c_str(), 0755);
    const char* path = std::getenv("PATH");
    ::setenv("PATH", (scratch.Path() + ":" + (path ? path : "/usr/bin:/bin")).c_str(), 1);
    ::setenv("VCC_INSTALLER_AS_USER", "1", 1);
  }
  void TearDown() override { ::unsetenv("VCC_INSTALLER_AS_USER"); }
};

TEST_F(Installer, AsksPkexecToRunTheInstallerItselfWithTheRuleAsOneArgument) {
  const std::string folder = scratch.Path() + "my rules/";
  fs::create_directories(folder);
  fs::copy_file(script, folder + "wdreg");
  fs::copy_file(VCC_ACCESS_RULE, folder + kAccessRuleFileName);
  const std::string rule = folder + kAccessRuleFileName;
  PosixProcessRunner runner;
  ASSERT_TRUE(runner.RunAndWait(folder + "wdreg",
                                {"-inf", rule, "-unit-id", "ABCD:1234", "-silent", "install"}));
  // pkexec picks the polkit action, and so the prompt's text, by this path.
  EXPECT_EQ(ReadFile(log), fs::canonical(folder + "wdreg").string() + "\n-inf\n" +
                               fs::canonical(rule).string() +
                               "\n-unit-id\nabcd:1234\n-silent\ninstall\n");
}

// VCC_WDREG_ROOT: the installer's own work, under a scratch folder, with a
// udevadm that writes down what it was asked.
class InstallerAtWork : public Installer {
 protected:
  std::string root = scratch.Path() + "root";
  std::string rules = root + "/etc/udev/rules.d/";
  std::string udevLog = scratch.Path() + "udevadm.log";
  std::string rule = std::string(VCC_ACCESS_RULE);

  void SetUp() override {
    Installer::SetUp();
    std::ofstream(scratch.Path() + "udevadm")
        << "#!/bin/sh\necho \"$*\" >> '" << udevLog << "'\n";
    ::chmod((scratch.Path() + "udevadm").c_str(), 0755);
    ::setenv("VCC_WDREG_ROOT", root.c_str(), 1);
  }
  void TearDown() override {
    ::unsetenv("VCC_WDREG_ROOT");
    Installer::TearDown();
  }
  int Run(const std::string& arguments) {
    const int status = std::system(("'" + script + "' " + arguments + " 2>/dev/null").c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
};

TEST_F(InstallerAtWork, TheUsersPairGetsARuleOfItsOwnAndUdevIsWaitedFor) {
  ASSERT_EQ(Run("-inf '" + rule + "' -unit-id ABCD:12ef -silent install"), 0);
  std::string expected = ReadFile(rule);
  char ids[64];
  std::snprintf(ids, sizeof ids, "ATTR{idVendor}==\"%04x\", ATTR{idProduct}==\"%04x\"", UnitVendorId,
                UnitProductId);
  expected.replace(expected.find(ids), std::strlen(ids),
                   "ATTR{idVendor}==\"abcd\", ATTR{idProduct}==\"12ef\"");
  EXPECT_EQ(ReadFile(rules + "70-vornalith-unit-abcd-12ef.rules"), expected);
  EXPECT_FALSE(fs::exists(rules + kAccessRuleFileName));  // the packaged rule is not touched
  EXPECT_FALSE(fs::exists(log));                          // nobody asked for a password
  EXPECT_EQ(ReadFile(udevLog),
            "control --reload\ntrigger --action=add --subsystem-match=usb\nsettle --timeout=10\n");

  ASSERT_EQ(Run("-inf '" + rule + "' -silent install"), 0);
  EXPECT_EQ(ReadFile(rules + kAccessRuleFileName), ReadFile(rule));
}

TEST_F(InstallerAtWork, AMalformedPairIsRefusedBeforeAnythingIsWritten) {
  for (const char* ids : {"abcd", "abcd:123", "abcd:12345", "0000:0001", "ab;d:1234", "x/yz:1234",
                          "abcd:1234 x", "-abc:1234", "abcd:1234\nRUN+=\"/bin/touch /tmp/x\""}) {
    EXPECT_EQ(Run("-inf '" + rule + "' -unit-id '" + ids + "' -silent install"), 2) << ids;
  }
  // A value that is the next option, or none at all.
  EXPECT_EQ(Run("-inf '" + rule + "' -unit-id -silent install"), 2);
  EXPECT_EQ(Run("-inf '" + rule + "' -silent install -unit-id"), 2);
  EXPECT_FALSE(fs::exists(root));
  EXPECT_FALSE(fs::exists(udevLog));
  EXPECT_FALSE(fs::exists(log));
}

// Whoever may run the installer must not choose what root copies into udev's
// rules: -inf may only name the packaged rule.
TEST_F(InstallerAtWork, InstallsNoFileButItsOwnRule) {
  const std::string other = scratch.Path() + "elsewhere/";
  fs::create_directories(other);
  std::ofstream(other + kAccessRuleFileName) << "RUN+=\"/bin/touch /tmp/x\"\n";
  for (const std::string& inf : {std::string("/etc/shadow"), other + kAccessRuleFileName,
                                 std::string(kAccessRuleFileName), std::string("-silent")})
    EXPECT_EQ(Run("-inf '" + inf + "' -silent install"), 2) << inf;
  EXPECT_EQ(Run("-inf '" + rule + "' -silent install uninstall"), 2);
  EXPECT_EQ(Run("-inf '" + rule + "' -silent install extra"), 2);
  EXPECT_FALSE(fs::exists(root));
  EXPECT_FALSE(fs::exists(udevLog));
}

TEST_F(InstallerAtWork, ReplacesALinkAtTheTargetRatherThanWritingThroughIt) {
  const std::string other = scratch.Path() + "elsewhere";
  fs::create_directories(other);
  fs::create_directories(rules);
  fs::create_directory_symlink(other, rules + kAccessRuleFileName);
  fs::create_directory_symlink(other, rules + "70-vornalith-unit-abcd-0001.rules");
  ASSERT_EQ(Run("-inf '" + rule + "' -silent install"), 0);
  ASSERT_EQ(Run("-inf '" + rule + "' -unit-id abcd:0001 -silent install"), 0);
  EXPECT_TRUE(fs::is_empty(other));
  for (const char* name : {kAccessRuleFileName, "70-vornalith-unit-abcd-0001.rules"}) {
    const auto status = fs::symlink_status(rules + name);
    EXPECT_EQ(status.type(), fs::file_type::regular) << name;
    EXPECT_EQ(status.permissions() & fs::perms::mask, fs::perms(0644)) << name;
  }
}

// A run that pkexec started writes to the real rules folder whatever the
// test root says, and only as root.
TEST_F(InstallerAtWork, APkexecRunIgnoresTheTestRoot) {
  if (::geteuid() == 0) GTEST_SKIP() << "as root this would write /etc/udev/rules.d";
  ::setenv("PKEXEC_UID", "1000", 1);
  EXPECT_EQ(Run("-inf '" + rule + "' -silent install"), 1);
  ::unsetenv("PKEXEC_UID");
  EXPECT_FALSE(fs::exists(root));
}

TEST_F(Installer, AskingWithoutARuleFileAsksForNothing) {
  PosixProcessRunner runner;
  ASSERT_TRUE(runner.RunAndWait(script, {"-inf", scratch.Path() + "missing.rules", "-silent", "install"}));
  EXPECT_FALSE(fs::exists(log));
  EXPECT_FALSE(runner.RunAndWait(scratch.Path() + "no-such-program", {}));
}

}  // namespace
