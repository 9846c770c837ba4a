#!/usr/bin/python3
"""Scripts drive ZRQ the way a bench user's would: PyVISA over a raw TCP socket.

Runs zrq-log on the simulator's serial sensor and ZRQUSB (offscreen) on a
simulated USB sensor, each with --scpi on a free port, and checks identity,
readings against the simulated power, settings reaching the sensor as the G
command, the error queue, a zero calibration awaited with *OPC?, and two
clients at once.
Usage: scpi_pyvisa.py SIMULATOR ZRQ-LOG ZRQUSB WORKDIR [zrq-log|zrqusb]
"""
import os
import re
import select
import shutil
import signal
import subprocess
import sys
import time

import pyvisa

failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
        print("FAIL:", what, flush=True)


def line_from(p, prefix, timeout=20.0):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        r, _, _ = select.select([p.stdout], [], [], max(0.0, end - time.monotonic()))
        if not r:
            break
        line = p.stdout.readline().decode(errors="replace").strip()
        if not line and p.poll() is not None:
            break
        if line.startswith(prefix):
            return line[len(prefix):].strip()
    return ""


def stop(p):
    if p.poll() is None:
        p.send_signal(signal.SIGTERM)
        try:
            p.wait(15)
        except subprocess.TimeoutExpired:
            p.kill()
            p.wait()
            check(False, "%s ended on SIGTERM" % p.args[0])


def open_client(rm, address, timeout_ms=5000):
    host, port = address.rsplit(":", 1)
    c = rm.open_resource("TCPIP0::%s::%s::SOCKET" % (host, port),
                         read_termination="\n", write_termination="\n")
    c.timeout = timeout_ms
    return c


def wait_streaming(c, seconds=30):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        if int(c.query("STAT:OPER:COND?")) & 16:
            return True
        time.sleep(0.2)
    return False


def trace_g_commands(trace):
    """The settings commands the sensor received, as bytes."""
    out = []
    with open(trace, "rb") as f:
        for line in f.read().decode(errors="replace").splitlines():
            if "cmd G bytes=" in line:
                hexed = re.sub(r"[^0-9a-fA-F]", "", line.split("bytes=", 1)[1])
                out.append(bytes.fromhex(hexed))
    return out


def near(text, expected, tolerance):
    try:
        v = float(text)
    except ValueError:
        return False
    return abs(v - expected) <= tolerance


def common_checks(c, serial, label):
    check(wait_streaming(c), "%s streams" % label)
    idn = c.query("*IDN?")
    check(re.fullmatch(r"ZRQ,TKS7730,%s,1\.4" % serial, idn) is not None, "%s *IDN? %r" % (label, idn))
    check(c.query("SYST:ERR?") == '0,"No error"', "%s empty error queue" % label)

    # Readings within the simulator's drift and noise of 100 W and VSWR 1.5.
    fwd = c.query("READ?")
    check(near(fwd, 100, 6), "%s READ? %r near 100 W" % (label, fwd))
    check(re.fullmatch(r"[-+]?\d\.\d+E[-+]\d+", fwd) is not None, "%s scientific notation %r" % (label, fwd))
    vswr = c.query("FETC:REFL:VSWR?")
    check(near(vswr, 1.5, 0.1), "%s VSWR %r near 1.5" % (label, vswr))
    all_ = c.query("FETC:ALL?").split(",")
    check(len(all_) >= 11 and near(all_[2], 100, 6), "%s FETC:ALL? %r" % (label, all_))

    # dBm as the panel's unit button would choose it.
    c.write("UNIT:POW DBM")
    dbm = c.query("FETC?")
    check(near(dbm, 50, 0.3), "%s FETC? in dBm %r near 50" % (label, dbm))
    c.write("UNIT:POW W")

    # Out of range: an error, nothing changed.
    c.write("SENS:CORR:OFFS 101")
    err = c.query("SYST:ERR?")
    check(err.startswith("-222,"), "%s offset 101 gives -222: %r" % (label, err))
    check(near(c.query("SENS:CORR:OFFS?"), 0, 1e-9), "%s offset unchanged" % label)
    c.write("FOO:BAR")
    check(c.query("SYST:ERR?").startswith("-113,"), "%s undefined header" % label)

    # A second client has its own queue and is answered meanwhile.
    rm2 = pyvisa.ResourceManager("@py")
    d = open_client(rm2, c.resource_name.split("::")[1] + ":" + c.resource_name.split("::")[2])
    d.write("NOPE?")
    check(c.query("SYST:ERR?") == '0,"No error"', "%s first client's queue untouched" % label)
    check(d.query("SYST:ERR?").startswith("-113,"), "%s second client's queue" % label)
    check(d.query("*IDN?") == idn, "%s second client *IDN?" % label)
    d.close()


def settings_reach_sensor(c, trace, label):
    before = len(trace_g_commands(trace))
    c.write("SENS:CORR:OFFS 3;:SENS:BAND:VID FULL")
    c.write('SENS:FUNC "POW:PEAK"')
    end = time.monotonic() + 15
    ok = False
    while time.monotonic() < end and not ok:
        for g in trace_g_commands(trace)[before:]:
            # type 2, offset 3 dB, filter Full (10 kHz)
            if g[2:3] == b"\x02" and g[4:15] == b"3.00000e+00" and g[16:27] == b"1.00000e+04":
                ok = True
        time.sleep(0.3)
    check(ok, "%s the G command carries type 2, offset 3 and filter 10000: %r" %
          (label, trace_g_commands(trace)[before:]))
    peak = c.query("READ:POW:PEAK?")
    check(float(peak) > 100, "%s peak %r above the average" % (label, peak))
    check(c.query("SENS:FUNC?") == '"POW:PEAK"', "%s function query" % label)
    c.write('SENS:FUNC "POW:AVG";:SENS:CORR:OFFS 0;:SENS:BAND:VID 4.5KHZ')
    check(c.query("SYST:ERR?") == '0,"No error"', "%s settings without errors" % label)


def run_logger(sim, zrq_log, work):
    trace = os.path.join(work, "log-trace.txt")
    s = subprocess.Popen([sim, "--pty-link", os.path.join(work, "tty"), "--trace", trace,
                          "--zero-time", "1000"], stdout=subprocess.PIPE)
    try:
        pty = line_from(s, "serial:")
        check(pty.startswith("/dev/"), "simulator serial line %r" % pty)
        z = subprocess.Popen([zrq_log, "--port", pty, "--scpi", "127.0.0.1:0"], stdout=subprocess.PIPE)
        try:
            address = line_from(z, "scpi:")
            check(re.fullmatch(r"127\.0\.0\.1:\d+", address) is not None, "zrq-log scpi line %r" % address)
            if not address:
                return
            rm = pyvisa.ResourceManager("@py")
            c = open_client(rm, address)
            common_checks(c, "12345", "zrq-log")
            settings_reach_sensor(c, trace, "zrq-log")
            # The zero calibration, awaited as scripts do.
            c.timeout = 90000
            started = time.monotonic()
            c.write("CAL:ZERO:AUTO ONCE")
            opc = c.query("*OPC?")
            check(opc == "1", "zero calibration *OPC? %r" % opc)
            check(time.monotonic() - started > 5, "*OPC? waited for the calibration")
            check(c.query("SYST:ERR?") == '0,"No error"', "zero calibration succeeded")
            with open(trace, "rb") as f:
                check(b"cmd Z " in f.read(), "the sensor got the zero command")
            c.timeout = 5000
            check(near(c.query("READ?"), 100, 6), "readings after the calibration")
            c.close()
        finally:
            stop(z)
            check(z.returncode == 0, "zrq-log exit status %r" % z.returncode)
    finally:
        stop(s)


def run_panel(sim, zrqusb, work):
    usb = os.path.join(work, "usb")
    os.makedirs(usb, exist_ok=True)
    trace = os.path.join(work, "usb-trace.txt")
    s = subprocess.Popen([sim, "--no-pty", "--usb", "1", "--usb-dir", usb, "--trace", trace],
                         stdout=subprocess.PIPE)
    try:
        check(line_from(s, "usb:") != "", "simulator usb line")
        env = dict(os.environ, ZERVDCOM_HID_SIM_DIR=usb, QT_QPA_PLATFORM="offscreen")
        z = subprocess.Popen([zrqusb, "--connect", "7730USB1", "--unattended", "--scpi", "0"],
                             stdout=subprocess.PIPE, env=env)
        try:
            address = line_from(z, "scpi:")
            check(re.fullmatch(r"127\.0\.0\.1:\d+", address) is not None, "ZRQUSB scpi line %r" % address)
            if not address:
                return
            rm = pyvisa.ResourceManager("@py")
            c = open_client(rm, address)
            common_checks(c, "12346", "ZRQUSB")
            settings_reach_sensor(c, trace, "ZRQUSB")
            c.close()
        finally:
            stop(z)
            check(z.returncode == 0, "ZRQUSB exit status %r" % z.returncode)
    finally:
        stop(s)


def main():
    sim, zrq_log, zrqusb, work = sys.argv[1:5]
    which = sys.argv[5] if len(sys.argv) > 5 else "both"
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    if which in ("both", "zrq-log"):
        run_logger(sim, zrq_log, work)
    if which in ("both", "zrqusb"):
        run_panel(sim, zrqusb, work)
    print("%d failure(s)" % len(failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
