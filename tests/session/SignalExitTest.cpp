// SPDX-License-Identifier: GPL-3.0-or-later
// The -sim program ended the ways the system ends a program: each signal runs
// the close path once, the unit hears it, and the exit code is 0.

#include "ChildProgram.h"

#include <gtest/gtest.h>

#include <iostream>

namespace {

using namespace session_test;
using namespace std::chrono_literals;

class SimSignalExit : public ::testing::TestWithParam<int> {};

TEST_P(SimSignalExit, RunsTheClosePathOnceAndExitsWithZero) {
  const int signal = GetParam();
  const std::string scratch =
      std::string(VCC_SCRATCH_DIR) + "/signal_exit_test/" + std::to_string(signal);
  std::filesystem::remove_all(scratch);
  std::filesystem::create_directories(scratch);
  const std::string control = scratch + "/control";
  const std::string log = control + ".requests";

  ChildProgram program(VCC_SIM_PROGRAM, scratch, {"VCC_SIM_CONTROL=" + control});
  ASSERT_TRUE(program.Started());
  // Start-up reads the status once, the first poll 3 s later once more: from
  // then on the window is up and the unit has reported its hours.
  ASSERT_TRUE(WaitUntil([&] { return Count(ReadPacketLog(log), IsStatusRead) >= 2; }, 20s))
      << "the program did not poll";

  program.Signal(signal);
  const auto sent = Clock::now();
  const auto status = program.WaitForExit(10s);
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - sent).count();
  ASSERT_TRUE(status.has_value()) << "still running 10 s after signal " << signal;
  std::cout << "signal " << signal << " to exit: " << ms << " ms\n";
  ASSERT_TRUE(WIFEXITED(*status)) << "ended by a signal: " << WTERMSIG(*status);
  EXPECT_EQ(WEXITSTATUS(*status), 0);
  ExpectClosePathLast(ReadPacketLog(log));
}

INSTANTIATE_TEST_SUITE_P(Signals, SimSignalExit, ::testing::Values(SIGTERM, SIGINT, SIGHUP),
                         [](const auto& info) { return std::string(sigabbrev_np(info.param)); });

}  // namespace
