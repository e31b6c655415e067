// SPDX-License-Identifier: GPL-3.0-or-later
#include "host/CpuSources.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <charconv>
#include <cmath>
#include <fstream>
#include <sstream>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#if defined(__x86_64__) || defined(__i386__)
#include <x86intrin.h>
#define VCC_HAVE_TSC 1
#endif

std::optional<CpuTimes> ParseProcStat(std::string_view text) {
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (!line.starts_with("cpu ")) continue;
    line.remove_prefix(4);
    // user nice system idle iowait irq softirq steal [guest guest_nice]
    std::uint64_t value[8] = {};
    int read = 0;
    while (read < 8) {
      while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
      const auto [next, error] = std::from_chars(line.data(), line.data() + line.size(), value[read]);
      if (error != std::errc()) break;
      line.remove_prefix(static_cast<std::size_t>(next - line.data()));
      ++read;
    }
    if (read < 4) return std::nullopt;
    CpuTimes times;
    times.idle = value[3] + value[4];
    for (int i = 0; i < 8; ++i) times.total += value[i];
    return times;
  }
  return std::nullopt;
}

int LoadBetween(const CpuTimes& before, const CpuTimes& after) {
  // Counted as signed differences: a counter that steps back (iowait does on
  // some kernels) must not turn into a huge unsigned share.
  const double total = static_cast<double>(after.total) - static_cast<double>(before.total);
  const double idle = static_cast<double>(after.idle) - static_cast<double>(before.idle);
  if (total <= 0) return -1;
  const double load = 100.0 - idle * 100.0 / total + 0.5;
  return std::clamp(static_cast<int>(load), 0, 100);
}

// ---------------------------------------------------------------------------

void SamplerStop::Request() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    requested_ = true;
  }
  wake_.notify_all();
}

bool SamplerStop::Requested() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requested_;
}

bool SamplerStop::WaitFor(int ms) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (ms < 0) {
    wake_.wait(lock, [this] { return requested_; });
    return false;
  }
  return !wake_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return requested_; });
}

void SamplerStop::Nudge() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    nudged_ = true;
  }
  wake_.notify_all();
}

bool SamplerStop::WaitUntilNudged(int ms) {
  std::unique_lock<std::mutex> lock(mutex_);
  wake_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return requested_ || nudged_; });
  nudged_ = false;
  return !requested_;
}

// ---------------------------------------------------------------------------

namespace {

constexpr int kMeasureWindowMs = 1000;
constexpr int kHighNice = -10;    // a measurement's second, when permitted
constexpr int kLowestNice = 19;   // the lowest priority that is not idle-only
constexpr int kNothingToRestore = -1000;

bool ReadWholeFile(const char* path, std::string& text) {
  std::ifstream in(path);
  if (!in) return false;
  std::ostringstream out;
  out << in.rdbuf();
  text = out.str();
  return true;
}

class SystemCpuSources : public ICpuSources {
 public:
  ~SystemCpuSources() override {
    if (statFd_ >= 0) ::close(statFd_);
  }

  // Read once a second for as long as the program runs: the file stays open
  // and is read again from its start, which has the kernel write it afresh.
  bool ReadCpuTimes(CpuTimes& times) override {
    if (statFd_ < 0) statFd_ = ::open("/proc/stat", O_RDONLY | O_CLOEXEC);
    if (statFd_ < 0) return false;
    char text[1024];  // the aggregate line comes first and is far shorter
    const ssize_t length = ::pread(statFd_, text, sizeof text, 0);
    if (length <= 0) {
      ::close(statFd_);
      statFd_ = -1;
      return false;
    }
    const std::optional<CpuTimes> parsed = ParseProcStat(std::string_view(text, static_cast<std::size_t>(length)));
    if (!parsed) return false;
    times = *parsed;
    return true;
  }

  bool ReadCycleCounter(std::uint64_t& cycles) override {
#ifdef VCC_HAVE_TSC
    cycles = __rdtsc();
    return true;
#else
    (void)cycles;
    return false;
#endif
  }

  int ReadClockMHz() override {
    for (const char* path : {"/sys/devices/system/cpu/cpu0/cpufreq/scaling_cur_freq",
                             "/sys/devices/system/cpu/cpu0/cpufreq/cpuinfo_cur_freq"}) {
      std::string text;
      if (!ReadWholeFile(path, text)) continue;
      try {
        return static_cast<int>(std::stoll(text) / 1000);  // kHz
      } catch (...) {
      }
    }
    return 0;
  }

  // Nice values belong to each thread on Linux, so raising "the process and
  // the thread" comes down to raising the measuring thread.
  int RaisePriority() override {
    errno = 0;
    const int saved = getpriority(PRIO_PROCESS, static_cast<id_t>(gettid()));
    if (saved == -1 && errno != 0) return kNothingToRestore;
    if (saved > kHighNice) setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), kHighNice);
    return saved;
  }

  void RestorePriority(int saved) override {
    if (saved == kNothingToRestore) return;
    setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), saved);
  }

  void LowerThreadPriority() override {
    setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), kLowestNice);
  }

  bool Sleep(int ms, SamplerStop& stop) override { return stop.WaitFor(ms); }

 private:
  int statFd_ = -1;
};

}  // namespace

std::unique_ptr<ICpuSources> MakeSystemCpuSources() { return std::make_unique<SystemCpuSources>(); }

std::optional<int> MeasureCpuSpeed(ICpuSources& sources, SamplerStop& stop) {
  const int saved = sources.RaisePriority();
  std::uint64_t before = 0, after = 0;
  const bool counted = sources.ReadCycleCounter(before);
  const bool slept = sources.Sleep(kMeasureWindowMs, stop);
  if (counted) sources.ReadCycleCounter(after);
  sources.RestorePriority(saved);
  if (!slept) return std::nullopt;
  // The whole 64-bit difference: 32 bits would wrap for any clock of 4295 MHz
  // or more.
  if (counted) return static_cast<int>((after - before) / 1000000u);
  return sources.ReadClockMHz();
}

std::optional<int> MeasureCpuLoad(ICpuSources& sources, SamplerStop& stop, int extraRestMs) {
  // A failed reading still takes the sample's usual two seconds: returning at
  // once would have the sampler spin, flooding the window with updates.
  CpuTimes before, after;
  const bool readBefore = sources.ReadCpuTimes(before);
  if (!sources.Sleep(kMeasureWindowMs, stop)) return std::nullopt;
  const bool readAfter = readBefore && sources.ReadCpuTimes(after);
  const int load = readAfter ? LoadBetween(before, after) : -1;
  if (!sources.Sleep(kMeasureWindowMs + extraRestMs, stop)) return std::nullopt;
  return load;
}
