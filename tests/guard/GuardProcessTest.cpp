// SPDX-License-Identifier: GPL-3.0-or-later
// The guard program against the unit emulated by umockdev, as systemd runs
// it: ready at once, alive after every poll and silent when it hangs, the
// unit watched as the window watches it, the close path at its stop.

#include "EmulatedUnit.h"
#include "GuardHarness.h"

#include "device/UsbLink.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <iostream>

namespace {

using namespace guard_test;
using namespace std::chrono_literals;

std::string Trimmed(std::string text) {
  while (!text.empty() && (text.back() == ' ' || text.back() == '\0')) text.pop_back();
  return text;
}

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

std::vector<Clock::time_point> StatusReadTimes(const RequestRecorder& recorder) {
  const auto requests = recorder.Requests();
  const auto times = recorder.Times();
  std::vector<Clock::time_point> reads;
  for (std::size_t i = 0; i < requests.size(); ++i)
    if (IsStatusRead(requests[i])) reads.push_back(times[i]);
  return reads;
}

TEST(GuardProcess, WaitsForTheUnitWatchesItPingsAfterEveryPollAndClosesOnStop) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root: the emulated unit's node is root's";
  unitsim::SimulatedUnit model(11);
  model.Advance(400);  // past its boot delay
  RequestRecorder recorder(model);
  EmulatedUnit bench(model);  // nothing plugged in yet: a guard at boot may come first

  GuardScratch scratch(std::string(VCC_SCRATCH_DIR) + "/guard_process_test",
                       "[Guard]\nMetricsFile=" + std::string(VCC_SCRATCH_DIR) +
                           "/guard_process_test/state/vornalith.prom\n");
  NotifyListener notify(scratch.root + "/notify.sock");
  ASSERT_TRUE(notify.Bound());
  // systemd starts it with UMask=0027.
  const mode_t umask = ::umask(027);
  ChildProgram guard(VCC_GUARD, scratch.root, scratch.Environment());
  ::umask(umask);
  ASSERT_TRUE(guard.Started());

  // Ready while it waits for the unit, and alive all the same.
  ASSERT_TRUE(WaitUntil([&] { return !notify.Times("READY=1").empty(); }, 10s)) << "never ready";
  ASSERT_TRUE(WaitUntil([&] { return !notify.Times("WATCHDOG=1").empty(); }, 10s)) << "silent while waiting";
  bench.PlugIn(UnitVendorId, UnitProductId);

  // Three polls: each followed by a ping, 3 s apart.
  ASSERT_TRUE(WaitUntil([&] { return StatusReadTimes(recorder).size() >= 4; }, 25s)) << "the guard did not poll";
  const auto reads = StatusReadTimes(recorder);
  for (std::size_t i = 2; i < reads.size(); ++i) {
    const double gap = Seconds(reads[i] - reads[i - 1]);
    EXPECT_NEAR(gap, 3.0, 0.5) << "poll " << i;
  }
  // The last poll's ping may still be on its way.
  WaitUntil([&] { return notify.Times("WATCHDOG=1").back() >= reads.back(); }, 1s);
  const auto pings = notify.Times("WATCHDOG=1");
  for (std::size_t i = 1; i < reads.size(); ++i) {
    // The first read is the start-up's; each poll's read has its ping after it.
    EXPECT_TRUE(std::any_of(pings.begin(), pings.end(),
                            [&](auto at) { return at >= reads[i] && at < reads[i] + 1s; }))
        << "no ping after poll " << i;
  }

  // The front panel as the window would leave it: line 1 one of the two
  // stored texts, line 2 the readings.
  const std::string line1 = Trimmed(model.FrontPanelLine(1));
  EXPECT_TRUE(line1 == "Speed Load Temp" || line1 == "Quelmark") << "line 1: '" << line1 << "'";
  EXPECT_FALSE(Trimmed(model.FrontPanelLine(2)).empty());

  // Anyone may read its status; the metrics file follows the polls.
  struct stat socketFile {};
  ASSERT_EQ(::stat(scratch.Socket().c_str(), &socketFile), 0);
  EXPECT_TRUE(socketFile.st_mode & S_IWOTH) << "others cannot connect: mode " << std::oct << socketFile.st_mode;
  const std::string status = AskSocket(scratch.Socket(), "status\n");
  EXPECT_NE(status.find("\"source\":\"guard\""), std::string::npos) << status;
  EXPECT_NE(status.find("\"link_up\":true"), std::string::npos) << status;
#ifdef VCC_PROGRAM
  // With no control centre of the user's running, --status asks the guard.
  {
    const std::string runtime = scratch.root + "/user-runtime";
    std::filesystem::create_directories(runtime);
    std::filesystem::permissions(runtime, std::filesystem::perms::owner_all);
    const std::string command = "env XDG_RUNTIME_DIR=" + runtime + " VCC_GUARD_SOCKET=" + scratch.Socket() +
                                " " + VCC_PROGRAM + " --status --json";
    FILE* out = ::popen(command.c_str(), "r");
    ASSERT_NE(out, nullptr);
    std::string printed;
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, out)) printed += buffer;
    EXPECT_EQ(::pclose(out), 0) << printed;
    EXPECT_NE(printed.find("\"source\": \"guard\""), std::string::npos) << printed;
  }
#endif
  std::ifstream metrics(scratch.root + "/state/vornalith.prom");
  EXPECT_TRUE(metrics.good()) << "no metrics file";

  // A hung guard stops pinging, so systemd's watchdog restarts it.
  guard.Signal(SIGSTOP);
  const auto stoppedAt = Clock::now();
  std::this_thread::sleep_for(4s);
  const auto whileStopped = notify.Times("WATCHDOG=1");
  EXPECT_EQ(std::count_if(whileStopped.begin(), whileStopped.end(),
                          [&](auto at) { return at > stoppedAt + 100ms; }),
            0);
  guard.Signal(SIGCONT);
  const auto resumedAt = Clock::now();
  ASSERT_TRUE(WaitUntil([&] {
    const auto p = notify.Times("WATCHDOG=1");
    return std::any_of(p.begin(), p.end(), [&](auto at) { return at > resumedAt; });
  }, 5s)) << "no ping after it went on";

  // systemd's stop: the close path, and exit code 0.
  guard.Signal(SIGTERM);
  const auto sent = Clock::now();
  const auto exit = guard.WaitForExit(10s);
  ASSERT_TRUE(exit.has_value()) << "still running 10 s after SIGTERM";
  std::cout << "SIGTERM to exit: " << Seconds(Clock::now() - sent) << " s\n";
  ASSERT_TRUE(WIFEXITED(*exit));
  EXPECT_EQ(WEXITSTATUS(*exit), 0);
  ExpectClosePathLast(recorder.Requests());
  EXPECT_FALSE(notify.Times("STOPPING=1").empty());
  // Its logs are in its state folder.
  EXPECT_TRUE(std::filesystem::exists(scratch.root + "/state/Operatation.log"));
}

}  // namespace

int main(int argc, char** argv) {
  RunUnderUmockdev(argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
