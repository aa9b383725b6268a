"""The pattern window, driven with real X input and checked pixel by pixel on exact screenshots."""

import subprocess
import time

import pattern_model as model
from harness import (SCRATCH, Screen, Simulator, Tool, check, close_pattern_with_escape, controls, levels_during,
                     open_pattern, pattern_open, save_seam_file, scratch_dir, tool_for, uidriver, wait_until)

X0, Y0, W, H, MW, MH = 640, 0, 320, 240, 64, 48


def xdotool(*args):
    subprocess.run(["xdotool", *args], check=True)


def open_tool(gray=128, gamma="2.2", **fields):
    sim = Simulator("--journal", str(SCRATCH / "pattern-journal.log")).start()
    (SCRATCH / "pattern-journal.log").write_text("")
    tool = Tool(tool_for(sim.port)).start().wait_ready()
    values = {"edt_screen_width": W, "edt_screen_height": H, "edt_start_x": X0, "edt_start_y": Y0,
              "edt_mod_width": MW, "edt_mod_height": MH, "edt_gray_scale": gray, "edt_gama_value": gamma}
    values.update(fields)
    for name, value in values.items():
        uidriver("set", name, str(value))
    return sim, tool


def region(screen, w=W, h=H):
    return bytearray(screen.pixel(X0 + x, Y0 + y)[0] for y in range(h) for x in range(w))


def check_image(expected, message, timeout=3.0, size=(W, H), env=None):
    """Polls the screen (of the instance `env` names) until the pattern shows exactly the expected levels
    (gray: r = g = b)."""
    w, h = size
    last = [None]

    def matches():
        screen = Screen(env)
        got = region(screen, w, h)
        last[0] = got
        gray_only = all(screen.pixel(X0 + x, Y0 + y)[0] == screen.pixel(X0 + x, Y0 + y)[2]
                        for x, y in ((0, 0), (w - 1, h - 1), (w // 2, 10)))
        return gray_only and got == expected

    try:
        wait_until(matches, timeout, interval=0.1, message=message)
    except AssertionError:
        got = last[0]
        bad = [(i % w, i // w, got[i], expected[i]) for i in range(len(got)) if got[i] != expected[i]]
        raise AssertionError(f"{message}: {len(bad)} pixels differ, first (x, y, got, want): {bad[:5]}")


def test_pattern_covers_the_screen_and_draws_every_edge():
    open_tool()
    check(open_pattern() == (X0, Y0, W, H), "the pattern window covers exactly the screen's desktop pixels")
    table = model.gamma_table(2.2)
    check(table[128] == 186, "the field of gray 128 at gamma 2.2 is 186")
    segments = model.grid(W, H, MW, MH)
    gains = [1.0] * len(segments)
    check_image(model.image(W, H, segments, gains, 128, table), "the field and the edges at gain 1.0")
    before = Screen()
    check(before.pixel(X0 - 1, 0) != (186, 186, 186) and before.pixel(X0 + W, 0) != (186, 186, 186),
          "nothing of the pattern outside its rectangle")

    xdotool("mousemove", str(X0 + 100), str(Y0 + 100))
    xdotool("key", "z", "z")
    gains = [model.step_key(model.step_key(g)) for g in gains]
    check(model.line_level(table, 128, gains[0]) != 186, "two key steps make the lines visible")
    check_image(model.image(W, H, segments, gains, 128, table), "every line one level up after Z, Z")
    xdotool("key", "x")
    gains = [model.step_key(g, up=False) for g in gains]
    check_image(model.image(W, H, segments, gains, 128, table), "X steps every line down")


def test_click_selects_blinks_and_the_wheel_steps_the_seam():
    sim, tool = open_tool()
    open_pattern()
    table = model.gamma_table(2.2)
    segments = model.grid(W, H, MW, MH)
    gains = [1.0] * len(segments)
    cols, rows = W // MW, H // MH
    n = cols * rows
    # Left of the vertical seam between columns 0 and 1, in row 0: the left edge of module 1 (blinks,
    # being first in the grid) and the right edge of module 0.
    left_of_1, right_of_0 = 2 * n + 1, 3 * n + 0
    seam_x = MW  # pixel column of the left edge of module 1

    # The wheel before any click: nothing selected, nothing drawn, a trace for the developer.
    xdotool("mousemove", str(X0 + 70), str(Y0 + 10), "click", "4")
    wait_until(lambda: "修改失败" in tool.traces(), message="the trace of a wheel step with nothing selected")
    check_image(model.image(W, H, segments, gains, 128, table), "nothing changed")
    blinked = False
    for _ in range(3):
        xdotool("mousemove", str(X0 + 70), str(Y0 + 10), "click", "1")
        deadline = time.monotonic() + 0.8
        while time.monotonic() < deadline and not blinked:
            blinked = Screen().pixel(X0 + seam_x, Y0 + 5)[0] == 255 - 186
        if blinked:
            break
        time.sleep(0.8)
    check(blinked, "the selected seam's first line inverts")
    time.sleep(0.8)  # six ticks of 100 ms; a wheel step during the blink would be inverted by the rest
    check_image(model.image(W, H, segments, gains, 128, table), "the blink ends with the line as drawn")

    xdotool("click", "4", "click", "4")
    for i in (left_of_1, right_of_0):
        gains[i] = model.step_wheel(model.step_wheel(gains[i]))
    check(model.line_level(table, 128, gains[left_of_1]) == table[129], "gain 1.01 gives index 129")
    check_image(model.image(W, H, segments, gains, 128, table), "two notches forward raise both edges")
    xdotool("click", "5")
    for i in (left_of_1, right_of_0):
        gains[i] = model.step_wheel(gains[i], up=False)
    check_image(model.image(W, H, segments, gains, 128, table), "a notch back lowers them")
    xdotool("click", "4")
    for i in (left_of_1, right_of_0):
        gains[i] = model.step_wheel(gains[i])
    check_image(model.image(W, H, segments, gains, 128, table), "and forward again")

    # The menu of the right button closes the window; reopening with the same sizes keeps the gains.
    xdotool("mousemove", str(X0 + 160), str(Y0 + 120), "click", "3")
    time.sleep(0.3)
    xdotool("mousemove", str(X0 + 175), str(Y0 + 110), "click", "1")
    wait_until(lambda: not pattern_open(), message="menu exit closes")
    check(open_pattern() == (X0, Y0, W, H), "reopened")
    check_image(model.image(W, H, segments, gains, 128, table), "the gains of the previous opening")
    close_pattern_with_escape()

    # "btn_reset" puts every gain back to 1.0 for the next opening.
    uidriver("click", "btn_reset")
    open_pattern()
    check_image(model.image(W, H, segments, [1.0] * len(segments), 128, table), "gains reset")
    close_pattern_with_escape()


def test_gray_0_is_black_and_gamma_1_shows_the_gray_level_itself():
    open_tool(gray=0)
    open_pattern()
    check_image(bytearray(W * H), "gray 0: everything black")
    close_pattern_with_escape()
    uidriver("set", "edt_gray_scale", "100")
    uidriver("set", "edt_gama_value", "1.0")
    open_pattern()
    segments = model.grid(W, H, MW, MH)
    check_image(model.image(W, H, segments, [1.0] * len(segments), 100, list(range(256))), "gamma 1.0: level 100")
    close_pattern_with_escape()


def test_opening_switches_the_correction_off_once():
    sim, tool = open_tool()
    uidriver("click", "chkbox_Enable")
    wait_until(lambda: sim.read(1, 3, 0xDA000005, 4) == "000000a8", message="correction on")
    open_pattern()
    check(controls()["chkbox_Enable"][2] == "0", "the box shows unticked")
    check(sim.read(0, 0, 0xDA000005, 4) == "00000008", "the cards are switched off")
    close_pattern_with_escape()
    journal = [line for line in (SCRATCH / "pattern-journal.log").read_text().splitlines() if "0xda000005" in line]
    check(journal == ["-1 0x2fff 0xda000005 4 000000a8", "-1 0x2fff 0xda000005 4 00000008"],
          f"one switch write on, one off, no second off from the untick: {journal}")


def test_no_device_or_unusable_values_open_nothing():
    sim, tool = open_tool()
    uidriver("set", "edt_mod_width", "0")
    uidriver("click", "btn_screen_ctr")
    _, out = uidriver("msgbox")
    check("edt_mod_width" in out, f"the message names the field: {out!r}")
    uidriver("msgbox", "--ok")
    uidriver("set", "edt_mod_width", "64")
    uidriver("set", "edt_gray_scale", "256")
    uidriver("click", "btn_screen_ctr")
    _, out = uidriver("msgbox")
    check("edt_gray_scale" in out, f"the message names the field: {out!r}")
    uidriver("msgbox", "--ok")
    check(not pattern_open(), "no pattern window")

    uidriver("set", "edt_gray_scale", "128")
    sim.stop()
    uidriver("click", "btn_screen_ctr")
    _, out = uidriver("msgbox", "--timeout", "20")
    check(out == "warnning\tdevice errer\n", f"message box {out!r}")
    uidriver("msgbox", "--ok")
    check(not pattern_open(), "no pattern window without a device")


def test_undo_redo_coarse_notch_arrow_keys_and_the_selection_label():
    open_tool()
    folder = scratch_dir("undo")
    table = model.gamma_table(2.2)
    segments = model.grid(W, H, MW, MH)
    n = (W // MW) * (H // MH)
    first, second = (2 * n + 1, 3 * n), (2 * n + 2, 3 * n + 1)  # vertical seams right of columns 0 and 1

    def label():
        return uidriver("get", "lab_selection")[1].strip()

    check(label() == "未选择", f"nothing selected at start: {label()!r}")
    open_pattern()
    xdotool("mousemove", str(X0 + 70), str(Y0 + 10), "click", "1")
    wait_until(lambda: label() == "模组 (0, 0) 右侧的缝隙 增益 1.000", message="the label after a click")
    time.sleep(0.8)  # the blink
    close_pattern_with_escape()
    before = save_seam_file(folder / "before.chk")

    open_pattern()
    gains = [1.0] * len(segments)
    for step in ("1.005", "1.010", "1.015"):
        xdotool("click", "4")
        wait_until(lambda: label() == f"模组 (0, 0) 右侧的缝隙 增益 {step}", message=f"the label at {step}")
        for i in first:
            gains[i] = model.step_wheel(gains[i])
    tuned = model.image(W, H, segments, gains, 128, table)
    check_image(tuned, "three notches")
    xdotool("key", "ctrl+z", "ctrl+z", "ctrl+z")
    check_image(model.image(W, H, segments, [1.0] * len(segments), 128, table), "undone: the field level")
    close_pattern_with_escape()
    check(save_seam_file(folder / "undone.chk") == before, "undone: the file saved before the notches")

    open_pattern()
    xdotool("key", "ctrl+y", "ctrl+shift+z", "ctrl+y")
    check_image(tuned, "redone: the three notches")
    # Right from the seam: the next vertical seam along the row blinks, and a Shift notch is ten notches.
    xdotool("key", "Right")
    check(255 - 186 in levels_during(X0 + 2 * MW, Y0 + 5, 1.0), "the next seam along the row blinks")
    xdotool("keydown", "shift", "click", "4", "keyup", "shift")
    coarse = 1.0
    for _ in range(10):
        coarse = model.step_wheel(coarse)
    wait_until(lambda: label() == f"模组 (1, 0) 右侧的缝隙 增益 {coarse:.3f}", message="the label after a Shift notch")
    close_pattern_with_escape()
    _, records = model.read_seam_file(save_seam_file(folder / "coarse.chk"))
    check([records[i][6] for i in first + second] == [gains[first[0]]] * 2 + [coarse] * 2,
          f"three notches on the first seam, ten in one on the second: {[records[i][6] for i in first + second]}")
    tuned_file = (folder / "coarse.chk").read_bytes()

    # A slip on "增益复位" is taken back with Ctrl+Z in the main window.
    uidriver("click", "btn_reset")
    _, records = model.read_seam_file(save_seam_file(folder / "reset.chk"))
    check(all(r[6] == 1.0 for r in records), "reset")
    xdotool("key", "ctrl+z")
    wait_until(lambda: label() == f"模组 (1, 0) 右侧的缝隙 增益 {coarse:.3f}", message="the reset undone")
    check(save_seam_file(folder / "back.chk") == tuned_file, "every gain back after Ctrl+Z in the main window")
