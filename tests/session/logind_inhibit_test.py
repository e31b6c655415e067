#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
# The -sim program against python3-dbusmock's logind on a private system bus:
# it holds a "delay" lock on shutdown while it runs, closes through its close
# path when logind announces a shutdown, and leaves no lock behind. Without
# logind on the bus it starts and polls as before. The machine's own system
# bus is never touched.

import os
import shutil
import signal
import subprocess
import sys
import time
import unittest

import dbus
import dbusmock

PROGRAM = sys.argv[1]
SCRATCH = sys.argv[2]
LOCK = ('shutdown', 'Vornalith Control Centre',
        'Telling the cooling unit that the computer shuts down', 'delay')


def wait_until(condition, seconds):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        if condition():
            return True
        time.sleep(0.05)
    return condition()


def requests(log):
    try:
        with open(log, encoding='ascii') as f:
            return [line.split() for line in f if line.strip()]
    except FileNotFoundError:
        return []


def status_reads(log):
    return sum(1 for r in requests(log) if r == ['01', '01', '04'])


class LogindInhibit(dbusmock.DBusTestCase):
    @classmethod
    def setUpClass(cls):
        cls.start_system_bus()

    def start_program(self, name):
        folder = os.path.join(SCRATCH, name)
        shutil.rmtree(folder, ignore_errors=True)
        env = dict(os.environ, QT_QPA_PLATFORM='offscreen')
        for var, sub in (('XDG_CONFIG_HOME', 'config'), ('XDG_STATE_HOME', 'state'),
                         ('XDG_RUNTIME_DIR', 'runtime')):
            env[var] = os.path.join(folder, sub)
            os.makedirs(env[var], mode=0o700)
        control = os.path.join(folder, 'control')
        log = control + '.requests'
        env['VCC_SIM_CONTROL'] = control
        program = subprocess.Popen([PROGRAM], env=env, stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL)
        self.addCleanup(lambda: program.poll() is None and (program.kill(), program.wait()))
        # The window is up and the unit has reported its hours once the first
        # poll, 3 s after start-up, has read the status a second time.
        self.assertTrue(wait_until(lambda: status_reads(log) >= 2, 20), 'the program did not poll')
        return program, log

    def assert_close_path_last(self, log):
        sent = requests(log)
        blank = ['20'] * 24
        self.assertGreaterEqual(len(sent), 3)
        write02, line1, line2 = sent[-3:]
        self.assertEqual(write02[:3], ['01', '02', '02'])
        self.assertGreater(int(write02[3 + 18] + write02[3 + 17], 16), 0, 'running hours')
        self.assertEqual(line1, ['01', '06', '02'] + blank + ['04'])
        self.assertEqual(line2, ['01', '07', '02'] + blank + ['04'])
        self.assertEqual(sum(1 for r in sent if r[:3] == ['01', '06', '02'] and r[3:27] == blank), 1)

    def test_delay_lock_and_prepare_for_shutdown(self):
        mock, logind = self.spawn_server_template('logind', {}, stdout=subprocess.DEVNULL)
        self.addCleanup(lambda: (mock.terminate(), mock.wait()))
        manager = dbus.Interface(logind, 'org.freedesktop.login1.Manager')

        program, log = self.start_program('with_logind')
        locks = lambda: [tuple(str(v) for v in lock[:4]) for lock in manager.ListInhibitors()]
        self.assertTrue(wait_until(lambda: locks() == [LOCK], 10), f'locks held: {locks()}')

        logind.EmitSignal('org.freedesktop.login1.Manager', 'PrepareForShutdown', 'b', [True],
                          dbus_interface=dbusmock.MOCK_IFACE)
        self.assertEqual(program.wait(timeout=15), 0)
        self.assert_close_path_last(log)
        self.assertTrue(wait_until(lambda: locks() == [], 5), f'left behind: {locks()}')

    def test_without_logind_starts_and_polls(self):
        program, log = self.start_program('without_logind')
        self.assertTrue(wait_until(lambda: status_reads(log) >= 3, 10), 'polling stopped')
        program.send_signal(signal.SIGTERM)
        self.assertEqual(program.wait(timeout=15), 0)
        self.assert_close_path_last(log)


if __name__ == '__main__':
    unittest.main(argv=[sys.argv[0]], verbosity=2)
