#!/usr/bin/env python3
"""A firmware 2.6 board on a pseudo-terminal, independent of the program's code: prints the device,
answers, logs each line received as "<monotonic ms> <hex bytes>" to argv[1], ends after argv[2] s."""
import os
import select
import sys
import time
import tty

log_path, lifetime = sys.argv[1], float(sys.argv[2])
master, slave = os.openpty()
tty.setraw(slave)
print(os.ttyname(slave), flush=True)

answers = {
    b"$A#VER": b"$OK#A#VER#2.6\r\n",
    b"$A#STATUS": b"$OK#A#STATUS#FILTER 3#OBJ 2\r\n",
    b"$A#STAGE POS": b"$OK#A#STAGE POS#1000\r\n",
}
pending = b""
end = time.monotonic() + lifetime
with open(log_path, "w") as log:
    while time.monotonic() < end:
        ready, _, _ = select.select([master], [], [], 0.05)
        if not ready:
            continue
        try:
            pending += os.read(master, 4096)
        except OSError:
            continue
        while b"\n" in pending:
            line, pending = pending.split(b"\n", 1)
            log.write("%d %s\n" % (int(time.monotonic() * 1000), (line + b"\n").hex()))
            log.flush()
            text = line.rstrip(b"\r")
            if text in answers:
                os.write(master, answers[text])
            elif text.startswith(b"$A#"):
                os.write(master, b"$OK#" + text[1:] + b"\r\n")
