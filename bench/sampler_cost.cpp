// SPDX-License-Identifier: GPL-3.0-or-later
// What the CPU sampler costs and how right it is, measured on this computer:
// the sampler runs on the real counters for a while (60 s unless a number of
// seconds is given) as it does with the window shown. Printed at the end:
//   - the sampler thread's own CPU time as a share of one core;
//   - the mean of its load readings against the load /proc/stat gives for the
//     whole run (pass --busy N to keep N extra threads spinning, a known load);
//   - its clock rate against the rate /proc/cpuinfo reports.
// The exit status is 1 when the sampler takes 0.2 % of a core or more.

#include "host/CPUThread.h"
#include "host/CpuSources.h"

#include <QCoreApplication>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

// utime + stime of the thread named `name` in this process, in seconds.
double ThreadCpuSeconds(const char* name) {
  DIR* dir = opendir("/proc/self/task");
  if (!dir) return -1;
  double seconds = -1;
  while (dirent* entry = readdir(dir)) {
    if (entry->d_name[0] == '.') continue;
    const std::string task = std::string("/proc/self/task/") + entry->d_name;
    std::string comm = ReadFile(task + "/comm");
    while (!comm.empty() && comm.back() == '\n') comm.pop_back();
    if (comm != name) continue;
    const std::string stat = ReadFile(task + "/stat");
    // Fields after the parenthesised name: state is field 3, utime 14, stime 15.
    std::istringstream fields(stat.substr(stat.rfind(')') + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
      if (i == 14) utime = std::stoull(field);
      if (i == 15) stime = std::stoull(field);
    }
    seconds = static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
  }
  closedir(dir);
  return seconds;
}

double CpuInfoMHz() {
  std::istringstream in(ReadFile("/proc/cpuinfo"));
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("cpu MHz", 0) == 0) return std::atof(line.substr(line.find(':') + 1).c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  int seconds = 60;
  int busy = 0;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--busy") == 0 && i + 1 < argc) {
      busy = std::atoi(argv[++i]);
    } else {
      seconds = std::atoi(argv[i]);
    }
  }

  std::atomic<bool> spinning{true};
  std::vector<std::thread> spinners;
  for (int i = 0; i < busy; ++i)
    spinners.emplace_back([&] {
      volatile unsigned long n = 0;
      while (spinning.load(std::memory_order_relaxed)) n = n + 1;
    });

  std::unique_ptr<ICpuSources> sources = MakeSystemCpuSources();
  RelaxedAtomic<int> speed, load;
  CPUThread sampler(true, &speed, &load, *sources);
  std::mutex mutex;
  std::vector<int> loads;
  QObject::connect(&sampler, &CPUThread::LoadSampled, &sampler, [&](int percent) {
    std::lock_guard<std::mutex> lock(mutex);
    loads.push_back(percent);
  }, Qt::DirectConnection);
  sampler.SetMainWindowVisible(true);

  CpuTimes before{}, after{};
  sources->ReadCpuTimes(before);
  const auto start = std::chrono::steady_clock::now();
  sampler.start();
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  const double threadSeconds = ThreadCpuSeconds("CPUThread");
  const double wall =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  sources->ReadCpuTimes(after);
  sampler.TerminateAndWait();
  spinning = false;
  for (std::thread& t : spinners) t.join();

  double mean = 0;
  {
    std::lock_guard<std::mutex> lock(mutex);
    for (int l : loads) mean += l;
    if (!loads.empty()) mean /= static_cast<double>(loads.size());
  }
  const double share = threadSeconds / wall * 100.0;
  const double cpuinfo = CpuInfoMHz();
  std::printf("samples %zu, readings:", loads.size());
  for (int l : loads) std::printf(" %d", l);
  std::printf("\n");
  std::printf(
      "sampler %.3f %% of one core over %.0f s; load %.1f %% (/proc/stat over the run %d %%); "
      "clock %d MHz (cpuinfo %.0f MHz, %+.2f %%)\n",
      share, wall, mean, LoadBetween(before, after), speed.load(), cpuinfo,
      cpuinfo > 0 ? (speed.load() - cpuinfo) / cpuinfo * 100.0 : 0.0);
  return threadSeconds >= 0 && share < 0.2 ? 0 : 1;
}
