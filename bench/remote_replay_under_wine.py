"""P4: input packets streamed over loopback into a server under Wine whose pattern window is open.
Throughput: how many packets a second the server replays, counted on the server side, with a running
hash of what it replayed that must equal the hash of what was sent (none lost, none reordered). Delay:
single mouse moves, from the send to the moment the X pointer stands where the server put it."""

import ctypes
import socket
import statistics
import struct
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "tests" / "e2e"))
sys.path.insert(0, str(ROOT / "tools" / "automation"))

import harness  # noqa: E402

X0, Y0, W, H = 640, 0, 320, 240
WM_MOUSEMOVE = 0x0200
STREAM = 30000
PROBES = 200


def packet(message, wparam, lparam):
    return struct.pack(">BBIII", 13, 1, message, wparam, lparam)


def fnv(packets):
    h = 14695981039346656037
    for message, wparam, lparam in packets:
        for v in (message, wparam, lparam):
            for shift in (0, 8, 16, 24):
                h = ((h ^ ((v >> shift) & 0xFF)) * 1099511628211) & 0xFFFFFFFFFFFFFFFF
    return h


class Pointer:
    """The X pointer's position, read straight from the display (microseconds, not a process start)."""

    def __init__(self):
        self.x11 = ctypes.CDLL("libX11.so.6")
        self.x11.XOpenDisplay.restype = ctypes.c_void_p
        self.x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
        self.x11.XDefaultRootWindow.restype = ctypes.c_ulong
        self.x11.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
        self.x11.XQueryPointer.argtypes = [ctypes.c_void_p, ctypes.c_ulong] + [ctypes.c_void_p] * 7
        self.display = self.x11.XOpenDisplay(None)
        self.root = self.x11.XDefaultRootWindow(self.display)

    def position(self):
        root, child = ctypes.c_ulong(), ctypes.c_ulong()
        rx, ry, wx, wy = ctypes.c_int(), ctypes.c_int(), ctypes.c_int(), ctypes.c_int()
        mask = ctypes.c_uint()
        self.x11.XQueryPointer(self.display, self.root, ctypes.byref(root), ctypes.byref(child), ctypes.byref(rx),
                               ctypes.byref(ry), ctypes.byref(wx), ctypes.byref(wy), ctypes.byref(mask))
        return rx.value, ry.value


def replayed():
    out = harness.uidriver("replay")[1].split()
    return int(out[1]), int(out[7], 16)


def main():
    try:
        sim = harness.Simulator().start()
        server = harness.Tool(harness.tool_for(sim.port, folder="bench-server"), name="bench-server")
        server.start().wait_ready()
        for name, value in {"edt_screen_width": W, "edt_screen_height": H, "edt_start_x": X0, "edt_start_y": Y0,
                            "edt_mod_width": 64, "edt_mod_height": 48}.items():
            harness.uidriver("set", name, str(value))
        harness.uidriver("click", "btn_server")
        harness.uidriver("click", "btn_connect")
        harness.wait_until(lambda: harness.controls()["lab_state"][3] == "已启动！", message="the server started")
        harness.uidriver("click", "btn_screen_ctr")
        harness.uidriver("pattern", "--timeout", "20")
        link = socket.create_connection(("127.0.0.1", 6666))
        link.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)

        sent = [(WM_MOUSEMOVE, 0, ((i % H) << 16) | (i * 7 % W)) for i in range(STREAM)]
        data = b"".join(packet(*p) for p in sent)
        start = time.monotonic()
        link.sendall(data)
        count, digest = harness.wait_until(lambda: (lambda r: r if r[0] >= STREAM else None)(replayed()),
                                           timeout=120, interval=0.02, message="every packet replayed")
        elapsed = time.monotonic() - start
        ok = count == STREAM and digest == fnv(sent)
        print(f"P4 throughput: {count} packets replayed in {elapsed:.2f} s = {count / elapsed:,.0f} a second; "
              f"{'none lost or reordered (hashes equal)' if ok else 'LOST OR REORDERED'}")

        pointer = Pointer()
        delays = []
        for i in range(PROBES):
            x, y = 10 + i % 300, 10 + (i * 13) % 220
            target = (X0 + x, Y0 + y)
            t = time.monotonic()
            link.sendall(packet(WM_MOUSEMOVE, 0, (y << 16) | x))
            while pointer.position() != target and time.monotonic() - t < 2:
                pass
            delays.append(time.monotonic() - t)
            time.sleep(0.01)
        delays.sort()
        print(f"P4 delay, send to cursor moved on the server: median {statistics.median(delays) * 1000:.2f} ms, "
              f"90th percentile {delays[int(PROBES * 0.9)] * 1000:.2f} ms over {PROBES} probes")
        link.close()
        return 0 if ok else 1
    finally:
        harness.cleanup()


if __name__ == "__main__":
    sys.exit(main())
