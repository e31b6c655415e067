# SPDX-License-Identifier: GPL-3.0-or-later
"""What the end-to-end tests of the -sim program share: a bounded wait, and
the program's test control (VCC_SIM_CONTROL, see unit-sim/SimTestControl.h):
its command file and the files it writes beside it."""

import os
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
