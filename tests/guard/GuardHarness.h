// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The guard program started as systemd would start it, in scratch folders:
// its state, runtime and configuration folders named in its environment, and
// a notify socket this harness listens on, recording every datagram and when
// it came.

#include "ChildProgram.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace guard_test {

using namespace session_test;

class NotifyListener {
 public:
  explicit NotifyListener(const std::string& path) : path_(path) {
    ::unlink(path.c_str());
    fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
    bound_ = ::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    reader_ = std::thread([this] {
      char buffer[4096];
      while (!stop_) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0) continue;
        const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
        if (n <= 0) continue;
        std::lock_guard lock(mutex_);
        messages_.push_back({Clock::now(), std::string(buffer, static_cast<std::size_t>(n))});
      }
    });
  }
  ~NotifyListener() {
    stop_ = true;
    reader_.join();
    ::close(fd_);
    ::unlink(path_.c_str());
  }
  bool Bound() const { return bound_; }

  struct Message {
    Clock::time_point at;
    std::string text;
  };
  std::vector<Message> Messages() const {
    std::lock_guard lock(mutex_);
    return messages_;
  }
  // When each message with this text came.
  std::vector<Clock::time_point> Times(const std::string& text) const {
    std::vector<Clock::time_point> times;
    for (const auto& m : Messages())
      if (m.text == text) times.push_back(m.at);
    return times;
  }

 private:
  std::string path_;
  int fd_ = -1;
  bool bound_ = false;
  std::atomic<bool> stop_{false};
  std::thread reader_;
  mutable std::mutex mutex_;
  std::vector<Message> messages_;
};

// The guard's folders under `scratch`, guard.conf holding `config`.
struct GuardScratch {
  explicit GuardScratch(const std::string& scratch, const std::string& config = {}) : root(scratch) {
    std::filesystem::remove_all(scratch);
    for (const char* dir : {"state", "run", "etc"}) std::filesystem::create_directories(scratch + "/" + dir);
    if (!config.empty()) std::ofstream(scratch + "/etc/guard.conf") << config;
  }
  std::vector<std::string> Environment() const {
    return {"STATE_DIRECTORY=" + root + "/state", "RUNTIME_DIRECTORY=" + root + "/run",
            "CONFIGURATION_DIRECTORY=" + root + "/etc", "NOTIFY_SOCKET=" + root + "/notify.sock",
            // Never the machine's own logind.
            "DBUS_SYSTEM_BUS_ADDRESS=unix:path=" + root + "/no-system-bus"};
  }
  std::string Socket() const { return root + "/run/guard.sock"; }
  std::string root;
};

// One request line to a stream socket, and all it answers until it closes;
// empty when nobody listens.
inline std::string AskSocket(const std::string& path, const std::string& line) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
  std::string answer;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
      ::write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size())) {
    char buffer[4096];
    for (;;) {
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, 3000) <= 0) break;
      const ssize_t n = ::read(fd, buffer, sizeof buffer);
      if (n <= 0) break;
      answer.append(buffer, static_cast<std::size_t>(n));
    }
  }
  ::close(fd);
  return answer;
}

}  // namespace guard_test
