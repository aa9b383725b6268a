"""Takes the manual's screenshots from real runs of the tool and the simulator, under Xvfb at 96 DPI:
the main window, the pattern window with a seam being tuned and in its photo mode, the progress window
of an upload, the message boxes of a photo correction and of a missing controller, the default practice
wall before and after its most visible seam is tuned away, and after a correction from a photo of it,
and the main window at 150 % display scaling. Every picture of a window is the window itself, pixel for pixel, and
the manual prints it at that size. Run through scripts/screenshots; the pictures land in
docs/screenshots/."""

import re
import subprocess
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "tests" / "e2e"))
sys.path.insert(0, str(ROOT / "tools" / "automation"))

import harness  # noqa: E402
import pattern_model as model  # noqa: E402

OUT = ROOT / "docs" / "screenshots"
X0, W, H, MW, MH = 896, 1024, 512, 64, 32  # the default screen, at the right edge of a 1920-wide desktop


def xdotool(*args):
    subprocess.run(["xdotool", *args], check=True)


def window_rect(title):
    """The rectangle of the top-level window with that title, frame and caption included."""
    out = subprocess.run(["xdotool", "search", "--name", f"^{re.escape(title)}$", "getwindowgeometry", "--shell",
                          "%@"], capture_output=True, text=True, check=True).stdout
    values = dict(line.split("=", 1) for line in out.split() if "=" in line)
    return int(values["X"]), int(values["Y"]), int(values["WIDTH"]), int(values["HEIGHT"])


def card_byte(gain):
    """The coefficient a card gets for a gain."""
    return 255 if gain >= 2.0 else int(model.f32(model.f32(gain) * 128.0)) & 0xFF


def render(sim, name, gamma):
    out = subprocess.run([str(harness.NATIVE_BIN / "ledsim"), "render", "--connect", f"127.0.0.1:{sim.port}",
                          "--gray", "128", "--gamma", gamma, "--out", str(OUT / name)],
                         capture_output=True, text=True, check=True).stdout
    print(out.strip())
    return out


def main():
    try:
        sim = harness.Simulator("--delay-ms", "40").start()
        tool = harness.Tool(harness.tool_for(sim.port)).start().wait_ready()
        x, y, w, h, _ = harness.window_state()
        harness.Screen.save_png(OUT / "main-window.png", crop=(x, y, w, h))

        # The seam the wall shows most, where the render says to click, and how many notches take it away.
        out = render(sim, "wall-uncorrected.png", "1.0")
        m = re.search(r"([0-9.]+) % \((brighter|darker)\) at the join", out)
        point = tuple(int(v) for v in re.search(r"click at (\d+), (\d+) in the pattern window", out).groups())
        factor = 1 + float(m.group(1)) / 100 * (1 if m.group(2) == "brighter" else -1)
        gains = [1.0]
        for _ in range(40):
            gains.append(model.step_wheel(gains[-1], up=factor < 1))
        notches = min(range(len(gains)), key=lambda n: abs(card_byte(gains[n]) / 128 * factor - 1))

        harness.uidriver("set", "edt_start_x", str(X0))
        harness.uidriver("set", "edt_camera_width", "1200")  # too coarse for the whole wall: six regions
        harness.uidriver("click", "btn_screen_ctr")
        harness.uidriver("pattern", "--timeout", "20")
        xdotool("mousemove", str(X0 + point[0]), str(point[1]), "click", "1")
        time.sleep(0.8)
        for _ in range(notches):
            xdotool("click", "4" if factor < 1 else "5")
        xdotool("mousemove", str(X0 + point[0] + 40), str(point[1] + 40))
        time.sleep(0.3)
        harness.Screen.save_png(OUT / "pattern-window.png",
                                crop=(X0 + max(0, point[0] - 192), max(0, min(point[1] - 96, H - 192)), 384, 192))
        # The photo mode's second region: lit, the rest of the wall black.
        xdotool("key", "p", "space")
        harness.wait_until(lambda: harness.uidriver("get", "lab_selection")[1].strip() == "照片分区 2 / 6",
                           message="the photo mode's second region")
        time.sleep(0.3)
        harness.Screen.save_png(OUT / "photo-region.png", crop=(X0, 0, W, H))
        xdotool("key", "Escape", "Escape")
        harness.wait_until(lambda: harness.uidriver("--timeout", "0", "pattern", check_rc=False)[0] == 1,
                           message="the pattern closed")

        harness.uidriver("click", "btn_send_to_hardware")
        harness.wait_until(lambda: len(harness.uidriver("--timeout", "0", "progress", check_rc=False)[1]
                                       .splitlines()) >= 4, timeout=20, message="the progress window")
        harness.Screen.save_png(OUT / "progress-window.png", crop=window_rect("Veltra-Seam"))
        harness.uidriver("msgbox", "--timeout", "30")
        harness.uidriver("msgbox", "--ok")
        harness.uidriver("click", "chkbox_Enable")
        harness.wait_until(lambda: sim.read(0, 0, 0xDA000005, 4) == "000000a8", message="correction on")
        render(sim, "wall-corrected.png", "1.0")

        # The same wall photographed by the simulator's camera and corrected from the photo in one step.
        photo = harness.scratch_dir("screenshots") / "photo.jpg"
        subprocess.run([str(harness.NATIVE_BIN / "ledsim"), "photo", "--connect", f"127.0.0.1:{sim.port}",
                        "--gray", "128", "--out", str(photo)], check=True, capture_output=True)
        subprocess.run(["/usr/bin/convert", str(photo), "-resize", "1200x", str(OUT / "wall-photo.png")], check=True)
        harness.uidriver("click", "btn_photo_correct")
        harness.uidriver("filedialog", harness.win_path(photo))
        harness.uidriver("msgbox", "--timeout", "120")
        time.sleep(0.3)
        harness.Screen.save_png(OUT / "photo-correction-box.png", crop=window_rect("照片校正"))
        harness.uidriver("msgbox", "--ok")
        harness.uidriver("click", "btn_send_to_hardware")
        harness.uidriver("msgbox", "--timeout", "30")
        harness.uidriver("msgbox", "--ok")
        render(sim, "wall-photo-corrected.png", "1.0")
        harness.uidriver("click", "closebtn")
        tool.wait_exit()

        # No controller where devicecomm.ini points: what the operator sees first.
        sim.stop()
        tool = harness.Tool(harness.tool_for(sim.port, folder="no-controller")).start().wait_ready()
        harness.uidriver("click", "btn_screen_ctr")
        harness.uidriver("msgbox", "--timeout", "30")
        time.sleep(0.3)
        harness.Screen.save_png(OUT / "device-errer-box.png", crop=window_rect("warnning"))
        harness.uidriver("msgbox", "--ok")
        harness.uidriver("click", "closebtn")
        tool.wait_exit()

        # The main window at 150 % display scaling: LogPixels, read by every new Wine process.
        reg = ["wine", "reg", "add", r"HKCU\Control Panel\Desktop", "/v", "LogPixels", "/t", "REG_DWORD", "/f"]
        subprocess.run(reg + ["/d", "144"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
        try:
            harness.Tool(harness.tool_for(sim.port)).start().wait_ready()
            x, y, w, h, _ = harness.window_state()
            harness.Screen.save_png(OUT / "main-window-144dpi.png", crop=(x, y, w, h))
        finally:
            subprocess.run(reg + ["/d", "96"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        print("screenshots: written to", OUT)
        return 0
    finally:
        harness.cleanup()


if __name__ == "__main__":
    sys.exit(main())
