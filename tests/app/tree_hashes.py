#!/usr/bin/python3
"""Prints one line "relative/path sha256" per file below each folder given (hidden entries and
links left out), sorted; a folder that does not exist prints nothing."""
import hashlib
import os
import sys

for top in sys.argv[1:]:
    lines = []
    for folder, dirs, files in os.walk(top):
        dirs[:] = [d for d in dirs if not d.startswith('.') and not os.path.islink(os.path.join(folder, d))]
        for name in files:
            path = os.path.join(folder, name)
            if name.startswith('.') or os.path.islink(path):
                continue
            with open(path, 'rb') as f:
                lines.append('%s %s' % (os.path.relpath(path, top), hashlib.sha256(f.read()).hexdigest()))
    print('\n'.join(sorted(lines)))
