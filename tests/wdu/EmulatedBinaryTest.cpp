// SPDX-License-Identifier: GPL-3.0-or-later
// The installed program itself, vornalith-control-centre, started by this
// harness against the emulated unit: umockdev hands the child's usbfs requests
// to the unit emulated here, so the program polls it as it would a unit on
// the cable.

#include "EmulatedUnit.h"

#include "SimulatedUnit.h"
#include "device/UsbLink.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

class Child {
 public:
  explicit Child(const std::string& program, const std::string& scratch) {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) env.emplace_back(*e);
    env.push_back("QT_QPA_PLATFORM=offscreen");
    for (const char* dir : {"config", "state", "runtime"}) {
      const std::string path = scratch + "/" + dir;
      std::filesystem::create_directories(path);
      std::filesystem::permissions(path, std::filesystem::perms::owner_all);
    }
    env.push_back("XDG_CONFIG_HOME=" + scratch + "/config");
    env.push_back("XDG_STATE_HOME=" + scratch + "/state");
    env.push_back("XDG_RUNTIME_DIR=" + scratch + "/runtime");
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    char* argv[] = {const_cast<char*>(program.c_str()), nullptr};
    if (posix_spawn(&pid_, program.c_str(), nullptr, nullptr, argv, envp.data()) != 0) pid_ = -1;
  }
  ~Child() { Stop(); }
  bool Started() const { return pid_ > 0; }
  bool Running() {
    if (pid_ <= 0) return false;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      return false;
    }
    return true;
  }
  void Stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    for (int i = 0; i < 300 && Running(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
      pid_ = -1;
    }
  }

 private:
  pid_t pid_ = -1;
};

TEST(EmulatedBinary, TheProgramPollsTheEmulatedUnit) {
  // As anyone else the program would ask for the access rule to be installed
  // through pkexec; tests never do that.
  if (geteuid() != 0) GTEST_SKIP() << "needs root, so that no access rule is asked for";
  unitsim::SimulatedUnit model(3);
  model.Advance(400);
  EmulatedUnit bench(model);
  bench.PlugIn(UnitVendorId, UnitProductId);

  const std::string scratch = std::string(VCC_SCRATCH_DIR) + "/emulated_binary_test";
  std::filesystem::remove_all(scratch);
  Child program(VCC_PROGRAM, scratch);
  ASSERT_TRUE(program.Started());

  // Start-up reads four blocks and writes the fan block; the first poll tick,
  // 3 s later, writes display line 2 and reads the status: seven exchanges of
  // two transfers each.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
  while (std::chrono::steady_clock::now() < deadline && program.Running() &&
         bench.SeenOn(bench.UnitNode()).submitted < 14)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  const auto seen = bench.SeenOn(bench.UnitNode());
  EXPECT_TRUE(program.Running()) << "the program ended (no unit found?)";
  EXPECT_GE(seen.submitted, 14);
  EXPECT_EQ(seen.claimed, std::vector<unsigned>{0});
  EXPECT_NE(model.FrontPanelLine(2), std::string(16, '\0'));
  program.Stop();
}

}  // namespace

int main(int argc, char** argv) {
  RunUnderUmockdev(argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
