#!/usr/bin/python3
"""zrqd end to end, as a lab uses it: a real broker, the simulator with two
USB sensors and a serial one, zrqd started from a configuration file, a
subscriber that checks what arrives, and a PyVISA script on its SCPI port.

Checks: every accepted reading of every sensor arrives once and in order, as
many as each CSV log holds; the retained status is "online", and "offline"
(the last will) after SIGKILL; an upper limit on the forward average raises
an alarm at QoS 1 after a power step, and the reading's log record carries the
event; a latching alarm stands until acknowledged on its topic; the broker stopped and started again
mid-run: logging goes on, the service reconnects and an alarm raised while the
broker was away arrives; a USB sensor unplugged and back while the others
miss nothing; SIGHUP removing a sensor; the numeric suffix of SCPI commands
picking the sensor; a broker wanting TLS and a password (a wrong one is said
plainly); a bad configuration is refused with its line and exit
status 2.

Usage: zrqd_mqtt.py SIMULATOR ZRQD WORKDIR
"""
import csv
import json
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import time

import paho.mqtt.client as mqtt
import pyvisa

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "remote", "tests"))
from scpi_pyvisa import line_from  # noqa: E402  the programs' "scpi:" line

failures = []


def check(ok, what):
    print(("ok    " if ok else "FAIL  ") + what, flush=True)
    if not ok:
        failures.append(what)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def start_broker(port, work):
    conf = os.path.join(work, "mosquitto.conf")
    with open(conf, "w") as f:
        f.write("listener %d 127.0.0.1\nallow_anonymous true\npersistence false\n" % port)
    b = subprocess.Popen(["mosquitto", "-c", conf], stdout=subprocess.DEVNULL,
                         stderr=subprocess.DEVNULL)
    for _ in range(100):
        try:
            socket.create_connection(("127.0.0.1", port), 0.2).close()
            return b
        except OSError:
            time.sleep(0.05)
    return b


def stop(p, sig=signal.SIGTERM):
    if p.poll() is None:
        p.send_signal(sig)
        try:
            p.wait(20)
        except subprocess.TimeoutExpired:
            p.kill()
            p.wait()


def settle(messages, quiet=1.0, limit=30):
    """Waits until nothing more arrives for `quiet` seconds: a loaded machine
    may deliver the last messages well after they were sent."""
    end = time.monotonic() + limit
    seen = -1
    while time.monotonic() < end and seen != len(messages):
        seen = len(messages)
        time.sleep(quiet)


class Subscriber:
    def __init__(self, port, base):
        self.messages = []  # (topic, payload, qos, retain)
        self.c = mqtt.Client(client_id="zrqd-test-%d" % os.getpid(), clean_session=True)
        self.c.on_message = lambda c, u, m: self.messages.append(
            (m.topic, m.payload.decode(), m.qos, m.retain))
        self.c.on_connect = lambda c, u, f, rc: c.subscribe(base + "/#", qos=1)
        self.c.connect("127.0.0.1", port)
        self.c.loop_start()

    def wait_for(self, pred, seconds):
        end = time.monotonic() + seconds
        while time.monotonic() < end:
            if any(pred(m) for m in list(self.messages)):
                return True
            time.sleep(0.1)
        return False

    def close(self):
        self.c.loop_stop()
        self.c.disconnect()


def scpi_channels(address):
    """One connection, three sensors: the suffix picks one."""
    host, port = address.rsplit(":", 1)
    rm = pyvisa.ResourceManager("@py")
    c = rm.open_resource("TCPIP0::%s::%s::SOCKET" % (host, port),
                         read_termination="\n", write_termination="\n")
    c.timeout = 5000
    try:
        check(c.query("SYST:CHAN:COUN?") == "3", "three channels")
        listing = c.query("SYST:CHAN:LIST?")
        check(listing == '"1,tx1,12346","2,tx3,12347","3,tx2,12345"', "channel list %r" % listing)
        check(c.query("*IDN?").startswith("ZRQ,TKS7730,12346,"), "*IDN? names the first sensor")
        values = [float(c.query("READ%d?" % i)) for i in (1, 2, 3)]
        check(all(90 < v < 110 for v in values), "READ1? to READ3? read each sensor: %r" % values)
        c.write("SENS2:CORR:OFFS 3")
        check(c.query("SENS2:CORR:OFFS?;:SENS1:CORR:OFFS?;:SENS3:CORR:OFFS?") ==
              "3.000000E+00;0.000000E+00;0.000000E+00", "the offset reaches the second sensor only")
        check(c.query("SYST:ERR?") == '0,"No error"', "no error so far")
        c.write("FETC4?")
        check(c.query("SYST:ERR?").startswith("-114,"), "a fourth channel is out of range")
        c.write("SENS2:CORR:OFFS 0")
    finally:
        c.close()


def eventually(read, ok, seconds=20):
    """read() until ok(value) or `seconds` pass; returns the last value."""
    end = time.monotonic() + seconds
    value = read()
    while not ok(value) and time.monotonic() < end:
        time.sleep(0.2)
        value = read()
    return value


def csv_records(path):
    if not os.path.exists(path):
        return 0
    with open(path, encoding="latin-1") as f:
        return max(0, sum(1 for _ in f) - 2)  # two header lines


def main(sim, zrqd, work):
    os.makedirs(work, exist_ok=True)
    usb = os.path.join(work, "usb")
    os.makedirs(usb, exist_ok=True)
    port = free_port()
    base = "zrq/test%d" % os.getpid()
    script = os.path.join(work, "power.txt")
    # Forward average 100 W, then 180 W (over the 150 W limit) from 8 s to 12 s,
    # and again from 24 s on: while the broker is away.
    with open(script, "w") as f:
        f.write("0 100\n8000 180\n12000 100\n24000 180\n")
    conf = os.path.join(work, "zrqd.toml")
    with open(conf, "w") as f:
        f.write("""[mqtt]
url = "mqtt://127.0.0.1:%d"
base = "%s"

[scpi]
listen = "127.0.0.1:0"

[[sensor]]
port = "7730USB1"
label = "tx1"
log = "%s/tx1.csv"
alarm = { quantity = "forward_average_w", upper = 150.0, hold_off_ms = 500 }

[[sensor]]
port = "7730USB2"
label = "tx3"
log = "%s/tx3.csv"
alarm = { quantity = "forward_average_w", upper = 150.0, latching = true }

[[sensor]]
port = "%s/tty"
label = "tx2"
log = "%s/tx2.csv"
""" % (port, base, work, work, work, work))

    bad = os.path.join(work, "bad.toml")
    with open(bad, "w") as f:
        f.write('[[sensor]]\nport = "7730USB1"\nalarm = { quantity = "forward_power", upper = 1 }\n')
    r = subprocess.run([zrqd, "--check-config", "--config", bad], capture_output=True, text=True)
    check(r.returncode == 2 and "bad.toml:3" in r.stderr and "sensor[0].alarm.quantity" in r.stderr,
          "a bad configuration is refused with file, line and key: %d %r" % (r.returncode, r.stderr))
    r = subprocess.run([zrqd, "--check-config", "--config", conf], capture_output=True, text=True)
    check(r.returncode == 0, "the configuration checks: %r" % (r.stdout + r.stderr))

    broker = start_broker(port, work)
    sub = Subscriber(port, base)
    s = subprocess.Popen([sim, "--pty-link", os.path.join(work, "tty"), "--usb", "2", "--usb-dir", usb,
                          "--power-script", script], stdout=subprocess.DEVNULL)
    env = dict(os.environ, ZERVDCOM_HID_SIM_DIR=usb)
    status_file = os.path.join(work, "status")
    z = subprocess.Popen([zrqd, "--config", conf, "--status-file", status_file], env=env,
                         stdout=subprocess.PIPE, stderr=open(os.path.join(work, "zrqd.err"), "w"))
    try:
        address = line_from(z, "scpi:")
        check(re.fullmatch(r"127\.0\.0\.1:\d+", address) is not None, "zrqd scpi line %r" % address)
        check(sub.wait_for(lambda m: m[0] == base + "/status" and m[1] == "online", 15),
              "status online")
        def alarm_of(label, state):
            return lambda m: (m[0].endswith("/alarm") and json.loads(m[1])["state"] == state
                              and json.loads(m[1])["label"] == label)
        raised = alarm_of("tx1", "raised")
        check(sub.wait_for(raised, 25), "the power step raises the alarm")
        alarms = [m for m in sub.messages if raised(m)]
        if alarms:
            a = json.loads(alarms[0][1])
            check(alarms[0][2] == 1 and a["quantity"] == "forward_average_w" and a["value"] > 150
                  and a["label"] == "tx1", "the alarm at QoS 1 names quantity, value and label: %r"
                  % (alarms[0],))
        check(sub.wait_for(alarm_of("tx1", "cleared"), 10), "the alarm clears")
        # tx3's alarm latches: it stands until acknowledged on its topic.
        held = [json.loads(m[1]) for m in sub.messages if alarm_of("tx3", "raised")(m)]
        check(held and not sub.wait_for(alarm_of("tx3", "cleared"), 1),
              "the latching alarm stands after the power is back")
        if held:
            sub.c.publish("%s/%s/acknowledge" % (base, held[0]["serial"]), "", qos=1)
        check(sub.wait_for(alarm_of("tx3", "cleared"), 10), "acknowledged, the latched alarm clears")
        day = time.strftime("%Y-%m-%d")
        for label, text in (("tx1", "Alarm raised: forward_average_w 1"),
                            ("tx3", "Alarm cleared: forward_average_w 1")):
            with open(os.path.join(work, "%s-%s.csv" % (label, day)), newline="") as f:
                events = [r[21] for r in csv.reader(f) if len(r) == 22 and r[21]]
            check(any(e.startswith(text) for e in events),
                  "%s's log has the event %r...: %r" % (label, text, events))
        if address:
            scpi_channels(address)

        # The broker goes away while the second step comes.
        stop(broker)
        before = csv_records(os.path.join(work, "tx1-%s.csv" % time.strftime("%Y-%m-%d")))
        time.sleep(15)
        after = csv_records(os.path.join(work, "tx1-%s.csv" % time.strftime("%Y-%m-%d")))
        check(after >= before + 80, "logging goes on without the broker: %d -> %d" % (before, after))
        sub.close()
        back = time.time()
        broker = start_broker(port, work)
        sub = Subscriber(port, base)
        check(sub.wait_for(raised, 40), "an alarm arrives after the broker is back")
        late = [json.loads(m[1]) for m in sub.messages if raised(m)]
        check(late and time.mktime(time.strptime(late[0]["time"][:19], "%Y-%m-%dT%H:%M:%S")) < back,
              "it was raised while the broker was away: %r" % late[:1])
        def read_status():
            with open(status_file) as f:
                return f.read()
        status = eventually(read_status, lambda t: t.startswith("broker connected")
                            and t.count("\tstreaming\t") == 3)
        check(status.startswith("broker connected") and status.count("\tstreaming\t") == 3,
              "the status file lists three streaming sensors: %r" % status)
        r = subprocess.run([zrqd, "--status", "--status-file", status_file], capture_output=True,
                           text=True)
        check(r.returncode == 0 and "tx3" in r.stdout, "zrqd --status prints it")
        # tx3 leaves the configuration: SIGHUP stops it alone.
        with open(conf) as f:
            text = f.read()
        with open(conf, "w") as f:
            f.write(re.sub(r'\[\[sensor\]\]\nport = "7730USB2"\nlabel = "tx3"\nlog = "[^"]*"\nalarm = [^\n]*\n',
                           "", text))
        z.send_signal(signal.SIGHUP)
        rows = eventually(lambda: [l.split("\t") for l in read_status().splitlines()[2:]],
                          lambda rows: len(rows) == 2)
        check([(r[0], r[3], r[7]) for r in rows] == [("tx1", "streaming", "1"), ("tx2", "streaming", "1")],
              "after SIGHUP tx3 is gone and the others ran on without reconnecting: %r" % rows)
    finally:
        stop(z, signal.SIGKILL)
    check(sub.wait_for(lambda m: m[0] == base + "/status" and m[1] == "offline", 90),
          "the last will says offline after SIGKILL")
    sub.close()
    stop(s)
    stop(broker)


def ordered_and_complete(sim, zrqd, work):
    """A clean run: every reading arrives once, in order, as many as logged."""
    usb = os.path.join(work, "usb2")
    os.makedirs(usb, exist_ok=True)
    port = free_port()
    base = "zrq/order%d" % os.getpid()
    conf = os.path.join(work, "order.toml")
    with open(conf, "w") as f:
        f.write('[mqtt]\nurl = "mqtt://127.0.0.1:%d"\nbase = "%s"\nhome_assistant = true\n'
                'discovery_prefix = "%s/ha"\n' % (port, base, base))
        for i, name in enumerate(["7730USB1", "7730USB2", work + "/tty2"]):
            f.write('[[sensor]]\nport = "%s"\nlabel = "s%d"\nlog = "%s/order%d.csv"\n' % (name, i, work, i))
    broker = start_broker(port, work)
    sub = Subscriber(port, base)
    # The second USB sensor is unplugged for 2 s and comes back.
    s = subprocess.Popen([sim, "--pty-link", os.path.join(work, "tty2"), "--usb", "2", "--usb-dir", usb,
                          "--fault", "hangup,at=4000,for=2000,on=usb1"], stdout=subprocess.DEVNULL)
    time.sleep(0.5)
    z = subprocess.Popen([zrqd, "--config", conf, "--seconds", "14", "--status-file",
                          os.path.join(work, "status2")],
                         env=dict(os.environ, ZERVDCOM_HID_SIM_DIR=usb), stderr=subprocess.DEVNULL)
    z.wait(60)
    check(z.returncode == 0, "zrqd --seconds ends with status 0")
    settle(sub.messages)
    sub.close()
    stop(s)
    stop(broker)
    day = time.strftime("%Y-%m-%d")
    by_serial = {}
    for topic, payload, _, _ in sub.messages:
        if topic.endswith("/reading"):
            j = json.loads(payload)
            by_serial.setdefault(j["label"], []).append(j["sequence"])
    counts = []
    for i in range(3):
        seq = by_serial.get("s%d" % i, [])
        counts.append(len(seq))
        logged = csv_records(os.path.join(work, "order%d-%s.csv" % (i, day)))
        check(len(seq) > 80 and seq == list(range(1, len(seq) + 1)) and len(seq) == logged,
              "sensor s%d: %d readings published once and in order, %d logged" % (i, len(seq), logged))
    # Ten a second for the others while s1 was away; s1 lost its 2 s and the reconnect.
    check(min(counts[0], counts[2]) > 120 and counts[1] < min(counts[0], counts[2]) - 15,
          "the others never missed a reading while s1 was unplugged: %r" % counts)
    with open(os.path.join(work, "status2")) as f:
        rows = [l.split("\t") for l in f.read().splitlines()[2:]]
    check([r[7] for r in rows] == ["1", "2", "1"], "s1 connected twice, the others once: %r" % rows)
    values = [float(p) for t, p, _, _ in sub.messages if t.endswith("/forward_average_w")]
    check(values and all(90 < v < 110 for v in values), "forward average near the simulated 100 W")
    check(not any(t.endswith("/ccdf_percent") for t, _, _, _ in sub.messages),
          "a quantity the average type does not give is not published")
    ha = [json.loads(p) for t, p, _, retain in sub.messages
          if t == base + "/ha/sensor/zrq_12345_vswr/config"]
    check(ha and ha[0]["state_topic"] == base + "/12345/vswr" and
          ha[0]["availability_topic"] == base + "/status",
          "a discovery message per quantity points at its topic: %r" % ha[:1])


def tls_and_password(sim, zrqd, work):
    """A broker that wants TLS and a password: readings arrive with the right
    ones; a wrong password is said plainly and logging goes on."""
    tls = os.path.join(work, "tls")
    os.makedirs(tls, exist_ok=True)
    cert, key, pw = (os.path.join(tls, n) for n in ("cert.pem", "key.pem", "passwd"))
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key,
                    "-out", cert, "-days", "2", "-subj", "/CN=127.0.0.1",
                    "-addext", "subjectAltName=IP:127.0.0.1"], check=True, capture_output=True)
    os.chmod(key, 0o644)  # the broker may run as its own user
    subprocess.run(["mosquitto_passwd", "-b", "-c", pw, "zrq", "s3cret"], check=True,
                   capture_output=True)
    os.chmod(pw, 0o644)
    port = free_port()
    conf = os.path.join(tls, "mosquitto.conf")
    with open(conf, "w") as f:
        f.write("listener %d 127.0.0.1\ncafile %s\ncertfile %s\nkeyfile %s\n"
                "allow_anonymous false\npassword_file %s\npersistence false\n"
                % (port, cert, cert, key, pw))
    broker = subprocess.Popen(["mosquitto", "-c", conf], stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL)
    base = "zrq/tls%d" % os.getpid()
    got = []
    c = mqtt.Client(client_id="zrqd-tls-%d" % os.getpid(), clean_session=True)
    c.tls_set(ca_certs=cert)
    c.username_pw_set("zrq", "s3cret")
    c.on_message = lambda c, u, m: got.append(m.topic)
    c.on_connect = lambda c, u, f, rc: c.subscribe(base + "/#", qos=1)
    for _ in range(50):
        try:
            c.connect("127.0.0.1", port)
            break
        except OSError:
            time.sleep(0.1)
    c.loop_start()
    usb = os.path.join(tls, "usb")
    os.makedirs(usb, exist_ok=True)
    s = subprocess.Popen([sim, "--usb", "1", "--usb-dir", usb], stdout=subprocess.DEVNULL)
    env = dict(os.environ, ZERVDCOM_HID_SIM_DIR=usb)
    try:
        for password, expect in (("s3cret", True), ("wrong", False)):
            zconf = os.path.join(tls, "zrqd-%s.toml" % password)
            with open(zconf, "w") as f:
                f.write('[mqtt]\nurl = "mqtts://127.0.0.1:%d"\nbase = "%s"\nusername = "zrq"\n'
                        'password = "%s"\nca_file = "%s"\n[[sensor]]\nport = "7730USB1"\n'
                        'log = "%s/tls-%s.csv"\n' % (port, base, password, cert, tls, password))
            status = os.path.join(tls, "status-" + password)
            del got[:]
            r = subprocess.run([zrqd, "--config", zconf, "--seconds", "5", "--status-file", status],
                               env=env, capture_output=True, text=True, timeout=60)
            settle(got)
            readings = len([t for t in got if t.endswith("/reading")])
            logged = csv_records(os.path.join(tls, "tls-%s-%s.csv" % (password, time.strftime("%Y-%m-%d"))))
            if expect:
                check(r.returncode == 0 and readings > 20,
                      "over TLS with the password: %d readings arrive" % readings)
            else:
                with open(status) as f:
                    first = f.readline().strip()
                check(readings == 0 and "refused the connection: Connection Refused: not authorised"
                      in r.stderr and first.endswith("(refused: Connection Refused: not authorised.)"),
                      "a wrong password is said on stderr and in the status: %r %r" % (r.stderr, first))
                check(logged > 20, "and logging goes on: %d records" % logged)
    finally:
        c.loop_stop()
        c.disconnect()
        stop(s)
        stop(broker)


if __name__ == "__main__":
    sim, zrqd, work = sys.argv[1:4]
    shutil.rmtree(work, ignore_errors=True)  # the daily logs of an earlier run
    ordered_and_complete(sim, zrqd, work)
    tls_and_password(sim, zrqd, work)
    main(sim, zrqd, work)
    print("%d failure(s)" % len(failures))
    sys.exit(1 if failures else 0)
