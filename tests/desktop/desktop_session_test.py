#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""The -sim program in a desktop session of its own, as users run it: a private
session bus, PipeWire with WirePlumber and pipewire-pulse playing into a null
sink, a notification server (python-dbusmock), a StatusNotifierWatcher and a
headless Weston. Checks that the alarm is heard, the notification-area icon
and its menu work over D-Bus, desktop notifications follow the unit's
condition, and the program runs and closes on Wayland.

Usage: desktop_session_test.py <vornalith-control-centre-sim> <Alarm.wav>
Everything started here is ended here; every wait is bounded."""

import array
import glob
import os
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import traceback
import wave
import struct
import zlib

import dbus

HERE = os.path.dirname(os.path.abspath(__file__))
SNI = 'org.kde.StatusNotifierItem'
PROPS = 'org.freedesktop.DBus.Properties'
MENU = 'com.canonical.dbusmenu'
NOTIFY_PATH = '/org/freedesktop/Notifications'
RATE = 22050
# How long the first warning lasts, in seconds of 3 s polls.
WARNING_SECONDS = 60
SHUTDOWN_BODY = ('The computer powers off in 3 minutes unless the temperature falls. '
                 'Close the control centre to cancel.')


class Failure(Exception):
    pass


def wait_until(what, predicate, timeout, step=0.1):
    deadline = time.monotonic() + timeout
    while True:
        try:
            value = predicate()
        except dbus.DBusException:
            value = None
        if value:
            return value
        if time.monotonic() > deadline:
            raise Failure(f'timed out after {timeout} s waiting for {what}')
        time.sleep(step)


def check(condition, message):
    if not condition:
        raise Failure(message)
    print(f'  ok: {message}')


class Session:
    def __init__(self, program, wav):
        self.program = program
        self.wav = wav
        self.work = tempfile.mkdtemp(prefix='vcc-desktop-')
        self.procs = []  # (name, Popen), in start order
        self.runtime = os.path.join(self.work, 'runtime')
        os.mkdir(self.runtime, 0o700)
        env = {k: v for k, v in os.environ.items()
               if not k.startswith(('DBUS_', 'XDG_', 'WAYLAND_', 'PULSE_', 'PIPEWIRE_', 'QT_'))
               and k not in ('DISPLAY', 'XAUTHORITY')}
        env.update(HOME=self.work, XDG_RUNTIME_DIR=self.runtime,
                   XDG_CONFIG_HOME=os.path.join(self.work, 'config'),
                   XDG_STATE_HOME=os.path.join(self.work, 'state'),
                   XDG_DATA_HOME=os.path.join(self.work, 'data'),
                   XDG_CACHE_HOME=os.path.join(self.work, 'cache'),
                   DBUS_SYSTEM_BUS_ADDRESS='unix:path=' + os.path.join(self.work, 'no-system-bus'))
        self.env = env
        self.bus = None

    # --- processes -------------------------------------------------------
    def start(self, name, argv, env=None, **kw):
        log = open(os.path.join(self.work, name + '.log'), 'ab')
        proc = subprocess.Popen(argv, env=env or self.env, stdout=kw.pop('stdout', log), stderr=log,
                                stdin=subprocess.DEVNULL, start_new_session=True, **kw)
        self.procs.append((name, proc))
        return proc

    def stop(self, name, sig=signal.SIGTERM, timeout=5):
        for entry in [e for e in self.procs if e[0] == name]:
            proc = entry[1]
            if proc.poll() is None:
                try:
                    os.killpg(proc.pid, sig)
                    proc.wait(timeout)
                except subprocess.TimeoutExpired:
                    os.killpg(proc.pid, signal.SIGKILL)
                    proc.wait(timeout)
                except ProcessLookupError:
                    pass
            self.procs.remove(entry)

    def close(self):
        for name, _ in reversed(list(self.procs)):
            self.stop(name)
        shutil.rmtree(self.work, ignore_errors=True)

    def log(self, name):
        try:
            with open(os.path.join(self.work, name + '.log'), errors='replace') as f:
                return f.read()
        except OSError:
            return ''

    # --- session bus ---------------------------------------------------------
    def start_bus(self):
        proc = self.start('dbus-daemon', ['dbus-daemon', '--session', '--nofork', '--print-address=1'],
                          stdout=subprocess.PIPE)
        ready, _, _ = select.select([proc.stdout], [], [], 10)
        if not ready:
            raise Failure('the session bus did not start')
        address = proc.stdout.readline().decode().strip()
        self.env['DBUS_SESSION_BUS_ADDRESS'] = address
        self.bus = dbus.bus.BusConnection(address)

    def has_name(self, name):
        return bool(self.bus.name_has_owner(name))

    # --- sound ---------------------------------------------------------------
    def pactl(self, *args):
        return subprocess.run(['pactl', *args], env=self.env, capture_output=True, text=True,
                              timeout=5)

    def start_sound(self):
        self.start('pipewire', ['pipewire'])
        wait_until('the PipeWire socket', lambda: os.path.exists(os.path.join(self.runtime, 'pipewire-0')), 10)
        self.start('wireplumber', ['wireplumber'])
        self.start('pipewire-pulse', ['pipewire-pulse'])
        wait_until('pipewire-pulse', lambda: self.pactl('info').returncode == 0, 10)
        loaded = self.pactl('load-module', 'module-null-sink', 'sink_name=vcc_null')
        if loaded.returncode != 0:
            raise Failure('no null sink: ' + loaded.stderr)
        wait_until('the null sink as default', lambda: self.pactl('set-default-sink', 'vcc_null').returncode == 0
                   and self.pactl('get-default-sink').stdout.strip() == 'vcc_null', 10)

    def stop_sound(self):
        for name in ('pipewire-pulse', 'wireplumber', 'pipewire'):
            self.stop(name)

    def record(self):
        path = os.path.join(self.work, 'capture-%d.raw' % time.monotonic_ns())
        out = open(path, 'wb')
        proc = self.start('parec', ['parec', '-d', 'vcc_null.monitor', '--format=s16le', '--rate=%d' % RATE,
                                    '--channels=1', '--latency-msec=20', '--raw'], stdout=out)
        return path, proc

    def end_recording(self, recording):
        path, _ = recording
        self.stop('parec', signal.SIGINT)
        samples = array.array('h')
        with open(path, 'rb') as f:
            data = f.read()
        samples.frombytes(data[:len(data) // 2 * 2])
        return samples

    # --- services ------------------------------------------------------------
    def start_notifications(self):
        self.start('notifications', [sys.executable, '-m', 'dbusmock', '--template', 'notification_daemon'])
        wait_until('the notification server', lambda: self.has_name('org.freedesktop.Notifications'), 10)

    def notifications(self):
        mock = self.bus.get_object('org.freedesktop.Notifications', NOTIFY_PATH)
        calls = mock.GetCalls(dbus_interface='org.freedesktop.DBus.Mock', timeout=5)
        return [call[2] for call in calls if call[1] == 'Notify']

    def notification_ids(self):
        """(id, Notify arguments) of each call: the server's answer, which is
        the id replaced or else the next of 1, 2, 3 ..."""
        numbered, next_id = [], 1
        for note in self.notifications():
            if int(note[1]):
                numbered.append((int(note[1]), note))
            else:
                numbered.append((next_id, note))
                next_id += 1
        return numbered

    def find(self, summary, body=None):
        """(id, arguments) of the notifications with that summary (and body)."""
        return [(i, n) for i, n in self.notification_ids()
                if str(n[3]) == summary and (body is None or str(n[4]) == body)]

    def invoke_action(self, id_, action):
        mock = self.bus.get_object('org.freedesktop.Notifications', NOTIFY_PATH)
        mock.EmitSignal('org.freedesktop.Notifications', 'ActionInvoked', 'us',
                        [dbus.UInt32(id_), action], dbus_interface='org.freedesktop.DBus.Mock')

    def start_watcher(self):
        self.start('watcher', [sys.executable, os.path.join(HERE, 'sni_watcher.py')])
        wait_until('the StatusNotifierWatcher', lambda: self.has_name('org.kde.StatusNotifierWatcher'), 10)

    def items(self):
        watcher = self.bus.get_object('org.kde.StatusNotifierWatcher', '/StatusNotifierWatcher')
        return list(watcher.Get('org.kde.StatusNotifierWatcher', 'RegisteredStatusNotifierItems',
                                dbus_interface=PROPS, timeout=5))

    def start_weston(self):
        # Drawn in memory, and screenshots allowed: what is on screen is read
        # from the compositor itself.
        self.start('weston', ['weston', '--backend=headless-backend.so', '--use-pixman', '--debug',
                              '--width=800', '--height=600', '--socket=wayland-vcc',
                              '--idle-time=0', '--no-config'])
        wait_until('Weston', lambda: os.path.exists(os.path.join(self.runtime, 'wayland-vcc')), 10)

    def screen_rows(self):
        """The compositor's screen below its panel (whose clock changes), as
        rows of pixels."""
        shots = os.path.join(self.work, 'shots')
        shutil.rmtree(shots, ignore_errors=True)
        os.mkdir(shots)
        subprocess.run(['weston-screenshooter'], env=dict(self.env, WAYLAND_DISPLAY='wayland-vcc'),
                       cwd=shots, capture_output=True, timeout=10)
        names = os.listdir(shots)
        if not names:
            raise Failure('Weston took no screenshot')
        with open(os.path.join(shots, names[0]), 'rb') as f:
            data = f.read()
        width, height, depth, colour = struct.unpack('>IIBB', data[16:26])
        chunks, at = [], 8
        while at < len(data):
            length, kind = struct.unpack('>I4s', data[at:at + 8])
            if kind == b'IDAT':
                chunks.append(data[at + 8:at + 8 + length])
            at += 12 + length
        assert depth == 8
        return unfiltered(zlib.decompress(b''.join(chunks)), width, height, {2: 3, 6: 4}[colour])[45:]

    # --- the program ---------------------------------------------------------
    def start_program(self, settings='', args=()):
        self.control = os.path.join(self.work, 'control-%d' % time.monotonic_ns())
        open(self.control, 'w').close()
        folder = os.path.join(self.env['XDG_CONFIG_HOME'], 'quelmark')
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, 'tessalinique.conf'), 'w') as f:
            f.write('[General]\n' + settings)
        env = dict(self.env, QT_QPA_PLATFORM='wayland', WAYLAND_DISPLAY='wayland-vcc',
                   VCC_SIM_CONTROL=self.control, QT_LOGGING_RULES=os.environ.get('VCC_QT_LOGGING', ''))
        if 'LSAN_OPTIONS' in os.environ:
            # On Wayland, EGL loads Mesa's software driver and unloads it at
            # exit; a block it keeps in its globals then looks lost to
            # LeakSanitizer, with no library left to name it by. Loaded from
            # the start, the driver stays, and so do its blocks.
            env['LD_PRELOAD'] = ' '.join(glob.glob('/usr/lib/*/dri/swrast_dri.so'))
        return self.start('program', [self.program, *args], env=env)

    def command(self, line):
        with open(self.control, 'a') as f:
            f.write(line + '\n')

    def state(self):
        try:
            with open(self.control + '.state') as f:
                return dict(line.split('=', 1) for line in f.read().splitlines() if '=' in line)
        except OSError:
            return {}


def unfiltered(data, width, height, bpp):
    """A PNG's decompressed scan lines undone to pixels (filters 0 to 4)."""
    stride = width * bpp
    rows, prev = [], bytearray(stride)
    for y in range(height):
        kind = data[y * (stride + 1)]
        row = bytearray(data[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride) if kind else ():
            a = row[i - bpp] if i >= bpp else 0
            b, c = prev[i], (prev[i - bpp] if i >= bpp else 0)
            if kind == 1:
                add = a
            elif kind == 2:
                add = b
            elif kind == 3:
                add = (a + b) // 2
            else:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                add = a if pa <= pb and pa <= pc else b if pb <= pc else c
            row[i] = (row[i] + add) & 255
        rows.append(bytes(row))
        prev = row
    return rows


# --- the icon over D-Bus -------------------------------------------------------

def split_item(item):
    if '/' in item:
        service, path = item.split('/', 1)
        return service, '/' + path
    return item, '/StatusNotifierItem'


class Item:
    def __init__(self, session, item):
        self.session = session
        self.service, self.path = split_item(item)

    def obj(self):
        return self.session.bus.get_object(self.service, self.path, introspect=False)

    def get(self, name):
        return self.obj().Get(SNI, name, dbus_interface=PROPS, timeout=5)

    def tooltip(self):
        return str(self.get('ToolTip')[2])

    def icon_visible(self):
        """Whether the picture shows anything (the blink's second picture is
        fully transparent)."""
        pixmaps = self.get('IconPixmap')
        if not pixmaps:
            return False
        data = bytes(pixmaps[0][2])
        return any(data[i] for i in range(0, len(data), 4))  # ARGB, alpha first

    def activate(self):
        self.obj().Activate(dbus.Int32(0), dbus.Int32(0), dbus_interface=SNI, timeout=5)

    def menu(self):
        """(id, label) of the menu's items, separators left out."""
        menu = self.session.bus.get_object(self.service, self.get('Menu'), introspect=False)
        _, layout = menu.GetLayout(dbus.Int32(0), dbus.Int32(-1), dbus.Array([], signature='s'),
                                   dbus_interface=MENU, timeout=5)
        entries = []
        for child in layout[2]:
            props = child[1]
            if props.get('type') != 'separator':
                entries.append((int(child[0]), str(props.get('label', ''))))
        return entries

    def click(self, label):
        ids = [i for i, text in self.menu() if text == label]
        if not ids:
            raise Failure(f'no menu item "{label}"')
        menu = self.session.bus.get_object(self.service, self.get('Menu'), introspect=False)
        menu.Event(dbus.Int32(ids[0]), 'clicked', dbus.Int32(0, variant_level=1), dbus.UInt32(0),
                   dbus_interface=MENU, timeout=5)


def icon_samples(item, seconds):
    """Whether the icon shows a picture, every 0.1 s for that long."""
    shown = []
    until = time.monotonic() + seconds
    while time.monotonic() < until:
        shown.append(item.icon_visible())
        time.sleep(0.1)
    return shown


def registered_item(session, timeout):
    items = wait_until('the program\'s StatusNotifierItem', session.items, timeout)
    return Item(session, items[-1])


# --- the alarm heard -----------------------------------------------------------

def loud_span(samples, rate, threshold):
    loud = [i for i, s in enumerate(samples) if abs(s) > threshold]
    return (loud[-1] - loud[0] + 1) / rate if loud else 0.0


def bursts(samples, rate, threshold, gap=0.1):
    """(start, length) in seconds of each stretch of sound; silences shorter
    than the gap belong to the stretch."""
    found, start, last = [], None, None
    for i, s in enumerate(samples):
        if abs(s) > threshold:
            if start is None:
                start = i
            elif i - last > gap * rate:
                found.append((start / rate, (last - start + 1) / rate))
                start = i
            last = i
    if start is not None:
        found.append((start / rate, (last - start + 1) / rate))
    return found


def wav_reference(path):
    with wave.open(path) as w:
        assert w.getsampwidth() == 2 and w.getnchannels() == 1
        samples = array.array('h', w.readframes(w.getnframes()))
        rate = w.getframerate()
    peak = max(abs(s) for s in samples)
    threshold = peak // 20
    return loud_span(samples, rate, threshold), threshold, w.getnframes() / rate


def check_heard(samples, expected, threshold, what):
    duration = len(samples) / RATE
    found = bursts(samples, RATE, threshold)
    # Stretches cut by the start or end of the recording say nothing of length.
    # The recorder hands over its last buffers late, so the end's margin is wide.
    whole = [b for b in found if b[0] > 0.05 and b[0] + b[1] < duration - 0.3]
    check(whole, f'{what}: the alarm was heard ({len(found)} sounds in {duration:.1f} s recorded)')
    lengths = ', '.join(f'{b[1]:.3f}' for b in whole)
    # A loaded machine may drop a few captured buffers, which shortens one
    # sound; a sound cut short by the program, or looped, shows in most of them.
    fitting = [b for b in whole if abs(b[1] - expected) <= 0.06]
    check(len(fitting) * 2 > len(whole) and all(b[1] <= expected + 0.06 for b in whole),
          f'{what}: each lasts as long as the sound file\'s {expected:.3f} s ({lengths})')


# --- the runs ----------------------------------------------------------------

def run_main(session):
    """Wayland, the watcher there from the start, the alarm sound chosen."""
    expected, threshold, file_length = wav_reference(session.wav)
    print(f'Alarm.wav: {file_length:.3f} s, sound for {expected:.3f} s of it')
    program = session.start_program('Sensor2=sz:Ambient\n')
    item = registered_item(session, 20)
    check(True, 'the program registered its StatusNotifierItem with the watcher (Wayland)')
    labels = [label for _, label in item.menu()]
    check(labels == ['Open', 'History', 'About', 'Exit'], f'the icon\'s menu offers {labels}')
    wait_until('the first polls', lambda: session.state().get('line2', '20' * 16).strip('20'), 10)
    normal_tip = wait_until('the first tray hint', item.tooltip, 10)

    recording = session.record()
    time.sleep(0.5)
    warning_began = time.monotonic()
    session.command('force 81')
    tip = wait_until('the tooltip to follow the warning',
                     lambda: (t := item.tooltip()) == 'RESTART DELAY' and t, 10)
    check(tip == 'RESTART DELAY', f'the tooltip follows the tray hint: "{normal_tip}" -> "{tip}"')
    time.sleep(7)
    check_heard(session.end_recording(recording), expected, threshold, 'warning')

    # The sound server goes away in the middle of the warning.
    session.stop_sound()
    worst = 0.0
    until = time.monotonic() + 7
    while time.monotonic() < until:
        t0 = time.monotonic()
        item.tooltip()
        worst = max(worst, time.monotonic() - t0)
        time.sleep(0.2)
    check(worst < 1.5 and program.poll() is None,
          f'without a sound server the program stays responsive (slowest answer {worst:.2f} s)')
    session.start_sound()
    time.sleep(1)
    recording = session.record()
    time.sleep(7)
    check_heard(session.end_recording(recording), expected, threshold, 'a new sound server')

    # The icon's main action and its menu, while the warning lasts.
    session.command('minimise')
    wait_until('the window in the notification area', lambda: session.state().get('window') == 'hidden', 5)
    item.activate()
    wait_until('Activate to restore the window', lambda: session.state().get('window') == 'shown', 5)
    check(True, 'minimised into the notification area, Activate brings the window back')
    session.command('minimise')
    wait_until('the window in the notification area', lambda: session.state().get('window') == 'hidden', 5)
    item.click('Open')
    wait_until('"Open" to restore the window', lambda: session.state().get('window') == 'shown', 5)
    check(True, 'the menu\'s "Open" brings the window back')
    item.click('About')
    modal = wait_until('the About box', lambda: session.state().get('modal'), 5)
    check(modal == 'Vornalith Control Centre 1.21', f'the menu\'s "About" shows "{modal}"')
    session.command('closemodal')
    wait_until('the About box to close', lambda: not session.state().get('modal'), 5)

    left = WARNING_SECONDS - (time.monotonic() - warning_began)
    if left > 0:
        time.sleep(left)
    polls = int((time.monotonic() - warning_began) / 3)
    notes = session.notifications()
    warnings = [n for n in notes if str(n[3]) == 'Cooling unit warning']
    check(len(warnings) == 1 and str(warnings[0][4]) == 'RESTART DELAY',
          f'one warning notification over {polls} polls of the warning: '
          f'{[str(n[4]) for n in warnings]}')
    first = warnings[0]
    check(str(first[0]) == 'Vornalith Control Centre' and int(first[1]) == 0,
          'it comes from "Vornalith Control Centre" and replaces nothing')
    check(str(first[2]) != '', f'with the program\'s icon "{first[2]}"')
    warning_id = session.find('Cooling unit warning')[0][0]

    # The emergency shutdown: armed, blinking, cancelled, armed again.
    session.command('force 80')
    armed = wait_until('the armed-shutdown notification', lambda: session.find('Emergency shutdown armed'), 10)
    armed_id, note = armed[0]
    check(str(note[4]) == SHUTDOWN_BODY, 'armed: the body tells how to cancel')
    check(int(note[6].get('urgency', 0)) == 2, 'armed: urgency critical')
    check(list(map(str, note[5])) == ['cancel-shutdown', 'Cancel shutdown'], 'armed: a "Cancel shutdown" action')
    seen = set()
    until = time.monotonic() + 4
    while time.monotonic() < until and len(seen) < 2:
        seen.add(item.icon_visible())
        time.sleep(0.05)
    check(seen == {True, False}, 'the armed shutdown blinks the icon (picture and blank in turn)')

    session.command('clear')
    cancelled = wait_until('the cancelled notification', lambda: session.find('Emergency shutdown cancelled'), 10)
    check(cancelled[0][0] == armed_id, 'cancelled: in the place of the armed notification')

    session.command('unplug')
    lost = wait_until('the link-lost notification', lambda: session.find('USB connection lost'), 15)
    session.command('plug')
    back = wait_until('the link-back notification', lambda: session.find('USB connection back'), 20)
    check(back[0][0] == lost[0][0], 'the link: lost, then back in its place')

    session.command('sensor 2 3')
    again = wait_until('a sensor warning', lambda: session.find('Cooling unit warning',
                                                                'Temperature warning on Ambient'), 10)
    check(again[0][0] == warning_id and int(again[0][1][1]) == warning_id,
          'a warning that comes back replaces the earlier one: "Temperature warning on Ambient"')

    session.command('force 80')
    wait_until('the shutdown armed again', lambda: len(session.find('Emergency shutdown armed')) == 2, 10)
    check(int(session.find('Emergency shutdown armed')[1][1][1]) == armed_id,
          'armed again: replaces its earlier notification')
    count = len(session.notification_ids())
    ids = {i for i, _ in session.notification_ids()}
    check(len(ids) == 3, f'three notifications on the desktop, one a kind of condition (ids {sorted(ids)})')
    session.invoke_action(armed_id, 'cancel-shutdown')
    try:
        code = program.wait(15)
    except subprocess.TimeoutExpired:
        raise Failure('"Cancel shutdown" did not close the program')
    state = session.state()
    blank = '20' * 16
    check(code == 0 and state.get('line1') == blank and state.get('line2') == blank,
          f'"Cancel shutdown" closes the program through its close path (exit {code}, front panel blanked)')
    check(len(session.notifications()) == count, 'nothing more was sent while the program closed')
    session.stop('program')


def run_late_watcher(session):
    """Wayland, the watcher appearing after the start, warnings ignored, then no
    notification server; "Exit" from the icon's menu."""
    session.stop('watcher')
    before = len(session.notifications())
    program = session.start_program('Warning%20handling%20Index=dword:3\n')
    wait_until('the program\'s first polls', lambda: session.state().get('line2'), 15)
    time.sleep(1)
    session.start_watcher()
    item = registered_item(session, 10)
    check(True, 'a watcher that appears after the start still gets the icon')
    session.command('force 81')
    wait_until('the warning', lambda: item.tooltip() == 'RESTART DELAY', 10)
    time.sleep(3.5)
    # An evaporator alarm under a normal unit state arms the shutdown without
    # the alarm action: the next reply stops the blink and nothing else
    # touches the icon.
    session.command('clear')
    session.command('sensor 1 5')
    wait_until('the armed-shutdown notification', lambda: [
        n for n in session.notifications()[before:] if str(n[3]) == 'Emergency shutdown armed'], 10)
    titles = [str(n[3]) for n in session.notifications()[before:]]
    check('Cooling unit warning' not in titles,
          f'"Ignore" silences warning notifications, never the armed shutdown: {titles}')
    session.command('sensor 1 -40')
    wait_until('the cancelled notification', lambda: [
        n for n in session.notifications()[before:] if str(n[3]) == 'Emergency shutdown cancelled'], 10)
    shown = icon_samples(item, 2)
    check(all(shown), f'once the blinking is over the icon shows ({shown.count(False)} of {len(shown)} blank)')

    # "Blinking tray icon": the reply that ends the warning stops the blink
    # wherever it is, on its blank picture too; the icon must show then.
    session.command('handling 1')
    session.command('force 81')
    wait_until('the warning again', lambda: item.tooltip() == 'RESTART DELAY', 10)
    time.sleep(3.5)
    session.command('clear')
    wait_until('the warning to end', lambda: item.tooltip() != 'RESTART DELAY', 10)
    shown = icon_samples(item, 2)
    check(all(shown), f'once a blinking warning is over the icon shows ({shown.count(False)} of {len(shown)} blank)')

    session.stop('notifications')
    session.command('unplug')
    time.sleep(3.5)
    session.command('plug')
    time.sleep(3.5)
    check(program.poll() is None and item.tooltip() != '',
          'without a notification server the program goes on as before')
    item.click('Exit')
    try:
        code = program.wait(15)
    except subprocess.TimeoutExpired:
        raise Failure('"Exit" did not close the program')
    state = session.state()
    check(code == 0 and state.get('line1') == '20' * 16 and state.get('line2') == '20' * 16,
          f'the menu\'s "Exit" closes the program through its close path (exit {code})')
    errors = [line for line in session.log('program').splitlines() if 'org.freedesktop.Notifications' in line]
    check(not errors, 'no complaint about the missing notification server')


def run_open_on_warning(session):
    """Wayland, "Open control center" chosen, desktop notifications off."""
    session.start_notifications()
    before = len(session.notifications())
    program = session.start_program('Warning%20handling%20Index=dword:2\nNotifications=dword:0\n')
    item = registered_item(session, 20)
    wait_until('the first tray hint', item.tooltip, 10)
    session.command('minimise')
    wait_until('the window in the notification area', lambda: session.state().get('window') == 'hidden', 5)
    session.command('force 82')
    wait_until('the warning to bring the window back', lambda: session.state().get('window') == 'shown', 10)
    check(True, '"Open control center" shows the minimised window again on a warning')
    session.command('unplug')
    time.sleep(4)
    check(len(session.notifications()) == before and program.poll() is None,
          'with "Desktop notifications" off nothing is sent')
    item.click('Exit')
    program.wait(15)


def run_no_watcher(session):
    """Wayland without a notification area: started minimised, minimised, and
    each time a second start."""
    session.stop('watcher')
    shots = [session.screen_rows()]
    # Weston fades its desktop in.
    wait_until('the desktop drawn', lambda: shots.append(session.screen_rows()) or
               shots[-1] == shots[-2] and any(map(any, shots[-1])), 10)
    empty = shots[-1]
    program = session.start_program(args=['--minimized'])
    wait_until('the program\'s first polls', lambda: session.state().get('line2'), 15)
    session.command('hide-unit')
    changed = lambda: sum(a != b for a, b in zip(empty, session.screen_rows()))
    wait_until('the window minimised at its start', lambda: not changed(), 10, step=0.5)
    check(True, '--minimized: nothing of the window is on screen')

    def second_start(what):
        again = subprocess.run([session.program], env=dict(session.env, QT_QPA_PLATFORM='wayland',
                                                           WAYLAND_DISPLAY='wayland-vcc'),
                               capture_output=True, timeout=20)
        rows = wait_until('the window back on screen', changed, 10, step=0.5)
        check(again.returncode == 0 and program.poll() is None,
              f'{what}: a second start brings the window back on screen ({rows} rows) and ends')

    second_start('started minimised')
    session.command('minimise')
    wait_until('the window minimised', lambda: not changed(), 10, step=0.5)
    check(session.state().get('window') != 'hidden',
          'without a notification area minimising leaves the window to the compositor, not hidden')
    second_start('minimised')
    session.command('close')
    program.wait(15)


def main():
    if len(sys.argv) != 3:
        print(__doc__)
        return 2
    program, wav = sys.argv[1], sys.argv[2]
    started = time.monotonic()
    session = Session(program, wav)
    failures = 0
    passed = 0
    try:
        session.start_bus()
        session.start_sound()
        session.start_notifications()
        session.start_watcher()
        session.start_weston()
        for run in (run_main, run_late_watcher, run_open_on_warning, run_no_watcher):
            print(f'{run.__name__}: {run.__doc__.split(chr(10))[0]}')
            try:
                run(session)
                passed += 1
            except Failure as e:
                failures += 1
                print(f'  FAILED: {e}')
                print('  --- program output ---\n' + session.log('program')[-4000:])
            except Exception:
                failures += 1
                traceback.print_exc()
            finally:
                session.stop('program')
    finally:
        session.close()
    print(f'{passed} passed, {failures} failed in {time.monotonic() - started:.0f} s')
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main())
