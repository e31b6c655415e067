// SPDX-License-Identifier: GPL-3.0-or-later
// The hand-over between the guard program and a desktop control centre, both
// real processes, against the one unit emulated by umockdev: one talker at a
// time, the unit back with the guard however the control centre ends, and
// the guard's refusals (a user without a session, an armed shutdown).

#include "EmulatedUnit.h"
#include "GuardHarness.h"

#include "device/UsbLink.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>

namespace {

using namespace guard_test;
using namespace std::chrono_literals;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

bool IsRead(const Bytes& r, std::uint8_t number) { return r == Bytes{0x01, number, 0x04}; }

// The guard's status line, asked for as anyone may ask.
std::string GuardStatus(const GuardScratch& scratch) { return AskSocket(scratch.Socket(), "status\n"); }

// Asks for the unit as another user (no session anywhere: there is no bus).
std::string HandOverAsUser(const std::string& socket, uid_t uid) {
  int out[2];
  if (::pipe(out) != 0) return {};
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(out[0]);
    if (::setgid(uid) != 0 || ::setuid(uid) != 0) ::_exit(3);
    const std::string answer = AskSocket(socket, "hand-over\n");
    ::write(out[1], answer.data(), answer.size());
    ::_exit(0);
  }
  ::close(out[1]);
  std::string answer;
  char buffer[256];
  ssize_t n;
  while ((n = ::read(out[0], buffer, sizeof buffer)) > 0) answer.append(buffer, static_cast<std::size_t>(n));
  ::close(out[0]);
  ::waitpid(child, nullptr, 0);
  return answer;
}

TEST(HandOver, OneTalkerAtATimeAndTheUnitBackWithTheHandedLimitsAfterAKill) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root: the emulated unit's node is root's";
  unitsim::SimulatedUnit model(5);
  model.Advance(400);
  RequestRecorder recorder(model);
  EmulatedUnit bench(model);
  bench.PlugIn(UnitVendorId, UnitProductId);

  GuardScratch scratch(std::string(VCC_SCRATCH_DIR) + "/hand_over_test");
  NotifyListener notify(scratch.root + "/notify.sock");
  ChildProgram guard(VCC_GUARD, scratch.root, scratch.Environment());
  ASSERT_TRUE(guard.Started());
  const auto statusReads = [&] {
    const auto r = recorder.Requests();
    return std::count_if(r.begin(), r.end(), [](const Bytes& b) { return IsRead(b, 0x01); });
  };
  ASSERT_TRUE(WaitUntil([&] { return statusReads() >= 2; }, 15s)) << "the guard did not poll";

  // Someone without a session gets nothing, and the guard goes on.
  EXPECT_EQ(HandOverAsUser(scratch.Socket(), 65534), "refused\n");

  // An armed emergency shutdown is never handed over; cleared, it is disarmed.
  model.SetSensor(1, 25.0);
  ASSERT_TRUE(WaitUntil([&] { return GuardStatus(scratch).find("\"shutdown_armed\":true") != std::string::npos; },
                        10s));
  const std::string armed = AskSocket(scratch.Socket(), "hand-over\n");
  EXPECT_EQ(armed.rfind("armed ", 0), 0u) << armed;
  model.ClearSensor(1);
  ASSERT_TRUE(WaitUntil([&] { return GuardStatus(scratch).find("\"shutdown_armed\":false") != std::string::npos; },
                        10s));

  // A control centre starts in a desktop session with limits of its own.
  const std::string desktopScratch = scratch.root + "/desktop";
  std::filesystem::create_directories(desktopScratch + "/config/quelmark");
  std::ofstream(desktopScratch + "/config/quelmark/tessalinique.conf")
      << "[General]\nSensor1Warn=dword:-12\nSensor1SDN=dword:-3\n";
  const std::size_t before = recorder.Requests().size();
  const auto startedAt = Clock::now();
  auto desktop = std::make_unique<ChildProgram>(
      VCC_PROGRAM, desktopScratch,
      std::vector<std::string>{"VCC_GUARD_SOCKET=" + scratch.Socket(),
                               "DBUS_SYSTEM_BUS_ADDRESS=unix:path=" + scratch.root + "/no-system-bus"});
  ASSERT_TRUE(desktop->Started());
  std::size_t first = 0;  // the control centre's first request: its start-up's read 01, then 02
  ASSERT_TRUE(WaitUntil([&] {
    const auto r = recorder.Requests();
    for (std::size_t i = before; i + 1 < r.size(); ++i)
      if (IsRead(r[i], 0x01) && IsRead(r[i + 1], 0x02)) return (first = i), true;
    return false;
  }, 20s)) << "the control centre did not start on the unit: " << recorder.Requests().size() - before
             << " requests since, the control centre " << (desktop->Running() ? "runs" : "has ended")
             << "; claims " << bench.SeenOn(bench.UnitNode()).claimed.size() << ", submitted "
             << bench.SeenOn(bench.UnitNode()).submitted << ", discarded " << bench.SeenOn(bench.UnitNode()).discarded
             << ", requests " << bench.SeenOn(bench.UnitNode()).requests;
  std::cout << "guard to desktop: first request " << Seconds(recorder.Times()[first] - startedAt)
            << " s after the start\n";
  // The guard gave the running hours back and then said nothing more.
  EXPECT_TRUE(IsWrite(recorder.Requests()[first - 1], 0x02)) << "the guard's last exchange comes first";
  ASSERT_TRUE(WaitUntil([&] { return statusReads() >= 0 && recorder.Requests().size() > first + 12; }, 15s));
  std::this_thread::sleep_for(4s);
  {
    // Only the control centre polls now: one status read per 3 s.
    const auto r = recorder.Requests();
    const auto t = recorder.Times();
    std::vector<Clock::time_point> reads;
    for (std::size_t i = first + 1; i < r.size(); ++i)
      if (IsRead(r[i], 0x01)) reads.push_back(t[i]);
    ASSERT_GE(reads.size(), 2u);
    for (std::size_t i = 1; i < reads.size(); ++i) EXPECT_GT(Seconds(reads[i] - reads[i - 1]), 2.5) << i;
  }
  // The guard keeps its watchdog fed while it waits.
  const auto waitingSince = Clock::now() - 3s;
  const auto pings = notify.Times("WATCHDOG=1");
  EXPECT_TRUE(std::any_of(pings.begin(), pings.end(), [&](auto at) { return at > waitingSince; }));
  // The setup was handed over and stored.
  ASSERT_TRUE(WaitUntil([&] {
    std::ifstream stored(scratch.root + "/state/sensors.conf");
    const std::string text((std::istreambuf_iterator<char>(stored)), std::istreambuf_iterator<char>());
    return text.find("Sensor1Warn=dword:-12") != std::string::npos;
  }, 10s)) << "no setup stored";

  // Killed outright, the control centre still gives the unit back.
  const std::size_t beforeKill = recorder.Requests().size();
  desktop->Signal(SIGKILL);
  const auto killedAt = Clock::now();
  ASSERT_TRUE(desktop->WaitForExit(5s).has_value());
  desktop.reset();
  ASSERT_TRUE(WaitUntil([&] { return recorder.Requests().size() > beforeKill; }, 6s))
      << "the guard did not take the unit back within 6 s";
  std::cout << "desktop to guard: first request " << Seconds(recorder.Times()[beforeKill] - killedAt)
            << " s after the kill\n";
  EXPECT_TRUE(WaitUntil([&] { return GuardStatus(scratch).find("\"warning_celsius\":-12") != std::string::npos; },
                        10s))
      << GuardStatus(scratch);

  guard.Signal(SIGTERM);
  const auto exit = guard.WaitForExit(10s);
  ASSERT_TRUE(exit.has_value());
  EXPECT_EQ(WEXITSTATUS(*exit), 0);
}

}  // namespace

int main(int argc, char** argv) {
  RunUnderUmockdev(argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
