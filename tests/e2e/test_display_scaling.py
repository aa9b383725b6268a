"""Display scaling: the main window and its controls follow the display's DPI (the prefix's LogPixels,
read by every new Wine process), while the pattern window stays in the desktop's physical pixels."""

import subprocess

from common import SEGMENTS, X0, Y0, H, W, check_pattern, open_tool
from harness import Screen, check, open_pattern, uidriver, window_state

DESKTOP_KEY = r"HKCU\Control Panel\Desktop"
MEASURED = ["btn_screen_ctr", "edt_start_x", "chkbox_Enable", "btn_op_instruction", "closebtn"]


def set_dpi(dpi):
    args = ["add", DESKTOP_KEY, "/v", "LogPixels", "/t", "REG_DWORD", "/d", str(dpi), "/f"] if dpi else \
        ["delete", DESKTOP_KEY, "/v", "LogPixels", "/f"]
    subprocess.run(["wine", "reg", *args], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)


def sizes():
    """Width and height of the main window and of each measured control."""
    out = {"window": window_state()[2:4]}
    for name in MEASURED:
        out[name] = tuple(int(v) for v in uidriver("window", name)[1].split()[2:4])
    return out


def close(sim, tool):
    uidriver("click", "closebtn")
    check(tool.wait_exit() == 0, "the tool ends with 0")
    sim.stop()


def test_layout_scales_with_the_dpi_and_the_pattern_keeps_physical_pixels():
    try:
        set_dpi(96)
        sim, tool = open_tool()
        base = sizes()
        close(sim, tool)
        set_dpi(144)
        sim, tool = open_tool()
        got = sizes()
        for name, (w, h) in base.items():
            gw, gh = got[name]
            check(abs(gw - w * 1.5) <= 2 and abs(gh - h * 1.5) <= 2,
                  f"at 144 DPI {name} is {gw}x{gh}, {w}x{h} at 96")
        # The fields are physical desktop pixels: the window covers exactly them, and every edge is one
        # pixel, as at 96 DPI.
        check(open_pattern() == (X0, Y0, W, H), "the pattern window covers (640, 0) to (959, 239)")
        check_pattern([1.0] * len(SEGMENTS), "the field and the one-pixel edges at 144 DPI")
        screen = Screen()
        check(all(screen.pixel(x, y) != (186, 186, 186) for x, y in ((X0 - 1, 0), (X0 + W, 0), (X0, Y0 + H))),
              "nothing of the pattern outside it")
        subprocess.run(["xdotool", "key", "Escape"], check=True)
        close(sim, tool)
    finally:
        set_dpi(None)
