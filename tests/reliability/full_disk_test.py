#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""The -sim program with its state folder full: the two logs cannot grow (a
file-size limit at their size, with SIGXFSZ ignored, fails every write to them
as a full disk does). The program must still come up, poll, arm the emergency
shutdown at the first red reply, and show each error in one box, not one a poll.

    full_disk_test.py SIM_PROGRAM
"""

import json
import os
import resource
import signal
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from sim_control import SimControl, wait_for  # noqa: E402

SIM = sys.argv.pop(1) if len(sys.argv) > 1 else ""
LIMIT = 256 * 1024


def full_disk():
    signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
    resource.setrlimit(resource.RLIMIT_FSIZE, (LIMIT, resource.RLIM_INFINITY))


class FullStateFolder(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        d = self.dir.name
        logs = os.path.join(d, "state", "quelmark", "tessalinique")
        for sub in ("runtime", "config", logs):
            os.makedirs(os.path.join(d, sub), mode=0o700)
        for name in ("Operatation.log", "Error.log"):
            with open(os.path.join(logs, name), "wb") as f:
                f.write(b"x" * (LIMIT - 1) + b"\n")
        self.control = SimControl(os.path.join(d, "control"))
        self.env = dict(os.environ, XDG_RUNTIME_DIR=os.path.join(d, "runtime"),
                        XDG_CONFIG_HOME=os.path.join(d, "config"), XDG_STATE_HOME=os.path.join(d, "state"),
                        QT_QPA_PLATFORM="offscreen", VCC_SIM_CONTROL=self.control.path)
        self.program = subprocess.Popen([SIM], env=self.env, preexec_fn=full_disk,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def tearDown(self):
        self.program.terminate()
        try:
            self.program.wait(10)
        except subprocess.TimeoutExpired:
            self.program.kill()
            self.program.wait()
        self.dir.cleanup()

    def boxes(self):
        return [line[len("top QMessageBox "):] for line in self.control.window().splitlines()
                if line.startswith("top QMessageBox ")]

    def armed(self):
        r = subprocess.run([SIM, "--status", "--json"], env=self.env, capture_output=True, timeout=10)
        return r.returncode == 0 and json.loads(r.stdout)["shutdown_armed"]

    def test_comes_up_polls_and_arms_with_one_box_per_error(self):
        self.assertTrue(wait_for(lambda: self.control.state().get("window") == "shown" and len(self.control.replies()) >= 2),
                        "the window did not come up and poll: %s" % self.control.state())
        start_boxes = self.boxes()
        self.assertEqual(len(start_boxes), 1, start_boxes)
        self.assertIn("Operatation.log", start_boxes[0])

        self.control.command("force 80")
        self.assertTrue(wait_for(lambda: any(r[0] == "80" for r in self.control.replies()), step=0.02))
        red = time.monotonic()
        self.assertTrue(wait_for(self.armed, 5, 0.01), "a red reply did not arm the shutdown")
        print("armed within %.0f ms of the first red reply (with --status's own round trip)"
              % ((time.monotonic() - red) * 1000))

        # Two more red polls, each failing its error-log snapshot again.
        count = len(self.control.replies())
        self.assertTrue(wait_for(lambda: len(self.control.replies()) >= count + 2, 10))
        boxes = self.boxes()
        self.assertEqual(sorted(b.split("/")[-1] for b in boxes),
                         ['Error.log". File too large', 'Operatation.log". File too large'], boxes)
        self.assertTrue(self.armed())


if __name__ == "__main__":
    unittest.main()
