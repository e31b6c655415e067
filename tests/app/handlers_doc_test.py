#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""docs/handlers.md against the code: every member it names is defined in the
file it names, on the class it names, and every handler name it lists can be
found in the sources (a handler written once for several controls carries the
names of the ones it stands for in its comment).

Usage: handlers_doc_test.py <source root>"""

import os
import re
import sys

ROW = re.compile(r'^\| `([^`]+)` \| `(\w+)::(\w+)` \| `([^`]+)` \|$')


def main():
    root = sys.argv[1]
    with open(os.path.join(root, 'docs', 'handlers.md'), encoding='utf-8') as f:
        rows = [ROW.match(line.rstrip('\n')) for line in f if line.startswith('| `')]
    if not rows or not all(rows):
        print('FAILED: docs/handlers.md has rows this test cannot read')
        return 1
    sources = {}
    for folder, _, files in os.walk(os.path.join(root, 'src')):
        for name in files:
            if name.endswith(('.cpp', '.h')):
                path = os.path.relpath(os.path.join(folder, name), root)
                with open(os.path.join(root, path), encoding='utf-8') as f:
                    sources[path] = f.read()
    everything = '\n'.join(sources.values())
    failures = []
    for row in rows:
        names, cls, member, path = row.groups()
        text = sources.get(path)
        if text is None:
            failures.append(f'{cls}::{member}: no file {path}')
            continue
        if path.endswith('.cpp'):
            defined = re.search(rf'\b{cls}::{member}\(', text)
        else:
            defined = re.search(rf'\bclass {cls}\b', text) and re.search(rf'\b{member}\(', text)
        if not defined:
            failures.append(f'{cls}::{member} is not in {path}')
        for name in re.split(r'\s*…\s*', names):
            if not re.search(rf'\b{name}\b', everything):
                failures.append(f'{name} is found nowhere in the sources')
    for failure in failures:
        print('FAILED:', failure)
    print(f'{len(rows)} handlers, {len(failures)} missing')
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main())
