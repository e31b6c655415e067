#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""--status, --status --json and the metrics file against a running -sim
program, compared with the status replies the simulated unit sent (its test
control logs them), and the metrics served by node_exporter's textfile collector.

    status_e2e_test.py SIM_PROGRAM
"""

import glob
import hashlib
import os
import resource
import socket
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.request

from prometheus_client.parser import text_string_to_metric_families

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from sim_control import SimControl, wait_for  # noqa: E402

SIM = sys.argv.pop(1) if len(sys.argv) > 1 else ""
NODE_EXPORTER = "/usr/bin/prometheus-node-exporter"
NOT_RUNNING = b"Vornalith Control Centre is not running\n"
CAPTIONS = {0: "POWER UP", 1: "Normal", 2: "BOOT DELAY", 3: "Normal", 4: "Normal", 5: "POWER DOWN",
            6: "IDLE", 7: "REST", 81: "RESTART DELAY", 82: "FAN FAILED"}


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class RunningSimProgram(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.TemporaryDirectory()
        d = cls.dir.name
        for sub in ("runtime", "config/quelmark", "state", "metrics"):
            os.makedirs(os.path.join(d, sub), mode=0o700)
        cls.control = os.path.join(d, "control")
        cls.metrics = os.path.join(d, "metrics", "vornalith.prom")
        # Sensor 2 named and given limits; the metrics file chosen in the
        # settings rather than on the command line.
        with open(os.path.join(d, "config/quelmark/tessalinique.conf"), "w") as f:
            f.write("[General]\nSensor2=sz:Ambient\nSensor2HL=dword:1\nSensor2Warn=dword:40\n"
                    "Sensor2SDN=dword:50\nMetrics%%20file=sz:%s\n" % cls.metrics)
        cls.env = dict(os.environ, XDG_RUNTIME_DIR=os.path.join(d, "runtime"),
                       XDG_CONFIG_HOME=os.path.join(d, "config"), XDG_STATE_HOME=os.path.join(d, "state"),
                       QT_QPA_PLATFORM="offscreen", VCC_SIM_CONTROL=cls.control)
        cls.program = subprocess.Popen([SIM], env=cls.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        ok = wait_for(lambda: len(cls.replies()) >= 2 and os.path.exists(cls.metrics)
                      and cls.status_json(check=False) is not None)
        if not ok:
            cls.tearDownClass()
            raise RuntimeError("the -sim program did not come up")

    @classmethod
    def tearDownClass(cls):
        if cls.program.poll() is None:
            cls.program.terminate()
            try:
                cls.program.wait(10)
            except subprocess.TimeoutExpired:
                cls.program.kill()
                cls.program.wait()
        cls.dir.cleanup()

    @classmethod
    def replies(cls):
        return SimControl(cls.control).replies()

    @classmethod
    def status(cls, *args):
        # No display and a platform that does not exist: a start that made
        # a window, or even a GUI application object, would fail here.
        env = dict(cls.env, QT_QPA_PLATFORM="no-such-platform")
        env.pop("DISPLAY", None)
        env.pop("WAYLAND_DISPLAY", None)
        return subprocess.run([SIM, "--status", *args], env=env, capture_output=True, timeout=10)

    @classmethod
    def status_json(cls, check=True):
        import json
        r = cls.status("--json")
        if r.returncode != 0:
            if check:
                raise AssertionError(r)
            return None
        return json.loads(r.stdout)

    def command(self, text):
        SimControl(self.control).command(text)

    def window(self):
        report = SimControl(self.control).window()
        self.assertTrue(report, "no window report came")
        return report

    @staticmethod
    def reply_of_json(j):
        temps = ["-" if s["celsius"] is None else str(s["celsius"]) for s in j["sensors"]]
        return [str(j["unit_state"]), *temps, str(j["front_fan_rpm"]), str(j["rear_fan_rpm"])]

    def test_a_json_carries_what_the_unit_sent(self):
        j = self.status_json()
        sent = self.replies()[-2:]  # a poll may have come in between
        self.assertIn(self.reply_of_json(j), sent)
        self.assertEqual(j["version"], "1.22")
        self.assertIs(j["link_up"], True)
        self.assertLess(j["age_seconds"], 6.5)
        self.assertEqual(j["unit_caption"], CAPTIONS[j["unit_state"]])
        self.assertIn(j["status_colour"], ("green", "orange", "red"))
        evaporator, ambient, *missing = j["sensors"]
        self.assertEqual((evaporator["name"], evaporator["fitted"], evaporator["warning_celsius"],
                          evaporator["shutdown_celsius"]), ("Evaporator", True, -10, 0))
        t = evaporator["celsius"]
        self.assertEqual(evaporator["level"], 2 if t >= 0 else 1 if t >= -10 else 0)
        self.assertEqual((ambient["name"], ambient["fitted"], ambient["level"], ambient["warning_celsius"],
                          ambient["shutdown_celsius"]), ("Ambient", True, 0, 40, 50))
        for s in missing:  # the unit has nothing fitted there
            self.assertEqual((s["name"], s["fitted"], s["celsius"]), ("N/A", False, None))
        self.assertIsInstance(j["running_hours"], int)
        self.assertGreater(j["cpu_clock_mhz"], 0)
        self.assertTrue(0 <= j["cpu_load_percent"] <= 100)
        self.assertEqual((j["shutdown_armed"], j["shutdown_seconds_left"]), (False, 0))

    def test_b_table(self):
        r = self.status()
        self.assertEqual((r.returncode, r.stderr), (0, b""))
        text = r.stdout.decode()
        self.assertTrue(text.startswith("Vornalith Control Centre 1.22\n"), text)
        self.assertIn("\nLink            up\n", text)
        rows = {line.split()[1]: line.split()[2] for line in text.splitlines() if line[:1] in "12345"}
        self.assertEqual(set(rows), {"Evaporator", "Ambient"})
        self.assertIn([rows["Evaporator"], rows["Ambient"]], [r[1:3] for r in self.replies()[-2:]])

    def test_c_metrics_file(self):
        with open(self.metrics) as f:
            families = {fam.name: fam for fam in text_string_to_metric_families(f.read())}
        j = self.status_json()
        samples = {(s.name, tuple(sorted(s.labels.items()))): s.value
                   for fam in families.values() for s in fam.samples}
        def labels(*pairs):
            return tuple(sorted(pairs))
        ev = (("name", "Evaporator"), ("sensor", "1"))
        am = (("name", "Ambient"), ("sensor", "2"))
        # The file and the status may be one poll apart: both must be replies the unit sent.
        sent = self.replies()[-3:]
        from_file = [str(int(samples[("vornalith_unit_state", ())])),
                     str(int(samples[("vornalith_temperature_celsius", ev)])),
                     str(int(samples[("vornalith_temperature_celsius", am)])), "-", "-", "-",
                     str(int(samples[("vornalith_fan_rpm", (("fan", "front"),))])),
                     str(int(samples[("vornalith_fan_rpm", (("fan", "rear"),))]))]
        self.assertIn(from_file, sent)
        t = samples[("vornalith_temperature_celsius", ev)]
        expected = {
            ("vornalith_link_up", ()): 1,
            ("vornalith_sensor_level", ev): 2 if t >= 0 else 1 if t >= -10 else 0,
            ("vornalith_sensor_level", am): 0,
            ("vornalith_limit_celsius", labels(*ev, ("kind", "warning"))): -10,
            ("vornalith_limit_celsius", labels(*ev, ("kind", "shutdown"))): 0,
            ("vornalith_limit_celsius", labels(*am, ("kind", "warning"))): 40,
            ("vornalith_limit_celsius", labels(*am, ("kind", "shutdown"))): 50,
            ("vornalith_shutdown_armed", ()): 0,
            ("vornalith_running_hours", ()): j["running_hours"],
        }
        for key, value in expected.items():
            self.assertEqual(samples.get(key), value, key)
        self.assertEqual(set(families), {
            "vornalith_temperature_celsius", "vornalith_sensor_level", "vornalith_limit_celsius",
            "vornalith_fan_rpm", "vornalith_unit_state", "vornalith_link_up", "vornalith_shutdown_armed",
            "vornalith_running_hours", "vornalith_last_reply_timestamp_seconds", "vornalith_cpu_load_ratio",
            "vornalith_cpu_clock_hertz"})
        # Every sample is one of these: nothing for the sensors without a reading.
        self.assertEqual(len(samples), len(expected) + 2 + 2 + 3 + 1)
        for fam in families.values():
            self.assertEqual(fam.type, "gauge")
            self.assertTrue(fam.documentation)
        self.assertLess(abs(samples[("vornalith_last_reply_timestamp_seconds", ())] - time.time()), 10)
        self.assertTrue(0 <= samples[("vornalith_cpu_load_ratio", ())] <= 1)
        self.assertEqual(samples[("vornalith_cpu_clock_hertz", ())], j["cpu_clock_mhz"] * 1e6)

    def test_d_node_exporter_serves_the_series_and_readers_see_whole_files(self):
        port = free_port()
        exporter = subprocess.Popen(
            [NODE_EXPORTER, "--web.listen-address=127.0.0.1:%d" % port, "--collector.disable-defaults",
             "--collector.textfile", "--collector.textfile.directory=" + os.path.dirname(self.metrics)],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            def scrape():
                try:
                    with urllib.request.urlopen("http://127.0.0.1:%d/metrics" % port, timeout=2) as r:
                        return r.read().decode()
                except OSError:
                    return None
            body = wait_for(scrape, 15, 0.2)
            self.assertIsNotNone(body)
            served = {s.name: s for fam in text_string_to_metric_families(body) for s in fam.samples}
            self.assertEqual(served["node_textfile_scrape_error"].value, 0)
            self.assertEqual(served["vornalith_link_up"].value, 1)
            self.assertIn("vornalith_temperature_celsius", served)
            self.assertIn("vornalith_cpu_clock_hertz", served)

            # Meanwhile the program rewrites the file every 3 s; whoever reads
            # it finds a whole file every time.
            writes, last, deadline = 0, None, time.monotonic() + 7
            while time.monotonic() < deadline:
                with open(self.metrics) as f:
                    text = f.read()
                self.assertTrue(text.startswith("# HELP vornalith_link_up") and
                                text.rstrip("\n").split("\n")[-1].startswith("vornalith_cpu_clock_hertz "), text)
                writes += text != last
                last = text
            self.assertGreaterEqual(writes, 2)
        finally:
            exporter.terminate()
            exporter.wait(10)

    def test_e_status_leaves_the_window_alone(self):
        self.command("minimise")
        before = self.window()
        self.assertIn("minimised=1", before)
        for args in ((), ("--json",)):
            self.assertEqual(self.status(*args).returncode, 0)
        self.assertEqual(self.window(), before)  # no window forward, no new window
        # A plain second start does bring it back.
        subprocess.run([SIM], env=self.env, timeout=10, capture_output=True)
        self.assertTrue(wait_for(lambda: "minimised=0" in self.window(), 5))

    def test_f_unplugged(self):
        self.command("unplug")
        j = wait_for(lambda: (lambda j: j if j and not j["link_up"] else None)(self.status_json()), 10)
        self.assertIsNotNone(j)
        time.sleep(1.5)
        later = self.status_json()
        self.assertIs(later["link_up"], False)
        self.assertEqual(later["last_reply"], j["last_reply"])
        self.assertGreaterEqual(later["age_seconds"], j["age_seconds"] + 1.0)
        self.assertIn("\nLink            lost\n", self.status().stdout.decode())
        with open(self.metrics) as f:
            self.assertIn("vornalith_link_up 0\n", f.read())

    def test_g_a_thousand_idle_connections(self):
        # A runaway process of the same user opens a thousand connections and
        # says nothing; the program's descriptor limit is lowered so that a
        # thousand would use them all up.
        sock, = glob.glob(os.path.join(self.env["XDG_RUNTIME_DIR"], "*.sock"))
        saved = resource.prlimit(self.program.pid, resource.RLIMIT_NOFILE)
        in_use = len(os.listdir("/proc/%d/fd" % self.program.pid))
        resource.prlimit(self.program.pid, resource.RLIMIT_NOFILE, (in_use + 64, saved[1]))
        ours = resource.getrlimit(resource.RLIMIT_NOFILE)
        resource.setrlimit(resource.RLIMIT_NOFILE, (max(ours[0], min(ours[1], 4096)), ours[1]))
        idle = []
        try:
            for _ in range(1000):
                s = socket.socket(socket.AF_UNIX)
                idle.append(s)
                s.settimeout(1)
                try:
                    s.connect(sock)
                except (socket.timeout, BlockingIOError):  # not taken yet
                    pass
                except OSError:  # the socket is gone
                    break
            self.assertTrue(os.path.exists(sock), "the socket file vanished")
            self.assertTrue(wait_for(lambda: self.status().returncode == 0, 15, 0.5))
            second = subprocess.run([SIM], env=self.env, timeout=10, capture_output=True)
            self.assertEqual(second.returncode, 0)
            self.assertIsNone(self.program.poll())
            self.assertTrue(os.path.exists(sock))
        finally:
            for s in idle:
                s.close()
            resource.prlimit(self.program.pid, resource.RLIMIT_NOFILE, saved)
            resource.setrlimit(resource.RLIMIT_NOFILE, ours)

    def test_z_nothing_running(self):
        self.program.terminate()
        self.program.wait(15)
        for args in ((), ("--json",)):
            started = time.monotonic()
            r = self.status(*args)
            self.assertEqual((r.returncode, r.stdout, r.stderr), (3, b"", NOT_RUNNING))
            self.assertLess(time.monotonic() - started, 3.5)


# Listens on every socket name the program could take in the temporary
# folder, and answers each request with made-up status.
INTRUDER = r"""
import os, select, socket, sys
tmp, name, uid = sys.argv[1:]
os.mkdir(os.path.join(tmp, "vornalith-" + uid), 0o777)
listeners = []
for path in (os.path.join(tmp, name), os.path.join(tmp, "vornalith-" + uid, name)):
    s = socket.socket(socket.AF_UNIX)
    s.bind(path)
    s.listen(8)
    listeners.append(s)
print("ready", flush=True)
while True:
    for s in select.select(listeners, [], [])[0]:
        c = s.accept()[0]
        c.sendall(b'{"version": "6.66 intruder"}\n')
        c.close()
"""


@unittest.skipUnless(os.geteuid() == 0, "needs root to run a listener as another user")
class AnotherUserListensFirst(unittest.TestCase):
    def test_the_program_still_starts_and_watches(self):
        with tempfile.TemporaryDirectory() as d:
            os.chmod(d, 0o755)
            tmp = os.path.join(d, "tmp")
            os.mkdir(tmp)
            os.chmod(tmp, 0o1777)
            # Too deep for a socket address: the socket has to stand in elsewhere.
            runtime = os.path.join(d, "runtime")
            while len(runtime) < 120:
                runtime += "/a-rather-long-folder-name"
            os.makedirs(runtime, mode=0o700)
            control = os.path.join(d, "control")
            env = dict(os.environ, XDG_RUNTIME_DIR=runtime, TMPDIR=tmp, XDG_CONFIG_HOME=os.path.join(d, "config"),
                       XDG_STATE_HOME=os.path.join(d, "state"), QT_QPA_PLATFORM="offscreen",
                       VCC_SIM_CONTROL=control)
            digest = hashlib.sha1(b"Vornalith Control Centre 1.22").hexdigest()[:16]
            name = "vornalith-%s-%d-%s.sock" % (digest, os.getuid(), hashlib.sha1(runtime.encode()).hexdigest()[:8])
            intruder = subprocess.Popen([sys.executable, "-c", INTRUDER, tmp, name, str(os.getuid())], cwd=tmp,
                                        user=65534, group=65534, extra_groups=[], stdout=subprocess.PIPE)
            program = None
            try:
                self.assertEqual(intruder.stdout.readline(), b"ready\n")
                with open(os.path.join(d, "stderr"), "w+b") as err:
                    program = subprocess.Popen([SIM], env=env, stdout=subprocess.DEVNULL, stderr=err)
                    # Its unit has answered twice: it is watched.
                    self.assertTrue(wait_for(lambda: program.poll() is not None or len(SimControl(control).replies()) >= 2))
                    self.assertIsNone(program.poll(), "the start ended")
                    r = subprocess.run([SIM, "--status", "--json"], env=env, capture_output=True, timeout=10)
                    self.assertNotIn(b"intruder", r.stdout)
                    self.assertEqual(r.returncode, 3)
                    err.seek(0)
                    self.assertIn(b"running without the guard against a second start", err.read())
            finally:
                intruder.kill()
                intruder.wait()
                intruder.stdout.close()
                if program and program.poll() is None:
                    program.terminate()
                    program.wait(15)


if __name__ == "__main__":
    unittest.main(verbosity=2)
