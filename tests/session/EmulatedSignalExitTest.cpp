// SPDX-License-Identifier: GPL-3.0-or-later
// The real program, vornalith-control-centre, against the unit emulated by
// umockdev, ended by the signals the system ends it with; and ended while the
// box that says no unit was found is open.

#include "ChildProgram.h"
#include "EmulatedUnit.h"

#include "SimulatedUnit.h"
#include "device/UsbLink.h"

#include <gtest/gtest.h>

#include <iostream>

namespace {

using namespace session_test;
using namespace std::chrono_literals;

std::string Scratch(const std::string& name) {
  const std::string path = std::string(VCC_SCRATCH_DIR) + "/emulated_signal_exit_test/" + name;
  std::filesystem::remove_all(path);
  return path;
}

using Recorder = RequestRecorder;

class EmulatedSignalExit : public ::testing::TestWithParam<int> {
 protected:
  void SetUp() override {
    // Anyone else would be asked for the access rule through pkexec.
    if (geteuid() != 0) GTEST_SKIP() << "needs root, so that no access rule is asked for";
  }
};

TEST_P(EmulatedSignalExit, RunsTheClosePathOnceAndExitsWithZero) {
  const int signal = GetParam();
  unitsim::SimulatedUnit model(7);
  model.Advance(400);  // past its boot delay
  Recorder recorder(model);
  EmulatedUnit bench(model);
  bench.PlugIn(UnitVendorId, UnitProductId);

  ChildProgram program(VCC_PROGRAM, Scratch(sigabbrev_np(signal)));
  ASSERT_TRUE(program.Started());
  ASSERT_TRUE(WaitUntil([&] { return Count(recorder.Requests(), IsStatusRead) >= 2; }, 20s))
      << "the program did not poll";

  program.Signal(signal);
  const auto sent = Clock::now();
  const auto status = program.WaitForExit(15s);
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - sent).count();
  ASSERT_TRUE(status.has_value()) << "still running 15 s after signal " << signal;
  std::cout << "signal " << signal << " to exit: " << ms << " ms\n";
  ASSERT_TRUE(WIFEXITED(*status)) << "ended by a signal: " << WTERMSIG(*status);
  EXPECT_EQ(WEXITSTATUS(*status), 0);
  ExpectClosePathLast(recorder.Requests());
}

INSTANTIATE_TEST_SUITE_P(Signals, EmulatedSignalExit, ::testing::Values(SIGTERM, SIGINT, SIGHUP),
                         [](const auto& info) { return std::string(sigabbrev_np(info.param)); });

TEST(EmulatedSignalExitUnderABox, EndsWithinTwoSecondsWithZero) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root, so that no access rule is asked for";
  unitsim::SimulatedUnit model(7);
  EmulatedUnit bench(model);  // nothing plugged in

  ChildProgram program(VCC_PROGRAM, Scratch("box"));
  ASSERT_TRUE(program.Started());
  // The program waits 3 s for a unit, then shows its modal box and stays.
  ASSERT_FALSE(program.WaitForExit(6s).has_value()) << "ended without waiting for the box";

  program.Signal(SIGTERM);
  const auto status = program.WaitForExit(2s);
  ASSERT_TRUE(status.has_value()) << "the box kept the program alive";
  ASSERT_TRUE(WIFEXITED(*status));
  EXPECT_EQ(WEXITSTATUS(*status), 0);
}

}  // namespace

int main(int argc, char** argv) {
  RunUnderUmockdev(argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
