#!/usr/bin/python3
"""A third-party serial client (pyserial) against tks7730-sim's pseudo-terminal.

Checks that the simulator behaves like a device on a real serial stack: the
banner and command replies obey the host's reply rules, data lines keep their
columns, and a hang-up is seen as one and the sensor comes back under its link.
Usage: pty_client.py SIMULATOR WORKDIR
"""
import os
import select
import signal
import subprocess
import sys
import time

import serial

failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
        print("FAIL:", what)


def start(sim, *args):
    p = subprocess.Popen([sim, *args], stdout=subprocess.PIPE)
    return p


def next_line(p, timeout=5.0):
    r, _, _ = select.select([p.stdout], [], [], timeout)
    return p.stdout.readline().decode().strip() if r else ""


def command(port, cmd):
    """Send a command and read one reply line, resending on the banner as the host does."""
    for _ in range(3):
        port.write(cmd)
        reply = port.readline()
        if reply != b"rs232\r\n":
            return reply
    return b""


def interrogation_ok(r):
    r = r.decode("ascii")
    if not r.strip() or r.strip()[0] != "7" or r[21:24].strip() == "Not":
        return False
    c = r.index(",") + 1
    version = repr(float(r[c + 11:c + 15]))
    return version > "1.2"


def data_fields(s, layout):
    end = s.find(",,") + 1
    if end != (116 if layout == "A" else 119):
        return None
    commas = [1, 13, 26, 38, 50, 62, 74] + ([77, 80, 92, 104] if layout == "A" else [77, 80, 83, 95, 107])
    if any(s[c - 1] != "," for c in commas):
        return None
    sh = 0 if layout == "A" else 3
    spans = [(2, 11), (14, 12), (27, 11), (39, 11), (51, 11), (63, 11), (75 + sh, 2), (78 + sh, 2),
             (81 + sh, 11), (93 + sh, 11), (105 + sh, 11)]
    return [s[a - 1:a - 1 + w].strip() for a, w in spans]


def session(sim, work, layout):
    link = os.path.join(work, "tty" + layout)
    p = start(sim, "--pty-link", link, "--layout", layout, "--banner", "2", "--interval", "50")
    try:
        first = next_line(p)
        check(first.startswith("serial: /dev/pts/"), "ready line: %r" % first)
        check(os.path.realpath(link) == first[len("serial: "):], "link points at the slave")
        port = serial.Serial(link, 9600, timeout=2)
        reply = command(port, b"I\r\n")
        check(interrogation_ok(reply), "interrogation reply %r" % reply)
        f = command(port, b"F\r\n")
        c = f.index(b",") + 1
        check(f[:1] == b"F" and f[c:c + 3] == b"ACK", "calibration reply %r" % f)
        port.write(b"S")
        sn = port.readline()
        check(sn[2:-2] == b"12345", "serial number reply %r" % sn)
        port.write(b"D\r\n")
        lines = []
        while len(lines) < 5:
            raw = port.read_until(b"\r")
            check(raw.endswith(b"\r"), "data line ends in CR: %r" % raw)
            if not raw.endswith(b"\r"):
                break
            check(raw[:1] == b"D", "data line starts with D: %r" % raw)
            lines.append(raw[1:-1].decode("ascii"))
        for s in lines:
            fields = data_fields(s, layout)
            check(fields is not None, "columns of %r" % s)
            if fields:
                check(fields[6] == "1" and fields[7] == "9", "type and scale of %r" % s)
                for i in (0, 1, 2, 3, 4, 5, 8, 9, 10):
                    float(fields[i])
        u = command(port, b"U\r\n")
        check(b"U,ACK" in u, "stop reply %r" % u)
        port.reset_input_buffer()
        port.timeout = 0.3
        check(port.read(200) == b"", "stream stopped after U")
        port.close()
    finally:
        p.send_signal(signal.SIGTERM)
        check(p.wait(5) == 0, "clean exit")
    check(not os.path.lexists(link), "link removed at exit")


def hangup(sim, work):
    link = os.path.join(work, "ttyH")
    p = start(sim, "--pty-link", link, "--banner", "0", "--fault", "hangup,at=400,for=600")
    try:
        first = next_line(p)
        port = serial.Serial(link, 9600, timeout=2)
        port.write(b"D\r\n")
        t0 = time.monotonic()
        got = b""
        hung = False
        while time.monotonic() - t0 < 3:
            try:
                chunk = port.read(200)
            except serial.SerialException:
                hung = True
                break
            if not chunk and got:
                hung = True  # pyserial reports a hang-up as an empty read after readiness
                break
            got += chunk
        check(hung, "hang-up seen by the client")
        check(got.startswith(b"D,"), "stream before the hang-up")
        port.close()
        again = next_line(p, 3)
        check(again.startswith("serial: /dev/pts/") and again != "", "announced again: %r" % again)
        check(os.path.realpath(link) == again[len("serial: "):], "link follows the new slave")
        port = serial.Serial(link, 9600, timeout=2)
        port.write(b"I\r\n")
        check(interrogation_ok(port.readline()), "answers after its return")
        port.close()
        del first
    finally:
        p.send_signal(signal.SIGTERM)
        check(p.wait(5) == 0, "clean exit after hang-up")


def main():
    sim, work = sys.argv[1], sys.argv[2]
    os.makedirs(work, exist_ok=True)
    session(sim, work, "A")
    session(sim, work, "B")
    hangup(sim, work)
    print("failures:", len(failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
