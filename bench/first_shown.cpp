// SPDX-License-Identifier: GPL-3.0-or-later
// Starts a program and reports how long it took until a top-level window with
// the given title was mapped on the X server ($DISPLAY), and how much CPU time
// the program had used by then. The X server tells us the moment of mapping
// itself (MapNotify on the root window), so the program under test needs no
// hook of its own and nothing is polled.
//
//   first_shown [--timeout SECONDS] [--keep] TITLE -- PROGRAM [ARGS...]
//
// Prints one line: "shown_ms=<wall> cpu_ms=<utime+stime> pid=<pid>". Without
// --keep the program is then ended with SIGTERM; with --keep it is left
// running (its pid is on the line). The program's own standard output goes to
// standard error, so that line is all a caller reads. Exit status 1 when the
// window did not appear in time or the program ended first.

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>

#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

double NowMs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

// _NET_WM_NAME (UTF-8) when set, else WM_NAME.
std::string WindowTitle(Display* display, Window window) {
  const Atom netName = XInternAtom(display, "_NET_WM_NAME", False);
  const Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
  Atom type = None;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  std::string title;
  if (XGetWindowProperty(display, window, netName, 0, 1024, False, utf8, &type, &format, &count,
                         &after, &data) == Success &&
      data != nullptr && type == utf8) {
    title.assign(reinterpret_cast<const char*>(data), count);
  }
  if (data) XFree(data);
  if (!title.empty()) return title;
  char* name = nullptr;
  if (XFetchName(display, window, &name) && name) {
    title = name;
    XFree(name);
  }
  return title;
}

double ProcessCpuMs(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const auto close = stat.rfind(')');
  if (close == std::string::npos) return -1;
  std::istringstream fields(stat.substr(close + 2));
  std::string field;
  unsigned long long utime = 0, stime = 0;
  for (int i = 3; i <= 15 && fields >> field; ++i) {
    if (i == 14) utime = std::stoull(field);
    if (i == 15) stime = std::stoull(field);
  }
  return static_cast<double>(utime + stime) * 1000.0 / static_cast<double>(sysconf(_SC_CLK_TCK));
}

int IgnoreXErrors(Display*, XErrorEvent*) { return 0; }  // a window may be gone already

}  // namespace

int main(int argc, char** argv) {
  double timeoutS = 30;
  bool keep = false;
  int i = 1;
  for (; i < argc; ++i) {
    if (std::strcmp(argv[i], "--timeout") == 0 && i + 1 < argc) {
      timeoutS = std::atof(argv[++i]);
    } else if (std::strcmp(argv[i], "--keep") == 0) {
      keep = true;
    } else {
      break;
    }
  }
  if (i + 2 >= argc || std::strcmp(argv[i + 1], "--") != 0) {
    std::fprintf(stderr, "usage: %s [--timeout S] [--keep] TITLE -- PROGRAM [ARGS...]\n", argv[0]);
    return 2;
  }
  const std::string wanted = argv[i];
  char** command = argv + i + 2;

  Display* display = XOpenDisplay(nullptr);
  if (!display) {
    std::fprintf(stderr, "first_shown: cannot open the display\n");
    return 2;
  }
  XSetErrorHandler(IgnoreXErrors);
  // Without a window manager every top-level window is a child of the root,
  // so the root's substructure events include its mapping.
  XSelectInput(display, DefaultRootWindow(display), SubstructureNotifyMask);
  XSync(display, False);

  const double start = NowMs();
  const pid_t pid = fork();
  if (pid < 0) return 2;
  if (pid == 0) {
    dup2(STDERR_FILENO, STDOUT_FILENO);
    execvp(command[0], command);
    std::perror("first_shown: exec");
    _exit(127);
  }

  const int fd = ConnectionNumber(display);
  const double deadline = start + timeoutS * 1000.0;
  for (;;) {
    while (XPending(display)) {
      XEvent event;
      XNextEvent(display, &event);
      if (event.type != MapNotify) continue;
      if (WindowTitle(display, event.xmap.window) != wanted) continue;
      const double shown = NowMs() - start;
      const double cpu = ProcessCpuMs(pid);
      std::printf("shown_ms=%.1f cpu_ms=%.0f pid=%d\n", shown, cpu, static_cast<int>(pid));
      std::fflush(stdout);
      if (!keep) {
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
      }
      XCloseDisplay(display);
      return 0;
    }
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid) {
      std::fprintf(stderr, "first_shown: the program ended before its window appeared\n");
      return 1;
    }
    const double left = deadline - NowMs();
    if (left <= 0) {
      std::fprintf(stderr, "first_shown: no window \"%s\" within %.0f s\n", wanted.c_str(), timeoutS);
      kill(pid, SIGTERM);
      waitpid(pid, nullptr, 0);
      return 1;
    }
    pollfd p{fd, POLLIN, 0};
    // Woken by the server; the short bound only notices the program ending.
    poll(&p, 1, static_cast<int>(left < 50 ? left : 50));
  }
}
