"""Seam files through the real dialogs: save, import, the refusals, and the coefficient file."""

import os
import signal
import struct
import subprocess
import time

import pattern_model as model
from common import X0, Y0, answer_box, check_image, no_box, open_tool, set_fields, xdotool
from harness import (BIN, Tool, check, close_pattern_with_escape, controls, import_seam_file, open_pattern,
                     process_rss_kb, recovery_sets, save_seam_file, scratch_dir, track, uidriver, wait_until,
                     win_path)

SMALL = {"edt_screen_width": 128, "edt_screen_height": 64, "edt_mod_width": 64, "edt_mod_height": 32,
         "edt_box_width": 128, "edt_box_height": 64}


def field_values():
    table = controls()
    return {name: table[name][3] for name in table if name.startswith("edt_")}


def test_save_writes_header_and_grid_and_another_run_imports_them():
    folder = scratch_dir("files-roundtrip") / "现场 接缝"  # Chinese folder names work throughout
    folder.mkdir()
    sim, tool = open_tool(**SMALL)
    # Before any pattern window there are no seams: a header alone would not import, so nothing is written.
    expect_refusal(folder / "before.chk", "还没有可保存的接缝数据", command="btn_save")
    check(not (folder / "before.chk").exists(), "no header-only file")

    open_pattern()
    xdotool("mousemove", str(X0 + 70), str(Y0 + 10), "click", "1")  # records 9 and 12
    time.sleep(0.8)  # the blink
    xdotool("click", "4", "click", "4")
    close_pattern_with_escape()
    gains = [1.0] * 16
    gains[9] = gains[12] = model.step_wheel(model.step_wheel(1.0))
    segments = model.grid(128, 64, 64, 32)
    saved = save_seam_file(folder / "调好的")
    expected = model.seam_header(128, 64, 64, 32, X0, Y0, 128, 64) + model.seam_records(segments, gains, {9, 12})
    check(len(saved) == 496 and saved == expected, f"496 bytes with the tuned records: {len(saved)}")
    check(not (folder / "调好的.chk.chk").exists() and not list(folder.glob("*.tmp")), "no stray files")

    # Module width changed after tuning: the header would announce 32 records before 16. The dialog
    # first asks before replacing the file; then the save is refused and the file keeps its bytes.
    uidriver("set", "edt_mod_width", "32")
    uidriver("click", "btn_save")
    check(uidriver("--timeout", "2", "filedialog", win_path(folder / "调好的.chk"), check_rc=False)[0] == 1,
          "the dialog waits for its question")
    question = answer_box(button="--yes")
    check("already exists" in question, f"asked whether to replace the file: {question!r}")
    out = answer_box()
    check(out.startswith("warnning\t") and "modules of 64 x 32 (16 records)" in out
          and "modules of 32 x 32 (32 records)" in out, f"refusal {out!r}")
    check((folder / "调好的.chk").read_bytes() == saved, "the file keeps the tuned bytes")
    uidriver("set", "edt_mod_width", "64")
    uidriver("click", "closebtn")
    tool.wait_exit()

    # Another run imports the file: the fields show its values, the pattern its gains.
    tool = Tool(tool.bin_dir, name="importer").start().wait_ready()
    uidriver("set", "edt_gray_scale", "7")
    import_seam_file(folder / "调好的.chk")
    fields = wait_until(lambda: (lambda f: f if f["edt_gray_scale"] == "128" else None)(field_values()),
                        message="the fields filled from the file")
    check(fields["edt_screen_width"] == "128" and fields["edt_mod_height"] == "32" and fields["edt_start_x"] == "640"
          and fields["edt_gama_value"] == "2.2", f"fields {fields}")
    open_pattern()
    table = model.gamma_table(2.2)
    check(model.line_level(table, 128, gains[9]) != table[128], "the tuned seam differs from the field")
    check_image(model.image(128, 64, segments, gains, 128, table), "the imported gains", size=(128, 64))
    close_pattern_with_escape()


def test_import_keeps_every_byte_and_refuses_what_it_cannot_read_whole():
    folder = scratch_dir("files-count")
    sim, tool = open_tool(**SMALL)
    # Gains whose bytes hold line feed, carriage return and end-of-file in a text mode: 0x3F0A0D1A; bytes
    # after the sixteen records the header announces are not read.
    tricky = struct.unpack("<f", bytes([0x1A, 0x0D, 0x0A, 0x3F]))[0]
    gains = [1.0 + i / 100 for i in range(16)]
    gains[5] = tricky
    header = model.seam_header(128, 64, 64, 32, 1, 2, 3, 4, gray=200, gamma=1.8)
    content = header + model.seam_records(model.grid(128, 64, 64, 32), gains, {3})
    (folder / "whole.chk").write_bytes(content + bytes(28))
    import_seam_file(folder / "whole.chk")
    saved = save_seam_file(folder / "again.chk")
    check(saved == content, f"saved again: {saved.hex()}")
    check(field_values()["edt_gama_value"] == "1.8", "gamma with one decimal")
    # A header alone, a file cut inside its eleventh record, a NaN gain, a gain of -0.01: each refused.
    for name, data, fragment in (("header.chk", header, "需要 16 条接缝记录，文件只有 0 条"),
                                 ("cut.chk", content[:341], "文件只有 10 条完整记录"),
                                 ("nan.chk", content[:240] + struct.pack("<f", float("nan")) + content[244:],
                                  "第 7 条记录（共 16 条）的增益 NaN"),
                                 ("minus.chk", content[:464] + struct.pack("<f", -0.01) + content[468:],
                                  "第 15 条记录（共 16 条）的增益 -0.01")):
        (folder / name).write_bytes(data)
        expect_refusal(folder / name, fragment)
    check(save_seam_file(folder / "after.chk") == content, "the grid and the fields as they were")


def expect_refusal(path, fragment, command="btn_import_data"):
    uidriver("click", command)
    uidriver("filedialog", win_path(path))
    out = answer_box()
    check(out.startswith("warnning\t") and path.name in out and fragment in out, f"message {out!r}")


def test_unusable_headers_and_oversized_grids_are_refused_and_change_nothing():
    folder = scratch_dir("files-refused")
    sim, tool = open_tool(**SMALL)
    before = field_values()
    (folder / "short.chk").write_bytes(model.seam_header(128, 64, 64, 32)[:30])
    (folder / "zero.chk").write_bytes(model.seam_header(128, 64, 0, 32))
    (folder / "huge.chk").write_bytes(model.seam_header(65535, 65535, 1, 1))
    pid = tool.proc.pid
    rss = process_rss_kb(pid)
    expect_refusal(folder / "short.chk", "shorter")
    expect_refusal(folder / "zero.chk", "module width or height is 0")
    expect_refusal(folder / "huge.chk", "4294443012 records")
    check(field_values() == before, "the fields keep what was typed")
    expect_refusal(folder / "after.chk", "还没有可保存的接缝数据", command="btn_save")  # no grid was installed

    # A typo of 2 x 2 modules for a 30000 x 30000 screen: 25 GB of grid, refused before it is made (here
    # already as a screen larger than the 1920 x 1080 desktop).
    set_fields({"edt_screen_width": 30000, "edt_screen_height": 30000, "edt_mod_width": 2, "edt_mod_height": 2})
    uidriver("click", "btn_screen_ctr")
    out = answer_box()
    check("30000 x 30000" in out and "1920 x 1080" in out, f"message {out!r}")
    check(process_rss_kb(pid) - rss < 64 * 1024, f"memory grew from {rss} to {process_rss_kb(pid)} kB")
    check(uidriver("--timeout", "0.5", "pattern", check_rc=False)[0] == 1, "no pattern window")
    uidriver("set", "edt_mod_width", "64")
    check(field_values()["edt_mod_width"] == "64", "the window answers")


def test_a_save_that_cannot_replace_its_target_says_so_and_keeps_the_old_file():
    folder = scratch_dir("files-locked")
    sim, tool = open_tool(**SMALL)
    old = folder / "held.chk"
    old.write_bytes(b"operator's earlier work")
    holder = track(subprocess.Popen(["wine", str(BIN / "stand_in.exe"), "hold", win_path(old)],
                                    stdout=subprocess.PIPE))
    check(holder.stdout.readline().strip() == b"held", "the helper holds the file")
    for target in (old, folder / "taken"):
        (folder / "taken.chk").mkdir(exist_ok=True)
        uidriver("click", "btn_save")
        uidriver("filedialog", "--replace", win_path(target))
        out = answer_box()
        check(out.startswith("warnning\t") and target.stem + ".chk" in out, f"message {out!r}")
    check(old.read_bytes() == b"operator's earlier work", "the held file keeps its bytes")
    check(not list(folder.glob("*.tmp")), "no temporary file is left behind")

    # The coefficient file: chosen, then a cancelled dialog keeps the choice.
    coef = folder / "wall.dat"
    coef.write_bytes(bytes(8))
    uidriver("click", "btn_import_coef")
    uidriver("filedialog", win_path(coef))
    wait_until(lambda: controls()["lab_coef_file"][3].endswith("wall.dat"), message="the chosen coefficient file")
    uidriver("click", "btn_import_coef")
    uidriver("filedialog", "--cancel")
    check(controls()["lab_coef_file"][3].endswith("wall.dat"), "a cancel keeps the earlier choice")


def test_a_killed_or_unsaved_run_is_offered_at_the_next_start_and_a_saved_one_is_not():
    folder = scratch_dir("recovery")
    sim, tool = open_tool(**SMALL, edt_gama_value="2.25")  # kept as typed, not as "2.3"
    open_pattern()
    gains = [1.0] * 16
    for x, y, edges, up in ((70, 10, (9, 12), True), (70, 40, (11, 14), True), (100, 30, (3, 5), False)):
        xdotool("mousemove", str(X0 + x), str(Y0 + y), "click", "1")
        time.sleep(0.8)  # the blink
        xdotool("click", "4" if up else "5")
        for i in edges:
            gains[i] = model.step_wheel(gains[i], up=up)
    expected = model.seam_header(128, 64, 64, 32, X0, Y0, 128, 64, gamma=2.25) + model.seam_records(
        model.grid(128, 64, 64, 32), gains, {3, 5})
    wait_until(lambda: [p.read_bytes()[32] for p in recovery_sets()] == [6], message="six tuned edges kept")
    os.kill(tool.proc.pid, signal.SIGKILL)
    tool.proc.wait()

    def restart(answer=None):
        started = Tool(tool.bin_dir, name="recovered").start(keep_recovery=True).wait_ready()
        return started, answer_box(button=answer) if answer else no_box()

    tool, question = restart("--yes")
    check("6 条增益不是 1.0" in question and time.strftime("%Y-%m-%d") in question, f"question {question!r}")
    check(save_seam_file(folder / "restored.chk") == expected, "the save before the kill, byte for byte")
    uidriver("click", "closebtn")  # saved: nothing to ask next time
    tool.wait_exit()
    tool, asked = restart()
    check(asked, "no question after a save")
    import_seam_file(folder / "restored.chk")
    open_pattern()
    xdotool("mousemove", str(X0 + 32), str(Y0 + 16), "click", "1")  # record 0, the top border
    time.sleep(0.8)
    xdotool("click", "4")
    close_pattern_with_escape()
    uidriver("click", "closebtn")  # a notch not saved
    tool.wait_exit()
    tool, question = restart("--no")
    check("7 条增益不是 1.0" in question, f"question {question!r}")
    expect_refusal(folder / "declined.chk", "还没有可保存的接缝数据", command="btn_save")  # no grid held
    uidriver("click", "closebtn")
    tool.wait_exit()
    check(restart()[1] and recovery_sets() == [], "declined: not asked again")

