#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""What a screen reader gets from the -sim program's main window: Xvfb, a
private session bus with the accessibility bus (at-spi-bus-launcher), the
program with Qt's accessibility on. Each page is chosen through its tab, as a
keyboard user would; on each, every focusable control that shows has a name
of its own, and the dormant page never shows.

Usage: accessibility_test.py <vornalith-control-centre-sim> [summary file]
Exits 77 (skipped) when Xvfb, the bus launcher or pyatspi is missing; every
wait is bounded and everything started here is ended here."""

import os
import select
import shutil
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'support'))
from sim_control import Scratch, SimControl, wait_until  # noqa: E402

SKIP = 77
LAUNCHER = '/usr/libexec/at-spi-bus-launcher'
TITLE = 'Vornalith Control Centre 1.22'
PAGES = ['System', 'Setup', 'Display', 'Misc.']


def walk(node, pyatspi):
    """The node and its descendants; a list's own parts (its popup's items,
    an editable list's edit field) belong to the list and are left out."""
    yield node
    if node.getRole() == pyatspi.ROLE_COMBO_BOX:
        return
    for i in range(node.childCount):
        child = node.getChildAtIndex(i)
        if child is not None:
            yield from walk(child, pyatspi)


def has(node, state):
    return node.getState().contains(state)


def main():
    if len(sys.argv) not in (2, 3):
        print(__doc__)
        return 2
    for tool in ('Xvfb', 'dbus-daemon', LAUNCHER):
        if not shutil.which(tool):
            print(f'SKIP: {tool} is not installed')
            return SKIP
    scratch = Scratch('vcc-a11y-')
    env, start = scratch.env, scratch.start
    try:
        scratch.start_xvfb('1024x768x24')
        bus = start('dbus', ['dbus-daemon', '--session', '--nofork', '--print-address=1'], stdout=subprocess.PIPE)
        if not select.select([bus.stdout], [], [], 10)[0]:
            raise AssertionError('the session bus did not start')
        env['DBUS_SESSION_BUS_ADDRESS'] = bus.stdout.readline().decode().strip()
        start('at-spi', [LAUNCHER, '--launch-immediately'])
        # pyatspi finds the accessibility bus through the session bus it is
        # given when it is first imported.
        for key in ('DISPLAY', 'DBUS_SESSION_BUS_ADDRESS', 'XDG_RUNTIME_DIR'):
            os.environ[key] = env[key]
        try:
            import pyatspi
        except ImportError:
            print('SKIP: python3-pyatspi is not installed')
            return SKIP

        control = SimControl(scratch.path('control'))
        open(control.path, 'w').close()
        scratch.write_settings('[General]\nSensor2=sz:Ambient\n')
        env.update(QT_QPA_PLATFORM='xcb', QT_ACCESSIBILITY='1', QT_LINUX_ACCESSIBILITY_ALWAYS_ON='1',
                   VCC_SIM_CONTROL=control.path)
        program = start('program', [sys.argv[1]])
        wait_until('the first replies', control.replies, 20)

        def main_frame():
            desktop = pyatspi.Registry.getDesktop(0)
            for app in (desktop.getChildAtIndex(i) for i in range(desktop.childCount)):
                for frame in (app.getChildAtIndex(i) for i in range(app.childCount) if app):
                    if frame is not None and frame.name == TITLE:
                        return frame
            return None

        frame = wait_until('the main window on the accessibility bus', main_frame, 20)
        tabs = [n for n in walk(frame, pyatspi) if n.getRole() == pyatspi.ROLE_PAGE_TAB]
        shown_tabs = [t.name for t in tabs if has(t, pyatspi.STATE_SHOWING)]
        assert shown_tabs == PAGES, f'the tabs that show are {shown_tabs}'
        print(f'  ok: the tabs that show are {shown_tabs}; "RTC" does not')

        controls = named = duplicates = 0
        for tab in (t for t in tabs if t.name in PAGES):
            tab.queryAction().doAction(0)
            wait_until(f'page "{tab.name}"', lambda: has(tab, pyatspi.STATE_SELECTED), 5)
            time.sleep(0.3)
            nodes = list(walk(frame, pyatspi))
            focusable = [n for n in nodes if has(n, pyatspi.STATE_FOCUSABLE) and has(n, pyatspi.STATE_SHOWING)
                         and n.getRole() != pyatspi.ROLE_PAGE_TAB]
            names = [n.name for n in focusable]
            unnamed = [f'{n.getRoleName()} in {n.parent.getRoleName()} "{n.parent.name}"' for n in focusable if not n.name.strip()]
            twice = sorted({x for x in names if x and names.count(x) > 1})
            print(f'  page "{tab.name}": {len(focusable)} controls: {names}')
            assert not unnamed, f'page "{tab.name}": unnamed controls: {unnamed}'
            assert not twice, f'page "{tab.name}": names heard more than once: {twice}'
            rtc = [n for n in nodes if n.name == 'Monday' and has(n, pyatspi.STATE_SHOWING)]
            assert not rtc, f'page "{tab.name}": the weekday page shows through'
            if tab.name == 'System':
                # The panels are read with what they belong to, not as a bare "Normal".
                def panel(start):
                    return [n.name for n in walk(frame, pyatspi) if n.name.startswith(start)]
                reading = wait_until('the evaporator reading', lambda: [
                    x for x in panel('Evaporator temperature ') if x.endswith(', Normal')], 10)
                status = wait_until('the status panel', lambda: panel('Status: Normal'), 10)
                graph = wait_until('the load graph\'s values', lambda: [
                    n for n in walk(frame, pyatspi) if n.name == 'CPU load graph' and n.description], 10)
                print(f'  ok: the panels read "{reading[0]}" and "{status[0]}", '
                      f'the load graph "{graph[0].description}"')
            controls += len(focusable)
            named += len([x for x in names if x.strip()])
            duplicates += len(twice)
        summary = f'controls {controls}, names {named}, duplicates {duplicates}'
        print(summary)
        if len(sys.argv) == 3:
            with open(sys.argv[2], 'w') as f:
                f.write(summary + '\n')
        assert program.poll() is None, 'the program ended'
        return 0
    except AssertionError as e:
        print(f'FAILED: {e}')
        print('--- program ---\n' + scratch.log('program')[-3000:])
        return 1
    finally:
        scratch.close()

if __name__ == '__main__':
    sys.exit(main())
