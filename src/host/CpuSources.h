// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Where the sampler's numbers come from: the kernel's CPU time counters, the
// processor's cycle counter, thread priorities, and waiting. Everything the
// sampler measures goes through ICpuSources, so its logic can be run without
// real one-second waits.

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

// Time the processors spent, summed over all of them, in the kernel's ticks.
struct CpuTimes {
  std::uint64_t idle = 0;   // idle + waiting for input/output
  std::uint64_t total = 0;  // everything except guest time (already in user and nice)
};

// The aggregate "cpu" line of /proc/stat; nothing when it is missing or malformed.
std::optional<CpuTimes> ParseProcStat(std::string_view text);

// Load in percent between two readings, rounded to the nearest percent and
// held to 0..100; -1 when no time passed between them.
int LoadBetween(const CpuTimes& before, const CpuTimes& after);

// The wait a sampler can be woken from when it is to end.
class SamplerStop {
 public:
  // Ends every wait now and later.
  void Request();
  bool Requested() const;
  // Waits up to ms milliseconds (a negative ms: until requested). True when
  // the time ran out, false when the stop was requested.
  bool WaitFor(int ms);

  // Ends the current (or next) WaitUntilNudged early; WaitFor ignores it.
  void Nudge();
  // Waits up to ms milliseconds or until nudged; false when the stop was
  // requested.
  bool WaitUntilNudged(int ms);

 private:
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  bool requested_ = false;
  bool nudged_ = false;
};

class ICpuSources {
 public:
  virtual ~ICpuSources() = default;
  // The current totals; false when they cannot be read.
  virtual bool ReadCpuTimes(CpuTimes& times) = 0;
  // The processor's cycle counter; false on a processor without a usable one.
  virtual bool ReadCycleCounter(std::uint64_t& cycles) = 0;
  // The clock rate the frequency driver reports, in MHz; 0 when unknown. Used
  // where there is no cycle counter.
  virtual int ReadClockMHz() = 0;
  // Raise the calling thread's priority for a measurement, and put it back.
  // Refusals are accepted silently.
  virtual int RaisePriority() = 0;  // returns what RestorePriority needs
  virtual void RestorePriority(int saved) = 0;
  // The calling thread to the lowest priority above idle.
  virtual void LowerThreadPriority() = 0;
  // Waits ms milliseconds; false (and at once) when the stop is requested.
  virtual bool Sleep(int ms, SamplerStop& stop) = 0;
  // The wait while no sample is wanted: also ends when nudged.
  virtual bool IdleWait(int ms, SamplerStop& stop) { return stop.WaitUntilNudged(ms); }
};

// This computer: /proc/stat, the time-stamp counter (cpufreq elsewhere), nice values.
std::unique_ptr<ICpuSources> MakeSystemCpuSources();

// One clock measurement: counts cycles over one second. Nothing when the wait
// was cut short by the stop.
std::optional<int> MeasureCpuSpeed(ICpuSources& sources, SamplerStop& stop);

// One load measurement: two readings one second apart, then a second's rest
// (and extraRestMs more), so that a sample takes two seconds. -1 when the
// counters cannot be read; nothing when the stop cut it short.
std::optional<int> MeasureCpuLoad(ICpuSources& sources, SamplerStop& stop, int extraRestMs = 0);
