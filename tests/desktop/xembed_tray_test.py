#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""The -sim program's notification-area icon in a classic X11 tray: Xvfb,
trayer as the tray, no session bus (so no StatusNotifierWatcher), "Blinking
tray icon" chosen. A warning blinks the icon, minimising changes nothing of
it, and once the warning clears the icon's pixels show its picture steadily.

Usage: xembed_tray_test.py <vornalith-control-centre-sim>
Exits 77 (skipped) when Xvfb, trayer or python3-xlib is missing; every wait is
bounded and everything started here is ended here."""

import os
import shutil
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'support'))
from sim_control import Scratch, wait_until  # noqa: E402

SKIP = 77


def embedded_icons(display):
    """The windows that carry an XEmbed client's information, mapped."""
    info = display.intern_atom('_XEMBED_INFO')
    found, pending = [], [display.screen().root]
    while pending:
        window = pending.pop()
        try:
            pending.extend(window.query_tree().children)
            if window.get_full_property(info, 0) and window.get_attributes().map_state == 2:
                found.append(window)
        except Exception:  # a window that went away while we looked
            pass
    return found


def shows_picture(display):
    """Whether the screen, where the tray shows an icon's window, has navy
    pixels (the normal picture's squares) rather than only the tray's
    background. The windows are looked up afresh each time (the icon may be
    embedded anew while it blinks) and read from the root window, as a
    screenshot is (an icon's own window can read black while the tray
    composes it)."""
    root = display.screen().root
    for window in embedded_icons(display):
        try:
            geometry = window.get_geometry()
            at = window.translate_coords(root, 0, 0)
            data = root.get_image(-at.x, -at.y, geometry.width, geometry.height, 2, 0xFFFFFFFF).data
        except Exception:  # a window that went away while we looked
            continue
        # 32 bits a pixel, blue first.
        if any(data[i] > 96 and data[i + 1] < 48 and data[i + 2] < 48 for i in range(0, len(data), 4)):
            return True
    return False


def main():
    if len(sys.argv) != 2:
        print(__doc__)
        return 2
    try:
        from Xlib import display as xdisplay
    except ImportError:
        print('SKIP: python3-xlib is not installed')
        return SKIP
    for tool in ('Xvfb', 'trayer'):
        if not shutil.which(tool):
            print(f'SKIP: {tool} is not installed')
            return SKIP

    scratch = Scratch('vcc-xembed-')
    env, start = scratch.env, scratch.start
    env['DBUS_SESSION_BUS_ADDRESS'] = 'unix:path=' + scratch.path('no-session-bus')
    try:
        scratch.start_xvfb('320x200x24')
        display = xdisplay.Display(env['DISPLAY'])
        start('trayer', ['trayer', '--edge', 'top', '--align', 'left', '--height', '32', '--widthtype', 'request'])
        selection = display.intern_atom('_NET_SYSTEM_TRAY_S0')
        wait_until('the tray', lambda: display.get_selection_owner(selection) not in (0, None), 10)

        control = scratch.path('control')
        open(control, 'w').close()
        scratch.write_settings('[General]\nWarning%20handling%20Index=dword:1\n')
        env.update(QT_QPA_PLATFORM='xcb', VCC_SIM_CONTROL=control)
        program = start('program', [sys.argv[1]])

        def command(line):
            with open(control, 'a') as f:
                f.write(line + '\n')

        def replies():
            try:
                with open(control + '.replies') as f:
                    return f.read().splitlines()
            except OSError:
                return []

        wait_until('the icon in the tray', lambda: embedded_icons(display), 15)
        wait_until('the normal picture', lambda: shows_picture(display), 5)
        print('  ok: the icon is in the X11 tray with its picture')

        # Without a window manager the main window opens over the tray; the
        # window goes into the notification area first, which leaves the icon
        # as it is.
        command('minimise')
        time.sleep(0.5)
        assert shows_picture(display), 'minimising changed the icon'
        command('force 81')
        # The icon may be blank for a moment while the tray embeds it: the
        # blink is looked for once the warning has been replied.
        wait_until('a reply with the warning', lambda: any(line.startswith('81 ') for line in replies()), 10)
        seen = set()
        deadline = time.monotonic() + 8
        while time.monotonic() < deadline and len(seen) < 2:
            seen.add(shows_picture(display))
            time.sleep(0.05)
        assert seen == {True, False}, f'the warning did not blink the icon (seen {seen})'
        print('  ok: the warning blinks the icon')

        cleared_after = len(replies())
        command('clear')
        wait_until('a reply without the warning',
                   lambda: any(not line.startswith('81 ') for line in replies()[cleared_after:]), 10)
        shown = []
        deadline = time.monotonic() + 2
        while time.monotonic() < deadline:
            shown.append(shows_picture(display))
            time.sleep(0.1)
        assert all(shown), f'the icon is blank after the warning ({shown.count(False)} of {len(shown)})'
        print('  ok: once the warning clears the icon shows its picture')
        assert program.poll() is None, 'the program ended'
        return 0
    except AssertionError as e:
        print(f'FAILED: {e}')
        for name in ('program', 'trayer'):
            print(f'--- {name} ---\n' + scratch.log(name)[-3000:])
        return 1
    finally:
        scratch.close()

if __name__ == '__main__':
    sys.exit(main())
