#!/usr/bin/env python3
# Usage: lfless-memory.py build/normal/bin/libZervDCom.so SECONDS
# Memory of the library under LF-less garbage: a direct and a listener
# connection on pseudo-terminals, each fed garbage without a line feed while
# a reader calls comm_readLine; VmRSS sampled every 10 s.
import ctypes, os, pty, sys, threading, time, tty
lib = ctypes.CDLL(sys.argv[1])
dur = int(sys.argv[2])
def make(listener):
    m, s = pty.openpty(); tty.setraw(m); tty.setraw(s)
    name = os.ttyname(s); os.close(s)
    u = (name + "\0").encode("utf-16-le")
    h = ctypes.c_int32(0)
    assert lib.comm_createSerialPort(ctypes.byref(h), ctypes.c_char_p(u), len(name), 4096, 512, listener) == 1
    assert lib.comm_openSerialPort(h, 921600, 8, 1, 0, 0) == 1
    os.set_blocking(m, False)
    return m, h
conns = [make(0), make(1)]
stop = False
def feed(m):
    junk = b"g" * 4096
    while not stop:
        try: os.write(m, junk)
        except BlockingIOError: time.sleep(0.001)
def read(h):
    buf = ctypes.create_string_buffer(256); n = ctypes.c_uint(0)
    while not stop:
        lib.comm_readLine(h, buf, 256, ctypes.byref(n), 50)
ts = [threading.Thread(target=f, args=(a,)) for (m, h) in conns for f, a in ((feed, m), (read, h))]
for t in ts: t.start()
def rss():
    for l in open("/proc/self/status"):
        if l.startswith("VmRSS:"): return int(l.split()[1])
t0 = time.time()
while time.time() - t0 < dur:
    print(f"{time.time()-t0:6.0f} s  VmRSS {rss()} KiB", flush=True)
    time.sleep(10)
print(f"{time.time()-t0:6.0f} s  VmRSS {rss()} KiB", flush=True)
stop = True
for t in ts: t.join()
