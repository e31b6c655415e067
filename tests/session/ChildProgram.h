// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A program started by a test as the desktop would start it (own scratch
// settings, state and runtime folders, no display), ended by a signal the way
// the system ends it, and the requests its unit took, read back.

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace session_test {

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

class ChildProgram {
 public:
  // extraEnv entries are NAME=value; dropEnv names are not passed on.
  ChildProgram(const std::string& program, const std::string& scratch,
               const std::vector<std::string>& extraEnv = {},
               const std::vector<std::string>& dropEnv = {}) {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
      const std::string entry(*e);
      bool drop = false;
      for (const auto& name : dropEnv) drop = drop || entry.rfind(name + "=", 0) == 0;
      if (!drop) env.push_back(entry);
    }
    env.push_back("QT_QPA_PLATFORM=offscreen");
    for (const char* dir : {"config", "state", "runtime"}) {
      const std::string path = scratch + "/" + dir;
      std::filesystem::create_directories(path);
      std::filesystem::permissions(path, std::filesystem::perms::owner_all);
      env.push_back(std::string(dir == std::string("config")  ? "XDG_CONFIG_HOME="
                                : dir == std::string("state") ? "XDG_STATE_HOME="
                                                              : "XDG_RUNTIME_DIR=") +
                    path);
    }
    env.insert(env.end(), extraEnv.begin(), extraEnv.end());
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    char* argv[] = {const_cast<char*>(program.c_str()), nullptr};
    if (posix_spawn(&pid_, program.c_str(), nullptr, nullptr, argv, envp.data()) != 0) pid_ = -1;
  }
  ~ChildProgram() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  ChildProgram(const ChildProgram&) = delete;
  ChildProgram& operator=(const ChildProgram&) = delete;

  bool Started() const { return pid_ > 0; }
  bool Running() {
    if (pid_ <= 0) return false;
    if (waitpid(pid_, &status_, WNOHANG) == pid_) {
      pid_ = -1;
      return false;
    }
    return true;
  }
  void Signal(int number) const {
    if (pid_ > 0) kill(pid_, number);
  }
  // The exit status once the program has ended within the limit.
  std::optional<int> WaitForExit(std::chrono::milliseconds limit) {
    const auto end = Clock::now() + limit;
    while (Running()) {
      if (Clock::now() > end) return std::nullopt;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return status_;
  }

 private:
  pid_t pid_ = -1;
  int status_ = 0;
};

// Polls until the condition holds or the limit passes.
template <typename Condition>
bool WaitUntil(Condition condition, std::chrono::milliseconds limit) {
  const auto end = Clock::now() + limit;
  while (!condition()) {
    if (Clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return true;
}

// The lines of hex bytes the -sim program writes to <VCC_SIM_CONTROL>.requests.
inline std::vector<Bytes> ReadPacketLog(const std::string& path) {
  std::vector<Bytes> requests;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream bytes(line);
    Bytes request;
    unsigned value = 0;
    while (bytes >> std::hex >> value) request.push_back(static_cast<std::uint8_t>(value));
    if (!request.empty()) requests.push_back(request);
  }
  return requests;
}

inline bool IsStatusRead(const Bytes& r) { return r == Bytes{0x01, 0x01, 0x04}; }
inline bool IsWrite(const Bytes& r, std::uint8_t number) {
  return r.size() == 28 && r[0] == 0x01 && r[1] == number && r[2] == 0x02 && r[27] == 0x04;
}
inline bool IsBlankLine(const Bytes& r, std::uint8_t number) {
  if (!IsWrite(r, number)) return false;
  for (int i = 3; i < 27; ++i)
    if (r[i] != 0x20) return false;
  return true;
}
inline int HoursIn(const Bytes& write02) { return write02[3 + 17] | (write02[3 + 18] << 8); }

inline int Count(const std::vector<Bytes>& requests, bool (*test)(const Bytes&)) {
  int n = 0;
  for (const auto& r : requests) n += test(r) ? 1 : 0;
  return n;
}

}  // namespace session_test

#include <gtest/gtest.h>

namespace session_test {

// What the unit took once a close began: the close path last (write 02 with
// the hours the unit reported, blank line 1, blank line 2) and nothing after
// it; the close path ran once.
inline void ExpectClosePathLast(const std::vector<Bytes>& requests) {
  const std::size_t n = requests.size();
  ASSERT_GE(n, 3u);
  EXPECT_TRUE(IsWrite(requests[n - 3], 0x02)) << "write 02 before the blank lines";
  if (IsWrite(requests[n - 3], 0x02)) {
    EXPECT_GT(HoursIn(requests[n - 3]), 0);
  }
  EXPECT_TRUE(IsBlankLine(requests[n - 2], 0x06));
  EXPECT_TRUE(IsBlankLine(requests[n - 1], 0x07));
  EXPECT_EQ(Count(requests, [](const Bytes& r) { return IsWrite(r, 0x02); }), 1);
  EXPECT_EQ(Count(requests, [](const Bytes& r) { return IsBlankLine(r, 0x06); }), 1);
}

}  // namespace session_test
