"""The pattern window, driven with real X input and checked pixel by pixel on exact screenshots."""

import time

import pattern_model as model
from common import (MW, N, SEGMENTS, X0, Y0, H, W, answer_box, check_pattern, leave_by_menu, open_tool,
                    set_fields, xdotool)
from harness import (SCRATCH, Screen, check, close_pattern_with_escape, controls, levels_during, open_pattern,
                     pattern_open, save_seam_file, scratch_dir, uidriver, wait_until)


def test_the_pattern_covers_the_screen_and_clicks_the_wheel_keys_and_menu_tune_it():
    sim, tool = open_tool(gray=150, gamma="1.8")  # not the defaults: the drawing reads both fields
    check(open_pattern() == (X0, Y0, W, H), "the pattern window covers exactly the screen's desktop pixels")
    table = model.gamma_table(1.8)
    field = table[150]
    gains = [1.0] * len(SEGMENTS)
    check_pattern(gains, "the field and the edges at gain 1.0", gray=150, gamma=1.8)
    screen = Screen()
    check(screen.pixel(X0 - 1, 0)[0] != field and screen.pixel(X0 + W, 0)[0] != field,
          "nothing of the pattern outside its rectangle")

    # The wheel before any click: nothing selected, nothing drawn, a trace for the developer.
    xdotool("mousemove", str(X0 + 70), str(Y0 + 10), "click", "4")
    wait_until(lambda: "修改失败" in tool.traces(), message="the trace of a wheel step with nothing selected")
    # Left of the vertical seam between columns 0 and 1, in row 0: the left edge of module 1 (it blinks,
    # being first in the grid) and the right edge of module 0.
    xdotool("mousemove", str(X0 + 70), str(Y0 + 10), "click", "1")
    # Six ticks of 100 ms; a wheel step during the blink would be inverted by the rest of it.
    check(255 - field in levels_during(X0 + MW, Y0 + 5, 1.0), "the selected seam's first line inverts")
    check_pattern(gains, "the blink ends with the line as drawn", gray=150, gamma=1.8)

    xdotool("click", "4", "click", "4")
    for i in (2 * N + 1, 3 * N):
        gains[i] = model.step_wheel(model.step_wheel(gains[i]))
    check(model.line_level(table, 150, gains[2 * N + 1]) != field, "two notches make the seam visible")
    check_pattern(gains, "two notches forward raise both edges", gray=150, gamma=1.8)
    xdotool("click", "5")
    for i in (2 * N + 1, 3 * N):
        gains[i] = model.step_wheel(gains[i], up=False)
    check_pattern(gains, "a notch back lowers them", gray=150, gamma=1.8)
    # Z and X step every line, in the keys' own precision.
    xdotool("key", "z", "z", "x")
    gains = [model.step_key(model.step_key(model.step_key(g)), up=False) for g in gains]
    check_pattern(gains, "Z, Z and X", gray=150, gamma=1.8)

    # The menu of the right button closes the window; reopening with the same sizes keeps the gains.
    leave_by_menu()
    check(open_pattern() == (X0, Y0, W, H), "reopened")
    check_pattern(gains, "the gains of the previous opening", gray=150, gamma=1.8)
    close_pattern_with_escape()
    # "btn_reset" puts every gain back to 1.0 for the next opening.
    uidriver("click", "btn_reset")
    open_pattern()
    check_pattern([1.0] * len(SEGMENTS), "gains reset", gray=150, gamma=1.8)
    close_pattern_with_escape()


def test_opening_switches_the_correction_off_once():
    sim, tool = open_tool()
    uidriver("click", "chkbox_Enable")
    wait_until(lambda: sim.read(1, 3, 0xDA000005, 4) == "000000a8", message="correction on")
    # One pixel past the right of the 1920 x 1080 desktop: refused, the box and the cards as they were.
    set_fields({"edt_start_x": 1920 - W + 1})
    uidriver("click", "btn_screen_ctr")
    out = answer_box()
    check(out.startswith("warnning\t") and f"起始 X {1921 - W}" in out and "1920 x 1080" in out, f"refused: {out!r}")
    check(controls()["chkbox_Enable"][2] == "1" and not pattern_open(), "still ticked, no pattern window")
    set_fields({"edt_start_x": 1920 - W})  # at the desktop's edge
    open_pattern()
    check(controls()["chkbox_Enable"][2] == "0", "the box shows unticked")
    check(sim.read(0, 0, 0xDA000005, 4) == "00000008", "the cards are switched off")
    close_pattern_with_escape()
    journal = [line for line in (SCRATCH / "journal.log").read_text().splitlines() if "0xda000005" in line]
    check(journal == ["-1 0x2fff 0xda000005 4 000000a8", "-1 0x2fff 0xda000005 4 00000008"],
          f"one switch write on, one off, no second off from the untick: {journal}")


def test_no_device_or_unusable_values_open_nothing():
    sim, tool = open_tool(edt_mod_width=0)
    uidriver("click", "btn_screen_ctr")
    out = answer_box()
    check("edt_mod_width" in out, f"the message names the field: {out!r}")
    set_fields({"edt_mod_width": MW})
    sim.stop()
    uidriver("click", "btn_screen_ctr")
    check(answer_box(20) == "warnning\tdevice errer\n", "device errer")
    check(not pattern_open(), "no pattern window")
    check(controls()["btn_screen_ctr"][1], "the window takes input again")


def test_undo_redo_coarse_notch_arrow_keys_and_the_selection_label():
    open_tool()
    folder = scratch_dir("undo")
    table = model.gamma_table(2.2)
    first, second = (2 * N + 1, 3 * N), (2 * N + 2, 3 * N + 1)  # vertical seams right of columns 0 and 1

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
    gains = [1.0] * len(SEGMENTS)
    for step in ("1.005", "1.010", "1.015"):
        xdotool("click", "4")
        wait_until(lambda: label() == f"模组 (0, 0) 右侧的缝隙 增益 {step}", message=f"the label at {step}")
        for i in first:
            gains[i] = model.step_wheel(gains[i])
    check_pattern(gains, "three notches")
    xdotool("key", "ctrl+z", "ctrl+z", "ctrl+z")
    check_pattern([1.0] * len(SEGMENTS), "undone: the field level")
    close_pattern_with_escape()
    check(save_seam_file(folder / "undone.chk") == before, "undone: the file saved before the notches")

    open_pattern()
    xdotool("key", "ctrl+y", "ctrl+shift+z", "ctrl+y")
    check_pattern(gains, "redone: the three notches")
    # Right from the seam: the next vertical seam along the row blinks, and a Shift notch is ten notches.
    xdotool("key", "Right")
    check(255 - table[128] in levels_during(X0 + 2 * MW, Y0 + 5, 1.0), "the next seam along the row blinks")
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
    # Module width 32 by mistake and opened, back to 64 and opened: each rebuild is one step, and the fields
    # come back with the grid.
    for width in (32, MW):
        set_fields({"edt_mod_width": width})
        open_pattern()
        close_pattern_with_escape()
    for width in (32, MW):
        xdotool("key", "ctrl+z")
        wait_until(lambda: controls()["edt_mod_width"][3] == str(width), message=f"the fields of width {width}")
    check(save_seam_file(folder / "rebuilt.chk") == tuned_file, "the tuned grid back byte for byte")
