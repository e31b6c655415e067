// SPDX-License-Identifier: GPL-3.0-or-later
// The program binary against an emulated unit whose USB ids are not the
// built-in pair: named by --unit-id or by the "Unit USB id" setting it is
// found and polled, --find-unit lists and marks it without a display, and a
// malformed pair ends the start with exit code 2 before anything is stored.

#include "EmulatedUnit.h"

#include "SimulatedUnit.h"
#include "device/UsbLink.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;
namespace fs = std::filesystem;

namespace {

constexpr std::uint16_t kVendor = 0xabcd, kProduct = 0x12ef;

std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// The program in a scratch home of its own, its output kept in files.
class Program {
 public:
  Program(const std::string& name, std::vector<std::string> args, bool display = true)
      : scratch_(std::string(VCC_SCRATCH_DIR) + "/emulated_unit_id_test/" + name) {
    fs::remove_all(scratch_);
    for (const char* dir : {"config/quelmark", "state", "runtime"}) fs::create_directories(scratch_ + "/" + dir);
    fs::permissions(scratch_ + "/runtime", fs::perms::owner_all);
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e)
      if (std::string(*e).rfind("DISPLAY=", 0) && std::string(*e).rfind("WAYLAND_DISPLAY=", 0) &&
          std::string(*e).rfind("QT_QPA_PLATFORM=", 0))
        env.emplace_back(*e);
    // Without a display a QApplication would end the program at once.
    env.push_back(display ? "QT_QPA_PLATFORM=offscreen" : "QT_QPA_PLATFORM=xcb");
    env.push_back("XDG_CONFIG_HOME=" + scratch_ + "/config");
    env.push_back("XDG_STATE_HOME=" + scratch_ + "/state");
    env.push_back("XDG_RUNTIME_DIR=" + scratch_ + "/runtime");
    env_ = std::move(env);
    args_ = std::move(args);
  }
  ~Program() { Stop(); }

  std::string SettingsFile() const { return scratch_ + "/config/quelmark/tessalinique.conf"; }
  std::string Output() const { return ReadFile(scratch_ + "/out"); }

  void Start() {
    std::vector<char*> envp, argv{const_cast<char*>(VCC_PROGRAM)};
    for (auto& e : env_) envp.push_back(e.data());
    envp.push_back(nullptr);
    for (auto& a : args_) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, (scratch_ + "/out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    if (posix_spawn(&pid_, VCC_PROGRAM, &actions, nullptr, argv.data(), envp.data()) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
  }
  // The exit code, or -1 when it had to be killed after `limit`.
  int Wait(std::chrono::seconds limit = std::chrono::seconds(10)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (pid_ > 0 && std::chrono::steady_clock::now() < deadline) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    Stop();
    return -1;
  }
  bool Running() {
    return pid_ > 0 && waitpid(pid_, nullptr, WNOHANG) == 0;
  }
  void Stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }
  // A file or folder the start left in its scratch home.
  bool LeftAnything() const {
    for (const char* dir : {"config/quelmark", "state"})
      if (!fs::is_empty(scratch_ + "/" + dir)) return true;
    return false;
  }

 private:
  std::string scratch_;
  std::vector<std::string> env_, args_;
  pid_t pid_ = -1;
};

class EmulatedUnitId : public ::testing::Test {
 protected:
  unitsim::SimulatedUnit model{5};
  std::unique_ptr<EmulatedUnit> bench;

  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "needs root, so that no access rule is asked for";
    model.Advance(400);
    bench = std::make_unique<EmulatedUnit>(model);
  }

  // Start-up reads four blocks and writes the fan block; the first poll tick
  // writes line 2 and reads the status: seven exchanges of two transfers.
  void ExpectPolled(Program& program) {
    program.Start();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (std::chrono::steady_clock::now() < deadline && program.Running() &&
           bench->SeenOn(bench->UnitNode()).submitted < 14)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_TRUE(program.Running()) << "the program ended (no unit found?)\n" << program.Output();
    EXPECT_GE(bench->SeenOn(bench->UnitNode()).submitted, 14);
  }
};

TEST_F(EmulatedUnitId, ThePairOnTheCommandLineWinsOverTheSettingAndIsPolled) {
  bench->PlugInAnother(UnitVendorId, UnitProductId);  // the built-in pair, answering nothing
  bench->PlugIn(kVendor, kProduct);
  Program program("command-line", {"--unit-id", "ABCD:12EF"});
  std::ofstream(program.SettingsFile()) << "[General]\nUnit%20USB%20id=sz:1111:2222\n";
  ExpectPolled(program);
  EXPECT_EQ(bench->SeenOn(bench->AnotherNode()).submitted, 0);
  program.Stop();
  EXPECT_EQ(ReadFile(program.SettingsFile()).find("abcd"), std::string::npos);  // never stored
}

TEST_F(EmulatedUnitId, ThePairInTheSettingsFileIsPolled) {
  bench->PlugIn(kVendor, kProduct);
  Program program("setting", {});
  std::ofstream(program.SettingsFile()) << "[General]\nUnit%20USB%20id=sz:abcd:12ef\n";
  ExpectPolled(program);
}

TEST_F(EmulatedUnitId, FindUnitListsTheEmulatedUnitAndMarksItWithoutADisplay) {
  bench->PlugInAnother(UnitVendorId, UnitProductId);
  bench->PlugIn(kVendor, kProduct);
  Program program("find-unit", {"--find-unit", "--unit-id=abcd:12ef"}, /*display=*/false);
  program.Start();
  ASSERT_EQ(program.Wait(), 0) << program.Output();
  const std::string out = program.Output();
  EXPECT_NE(out.find("* abcd:12ef  bus 1 port 3  \"Emulated cooling unit\"  you may open it  <- used by this program"),
            std::string::npos) << out;
  EXPECT_NE(out.find("  1209:0001  bus 1 port 2  \"Another device\""), std::string::npos) << out;
  EXPECT_FALSE(program.LeftAnything());
  EXPECT_EQ(bench->SeenOn(bench->UnitNode()).claimed.size(), 0u);  // looked at, never taken
}

TEST_F(EmulatedUnitId, AMalformedPairEndsTheStartWithExitCode2AndStoresNothing) {
  bench->PlugIn(UnitVendorId, UnitProductId);
  for (const char* id : {"12:34", "1209:00012", "1209-0001", "0000:0001", ""}) {
    Program program("malformed", {"--unit-id", id}, /*display=*/false);
    program.Start();
    EXPECT_EQ(program.Wait(), 2) << id;
    EXPECT_NE(program.Output().find("VVVV:PPPP"), std::string::npos) << program.Output();
    EXPECT_FALSE(program.LeftAnything()) << id;
  }
  Program program("malformed-setting", {}, /*display=*/false);
  const std::string settings = "[General]\nUnit%20USB%20id=sz:unit 7\n";
  std::ofstream(program.SettingsFile()) << settings;
  program.Start();
  EXPECT_EQ(program.Wait(), 2);
  EXPECT_NE(program.Output().find("\"Unit USB id\""), std::string::npos) << program.Output();
  EXPECT_EQ(ReadFile(program.SettingsFile()), settings);
  EXPECT_EQ(bench->SeenOn(bench->UnitNode()).submitted, 0);
}

}  // namespace

int main(int argc, char** argv) {
  RunUnderUmockdev(argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
