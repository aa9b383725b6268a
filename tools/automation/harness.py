"""Drives the real exe under Wine and Xvfb: start it, talk to it through uidriver, read the screen and
the debugger traces, run the simulator, and always stop what was started, by process id. Used by the
end-to-end tests, the benchmarks under Wine and the screenshot script."""

import atexit
import ctypes
import os
import re
import shutil
import signal
import subprocess
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
BIN = ROOT / "build" / "win" / "bin"
NATIVE_BIN = ROOT / "build" / "native" / "bin"
SCRATCH = ROOT / "build" / "e2e"
MANUAL = "使用文档 -Korvane.pdf"

_started = []  # every process a test started, stopped by cleanup()


class TestFailure(AssertionError):
    pass


def check(condition, message):
    if not condition:
        raise TestFailure(message)


def wait_until(condition, timeout=10.0, interval=0.05, message="condition"):
    """Polls until condition() returns a true value, which is returned."""
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() >= deadline:
            raise TestFailure(f"timed out after {timeout} s waiting for {message}")
        time.sleep(interval)


def track(proc):
    _started.append(proc)
    return proc


def cleanup():
    while _started:
        proc = _started.pop()
        if proc.poll() is None:
            try:
                os.kill(proc.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
        try:
            proc.wait(timeout=10)
        except subprocess.TimeoutExpired:
            pass


def scratch_dir(name):
    path = SCRATCH / name
    shutil.rmtree(path, ignore_errors=True)
    path.mkdir(parents=True)
    return path


def uidriver(*args, timeout=30, check_rc=True, env=None):
    """Runs uidriver.exe (in the instance `env` names, or the default one); returns (exit code, stdout)."""
    env = dict(env or os.environ, WINEDEBUG="-all")
    proc = subprocess.run(["wine", str(BIN / "uidriver.exe"), *args], capture_output=True, env=env,
                          timeout=timeout)
    out = proc.stdout.decode("utf-8", "replace")
    if check_rc and proc.returncode != 0:
        raise TestFailure(f"uidriver {' '.join(args)} exited {proc.returncode}: "
                          f"{proc.stderr.decode('utf-8', 'replace').strip()}")
    return proc.returncode, out


def controls(env=None):
    """Name -> (kind, enabled, checked, text) of every control of the main window."""
    _, out = uidriver("list", env=env)
    table = {}
    for line in out.splitlines():
        name, kind, enabled, checked, text = line.split("\t", 4)
        table[name] = (kind, enabled == "1", checked, text)
    return table


def pattern_open(env=None):
    return uidriver("--timeout", "0", "pattern", check_rc=False, env=env)[0] == 0


def open_pattern(env=None):
    """Clicks "btn_screen_ctr" and waits for the pattern window; returns its client rectangle."""
    uidriver("click", "btn_screen_ctr", env=env)
    _, rect = uidriver("pattern", "--timeout", "20", env=env)
    return tuple(int(v) for v in rect.split())


def close_pattern_with_escape(env=None):
    subprocess.run(["xdotool", "key", "Escape"], check=True, env=env)
    wait_until(lambda: not pattern_open(env), message="the pattern window closed")


def save_seam_file(path, env=None):
    """Saves through the dialog and returns the bytes written; a name typed without an extension gets
    the dialog's ".chk"."""
    uidriver("click", "btn_save", env=env)
    uidriver("filedialog", win_path(path), env=env)
    written = path if path.suffix == ".chk" else path.with_name(path.name + ".chk")
    wait_until(lambda: written.exists(), message=f"{written.name} written")
    return written.read_bytes()


def import_seam_file(path, env=None):
    uidriver("click", "btn_import_data", env=env)
    uidriver("filedialog", win_path(path), env=env)


def window_state():
    _, out = uidriver("window")
    x, y, w, h, state = out.split()
    return int(x), int(y), int(w), int(h), state


def decode_trace(escaped):
    """Undoes the C escaping of Wine's debugstr channel and decodes the GBK bytes."""
    out = bytearray()
    i = 0
    while i < len(escaped):
        c = escaped[i]
        if c == "\\" and i + 1 < len(escaped):
            n = escaped[i + 1]
            if n == "x":
                out.append(int(escaped[i + 2:i + 4], 16))
                i += 4
                continue
            out.extend({"n": b"\n", "r": b"\r", "t": b"\t", "\\": b"\\", '"': b'"'}.get(n, n.encode()))
            i += 2
            continue
        out.extend(c.encode("latin-1"))
        i += 1
    return out.decode("gbk", "replace")


def recovery_sets(env=None):
    """The recovery sets in %LOCALAPPDATA%\\Veltra-Seam\\recovery of the Wine prefix `env` names."""
    prefix = (env or os.environ).get("WINEPREFIX")
    return sorted(Path(prefix).glob("drive_c/users/*/AppData/Local/Veltra-Seam/recovery/*.rec")) if prefix else []


class Tool:
    """One run of VeltraSeam.exe, with its debugger output captured."""

    def __init__(self, bin_dir=BIN, name="tool", env=None):
        self.bin_dir = Path(bin_dir)
        self.log = SCRATCH / f"{name}.stderr"
        self.out = SCRATCH / f"{name}.stdout"
        self.env = env
        self.proc = None

    def start(self, keep_recovery=False):
        """Starts the exe; the recovery sets of earlier runs are removed first unless `keep_recovery`, so
        that no start-up question meets a test that does not expect it."""
        SCRATCH.mkdir(parents=True, exist_ok=True)
        for old in [] if keep_recovery else recovery_sets(self.env):
            old.unlink()
        env = dict(self.env or os.environ, WINEDEBUG="-all,+debugstr")
        with open(self.log, "wb") as err, open(self.out, "wb") as out:
            self.proc = track(subprocess.Popen(["wine", str(self.bin_dir / "VeltraSeam.exe")],
                                               stdout=out, stderr=err, env=env, cwd=self.bin_dir))
        return self

    def stdout(self):
        return self.out.read_text("latin-1") if self.out.exists() else ""

    def wait_ready(self, timeout=60):
        # "list" reads every control's text with sent messages, which the tool answers only from its
        # message loop: once it answers, start-up (centring and showing included) is over. The first
        # Wine program of a fresh Wine server can take long to start: a slow answer is asked again.
        def answered():
            try:
                return uidriver("--timeout", "1", "list", check_rc=False, timeout=20, env=self.env)[0] == 0
            except subprocess.TimeoutExpired:
                return False

        wait_until(lambda: answered() or self.exited(), timeout, message="the main window")
        check(not self.exited(), f"the tool ended at start with {self.proc.returncode}")
        return self

    def exited(self):
        return self.proc.poll() is not None

    def wait_exit(self, timeout=15):
        try:
            return self.proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            raise TestFailure("the tool did not end")

    def traces(self):
        if not self.log.exists():
            return []
        text = self.log.read_text("latin-1")
        return [decode_trace(m) for m in re.findall(r'OutputDebugStringA "(.*)"', text)]


class Screen:
    """A screenshot of the whole X display (or of the instance `env` names), exact at depth 24."""

    def __init__(self, env=None):
        raw = subprocess.run(["/usr/bin/import", "-window", "root", "-depth", "8", "ppm:-"],
                             capture_output=True, check=True, env=env).stdout
        magic, width, height, maxval, self.data = raw.split(maxsplit=4)
        check(magic == b"P6" and maxval == b"255", "unexpected screenshot format")
        self.width, self.height = int(width), int(height)

    def pixel(self, x, y):
        i = (y * self.width + x) * 3
        return tuple(self.data[i:i + 3])

    @staticmethod
    def save_png(path, crop=None, env=None):
        args = ["/usr/bin/import", "-window", "root"]
        if crop:
            x, y, w, h = crop
            args += ["-crop", f"{w}x{h}+{x}+{y}"]
        subprocess.run(args + [str(path)], check=True, env=env)


def levels_during(x, y, seconds):
    """Every level a pixel shows for a while, read straight from the X server (a screenshot program takes
    longer to start than an inversion of the blink lasts)."""
    x11 = ctypes.CDLL("libX11.so.6")
    p, u = ctypes.c_void_p, ctypes.c_ulong
    for name, res, args in (("XOpenDisplay", p, [p]), ("XDefaultRootWindow", u, [p]), ("XCloseDisplay", None, [p]),
                            ("XGetImage", p, [p, u] + [ctypes.c_int] * 2 + [ctypes.c_uint] * 2 + [u, ctypes.c_int]),
                            ("XGetPixel", u, [p, ctypes.c_int, ctypes.c_int])):
        getattr(x11, name).restype, getattr(x11, name).argtypes = res, args
    display = x11.XOpenDisplay(None)
    levels, deadline = set(), time.monotonic() + seconds
    while time.monotonic() < deadline:
        image = x11.XGetImage(display, x11.XDefaultRootWindow(display), x, y, 1, 1, 0xFFFFFFFF, 2)  # ZPixmap
        levels.add(x11.XGetPixel(image, 0, 0) & 0xFF)
        time.sleep(0.005)
    x11.XCloseDisplay(display)
    return levels


def display_size():
    out = subprocess.run(["xdpyinfo"], capture_output=True, text=True).stdout
    m = re.search(r"dimensions:\s+(\d+)x(\d+)", out)
    return int(m.group(1)), int(m.group(2))


def copy_tool(folder, layout_text=None):
    """A copy of the exe in a folder of its own, with the given main layout (or none)."""
    folder = scratch_dir(folder)
    shutil.copy2(BIN / "VeltraSeam.exe", folder)
    if layout_text is not None:
        (folder / "xml").mkdir()
        (folder / "xml" / "VTSeamFrame.xml").write_text(layout_text, "utf-8")
    return folder


def temp_file(suffix=""):
    SCRATCH.mkdir(parents=True, exist_ok=True)
    fd, path = tempfile.mkstemp(suffix=suffix, dir=SCRATCH)
    os.close(fd)
    return Path(path)


class Simulator:
    """The simulated LED controller (native build), on a free loopback port."""

    def __init__(self, *options, name="ledsim", binary=None):
        self.options = list(options)
        self.name = name
        self.binary = binary or NATIVE_BIN / "ledsim"
        self.port = None
        self.proc = None

    def start(self):
        SCRATCH.mkdir(parents=True, exist_ok=True)
        self.log = open(SCRATCH / f"{self.name}.stderr", "wb")
        self.proc = track(subprocess.Popen([str(self.binary), "serve", "--listen", "127.0.0.1:0",
                                            *self.options], stdout=subprocess.PIPE, stderr=self.log))
        line = self.proc.stdout.readline().decode()
        m = re.match(r"ledsim: listening on 127\.0\.0\.1:(\d+)", line)
        check(m is not None, f"the simulator did not start: {line!r}")
        self.port = int(m.group(1))
        return self

    def stop(self):
        if self.proc.poll() is None:
            os.kill(self.proc.pid, signal.SIGTERM)
            self.proc.wait(timeout=10)

    def read(self, port, card, address, length):
        out = subprocess.run([str(NATIVE_BIN / "ledsim"), "read", "--connect", f"127.0.0.1:{self.port}",
                              str(port), str(card), hex(address), str(length)],
                             capture_output=True, text=True, timeout=30)
        check(out.returncode == 0, f"ledsim read failed: {out.stderr}")
        return out.stdout.strip()

    def cards(self):
        out = subprocess.run([str(NATIVE_BIN / "ledsim"), "cards", "--connect", f"127.0.0.1:{self.port}"],
                             capture_output=True, text=True, timeout=30)
        check(out.returncode == 0, f"ledsim cards failed: {out.stderr}")
        return [tuple(int(v) for v in line.split()) for line in out.stdout.splitlines()]


def tool_for(sim_port, folder="tool", reply_timeout_ms=3000):
    """A copy of the tool whose device library talks to the simulator on sim_port."""
    folder = scratch_dir(folder)
    for item in ("VeltraSeam.exe", "uidriver.exe", MANUAL):
        shutil.copy2(BIN / item, folder)
    shutil.copytree(BIN / "xml", folder / "xml")
    (folder / "devicecomm.ini").write_text(
        f"[controller]\r\naddress=127.0.0.1\r\nport={sim_port}\r\nconnect_timeout_ms=2000\r\n"
        f"reply_timeout_ms={reply_timeout_ms}\r\n", "ascii")
    return folder


def win_path(path):
    """The Windows name of a Linux path under Wine's drive Z:."""
    return "Z:" + str(path).replace("/", "\\")


def process_rss_kb(pid):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def free_display():
    for n in range(141, 200):
        if not Path(f"/tmp/.X{n}-lock").exists() and not Path(f"/tmp/.X11-unix/X{n}").exists():
            return n
    raise TestFailure("no free X display")


_second = {}


def _stop_second():
    # Every process of the second prefix ends with its Wine server (services, device drivers, ...); then
    # the display goes.
    if "env" in _second:
        subprocess.run(["wineserver", "-k"], env=_second["env"], stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=60)
    for proc in reversed(_second.get("procs", [])):  # the server, then the display
        if proc.poll() is None:
            proc.terminate()
        proc.wait(timeout=10)


def second_instance():
    """The environment of a second Wine instance: a prefix of its own (a copy of the tests' prefix), an
    Xvfb and a persistent Wine server of its own. Made once per run, since the first program of a new
    Wine server takes many seconds to start; stopped when the run ends. Its display holds a 4K wall."""
    if "env" in _second:
        return _second["env"]
    prefix = SCRATCH / "second-prefix"
    if not (prefix / "system.reg").exists():
        shutil.rmtree(prefix, ignore_errors=True)
        SCRATCH.mkdir(parents=True, exist_ok=True)
        subprocess.run(["cp", "-a", os.environ["WINEPREFIX"], str(prefix)], check=True)
    n = free_display()
    xvfb = subprocess.Popen(["Xvfb", f":{n}", "-screen", "0", "3840x2200x24", "-nolisten", "tcp", "-ac"],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    _second["procs"] = [xvfb]
    atexit.register(_stop_second)
    wait_until(lambda: Path(f"/tmp/.X11-unix/X{n}").exists(), message="the second display")
    env = dict(os.environ, WINEPREFIX=str(prefix), DISPLAY=f":{n}")
    _second["procs"].append(subprocess.Popen(["wineserver", "-f", "-p"], env=env, stdout=subprocess.DEVNULL,
                                             stderr=subprocess.DEVNULL))
    _second["env"] = env
    return env
