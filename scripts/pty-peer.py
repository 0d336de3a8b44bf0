#!/usr/bin/env python3
"""The Linux end of a COM port that Wine maps to a pseudo-terminal, for the
Windows serial tests: makes a pty, links its slave side at PATH, and then either
echoes every byte back ('echo') or closes the pty at the first byte it receives
('hangup', the adapter pulled out while open). Ends on SIGTERM, or after
--seconds at the latest, so a forgotten peer never outlives its test run."""
import argparse
import os
import select
import signal
import sys
import time
import tty


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("mode", choices=["echo", "hangup"])
    parser.add_argument("path")
    parser.add_argument("--seconds", type=float, default=600)
    args = parser.parse_args()

    master, slave = os.openpty()
    tty.setraw(slave)
    name = os.ttyname(slave)
    if os.path.lexists(args.path):
        os.unlink(args.path)
    os.symlink(name, args.path)
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    end = time.monotonic() + args.seconds
    try:
        # The slave stays open here too, so the pty lives while Wine reopens it.
        while time.monotonic() < end:
            ready, _, _ = select.select([master], [], [], max(0.0, end - time.monotonic()))
            if not ready:
                continue
            try:
                data = os.read(master, 4096)
            except OSError:
                continue
            if args.mode == "hangup":
                break
            os.write(master, data)
    finally:
        os.unlink(args.path)
        os.close(master)
        os.close(slave)


if __name__ == "__main__":
    main()
