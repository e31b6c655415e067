# SPDX-License-Identifier: GPL-3.0-or-later
"""What the end-to-end tests of the -sim program share: a bounded wait, the
program's test control (VCC_SIM_CONTROL, see unit-sim/SimTestControl.h): its
command file and the files it writes beside it, and a scratch home for the
programs a test starts."""

import os
import shutil
import signal
import subprocess
import tempfile
import time


def wait_for(what, seconds=20.0, step=0.1):
    """what()'s first true value within the time, else its last value."""
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        value = what()
        if value:
            return value
        time.sleep(step)
    return what()


def wait_until(what, predicate, timeout, step=0.1):
    """predicate()'s first true value, or an AssertionError naming what."""
    value = wait_for(predicate, timeout, step)
    if not value:
        raise AssertionError(f'timed out after {timeout} s waiting for {what}')
    return value


class Scratch:
    """A home of the test's own: XDG folders inside it, no system bus, nothing
    of the caller's desktop. Each program started here runs in its own process
    group with its log in the folder; close() ends them, last first, and
    removes the folder."""

    def __init__(self, prefix):
        self.work = tempfile.mkdtemp(prefix=prefix)
        self.procs = []
        self.fds = []
        runtime = os.path.join(self.work, 'runtime')
        os.mkdir(runtime, 0o700)
        self.env = {k: v for k, v in os.environ.items()
                    if not k.startswith(('DBUS_', 'XDG_', 'WAYLAND_', 'QT_', 'AT_SPI'))
                    and k not in ('DISPLAY', 'XAUTHORITY')}
        self.env.update(HOME=self.work, XDG_RUNTIME_DIR=runtime,
                        XDG_CONFIG_HOME=os.path.join(self.work, 'config'),
                        XDG_STATE_HOME=os.path.join(self.work, 'state'),
                        XDG_DATA_HOME=os.path.join(self.work, 'data'),
                        XDG_CACHE_HOME=os.path.join(self.work, 'cache'),
                        DBUS_SYSTEM_BUS_ADDRESS='unix:path=' + os.path.join(self.work, 'no-system-bus'))

    def path(self, *parts):
        return os.path.join(self.work, *parts)

    def start(self, name, argv, **kw):
        log = open(self.path(name + '.log'), 'wb')
        proc = subprocess.Popen(argv, env=self.env, stdout=kw.pop('stdout', log), stderr=log,
                                stdin=subprocess.DEVNULL, start_new_session=True, **kw)
        self.procs.append(proc)
        return proc

    def start_xvfb(self, screen):
        """Xvfb on a display it picks itself, which DISPLAY then names."""
        read_end, write_end = os.pipe()
        self.start('xvfb', ['Xvfb', '-displayfd', str(write_end), '-screen', '0', screen, '-nolisten', 'tcp'],
                   pass_fds=(write_end,))
        os.close(write_end)
        self.env['DISPLAY'] = ':' + wait_until('Xvfb', lambda: os.read(read_end, 16).decode().strip(), 10)
        # Open till the end: Xvfb writes the line's end on its own, and a pipe
        # closed before then ends it.
        self.fds.append(read_end)

    def log(self, name):
        with open(self.path(name + '.log'), errors='replace') as f:
            return f.read()

    def write_settings(self, text):
        folder = self.path('config', 'quelmark')
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, 'tessalinique.conf'), 'w') as f:
            f.write(text)

    def close(self):
        for proc in reversed(self.procs):
            if proc.poll() is None:
                os.killpg(proc.pid, signal.SIGTERM)
                try:
                    proc.wait(5)
                except subprocess.TimeoutExpired:
                    os.killpg(proc.pid, signal.SIGKILL)
                    proc.wait(5)
        for fd in self.fds:
            os.close(fd)
        shutil.rmtree(self.work, ignore_errors=True)


class SimControl:
    def __init__(self, path):
        self.path = path

    def read(self, suffix):
        try:
            with open(self.path + suffix) as f:
                return f.read()
        except FileNotFoundError:
            return ""

    def command(self, text):
        with open(self.path, "a") as f:
            f.write(text + "\n")

    def replies(self):
        """Every status reply so far, split into its fields."""
        return [line.split() for line in self.read(".replies").splitlines() if line.strip()]

    def state(self):
        return dict(line.split("=", 1) for line in self.read(".state").splitlines() if "=" in line)

    def window(self):
        """A fresh report of the program's windows; empty if none came."""
        report = self.path + ".window"
        if os.path.exists(report):
            os.remove(report)
        self.command("report")
        wait_for(lambda: os.path.exists(report))
        return self.read(".window")
