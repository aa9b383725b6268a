"""Correction from a photo as a technician takes it: the pattern window's photo mode on the screen, a phone's
photo of it (the simulator's camera with all its effects), the correction, the upload; then photos of the
corrected wall, a restart of the tool, a lost controller; and the refusals, the grid untouched."""

import json
import subprocess

from common import answer_box, render, send_and_expect, set_fields, xdotool
from harness import (BIN, NATIVE_BIN, Screen, Simulator, Tool, check, open_pattern, save_seam_file, scratch_dir,
                     second_instance, tool_for, uidriver, wait_until, win_path)

# The simulator's camera is slow under the sanitizers; the optimised build is used when there is one.
LEDSIM = BIN.parent.parent / "bench" / "bin" / "ledsim"
LEDSIM = LEDSIM if LEDSIM.exists() else NATIVE_BIN / "ledsim"


def photograph(sim, out, *options):
    result = subprocess.run([str(LEDSIM), "photo", "--connect", f"127.0.0.1:{sim.port}", "--out", str(out),
                             *(options if "--input" in options else ("--gray", "128", *options))],
                            capture_output=True, text=True, timeout=600)
    check(result.returncode == 0 and out.exists(), f"photo: {result.stdout}{result.stderr}")
    return out


def photo_of_photo_mode(sim, folder, name, width, height, *options):
    """Opens the pattern window, shows its photo mode and photographs what the wall shows then."""
    open_pattern()
    subprocess.run(["xdotool", "key", "p"], check=True)
    wait_until(lambda: uidriver("get", "lab_selection")[1].strip() == "照片分区 1 / 1", 20,
               message="the photo mode's region")
    shot = folder / f"{name}-screen.png"
    wait_until(lambda: Screen.save_png(shot, (0, 0, width, height)) or shot.exists(), message="screenshot")
    subprocess.run(["xdotool", "key", "Escape", "Escape"], check=True)
    wait_until(lambda: uidriver("--timeout", "0", "pattern", check_rc=False)[0] != 0, 20, message="closed")
    return photograph(sim, folder / f"{name}.jpg", "--input", str(shot), *options)


def correct_from(path, timeout=300, env=None):
    """Clicks "btn_photo_correct", chooses the picture (or pictures) and returns the box it ends with
    (caption, tab, text)."""
    uidriver("click", "btn_photo_correct", env=env)
    uidriver("filedialog", "|".join(win_path(p) for p in (path if isinstance(path, list) else [path])), env=env)
    return answer_box(timeout, env=env)


def enable_correction(sim, env=None):
    uidriver("click", "chkbox_Enable", env=env)
    wait_until(lambda: sim.read(0, 0, 0xDA000005, 4) == "000000a8", message="correction on")


def test_the_practice_wall_from_a_phones_photos_before_and_after_a_restart():
    folder = scratch_dir("photo")
    sim = Simulator().start()
    before, join = render(sim, folder / "before.png")
    check(abs(before - 9.45) < 0.01, f"the practice wall: {before} % at {join}")
    tool = Tool(tool_for(sim.port)).start().wait_ready()

    # The photo mode's calibration lines tell the camera's response; the cards are off.
    out = correct_from(photo_of_photo_mode(sim, folder, "mode-1", 1024, 512))
    check(out.startswith("照片校正\t照片校正完成") and "照片模式的校准线" in out and "接收卡校正：未启用" in out,
          f"the first box: {out!r}")
    # The pattern window then shows the tuned gains; a second photo of it refines them.
    out = correct_from(photo_of_photo_mode(sim, folder, "mode-2", 1024, 512, "--seed", "2"))
    check(out.startswith("照片校正\t"), f"the refining box: {out!r}")
    send_and_expect(" \tsend seam data finish\n")
    enable_correction(sim)
    first, join = render(sim, folder / "after-1.png")
    check(first < 1.5, f"after the pattern window's photos: {first} % at {join}")

    # A photo of the corrected wall with the cards on, read from the cards.
    out = correct_from(photograph(sim, folder / "cards-on.jpg", "--seed", "3"))
    check(out.startswith("照片校正\t") and "接收卡校正：已启用" in out, f"the cards-on box: {out!r}")
    send_and_expect(" \tsend seam data finish\n")
    second, join = render(sim, folder / "after-2.png")
    check(second < 1.0, f"after the cards-on photo: {second} % at {join}")

    # Stored, the tool restarted (grid 1.0, box unticked): the next photo refines what the cards hold.
    uidriver("click", "btn_solidify")
    uidriver("msgbox", "--timeout", "60")
    uidriver("msgbox", "--ok")
    uidriver("click", "closebtn")
    tool.wait_exit()
    tool = Tool(tool_for(sim.port)).start().wait_ready()
    out = correct_from(photograph(sim, folder / "restarted.jpg", "--seed", "4"))
    check("接收卡校正：已启用" in out, f"after the restart: {out!r}")
    send_and_expect(" \tsend seam data finish\n")
    enable_correction(sim)
    third, join = render(sim, folder / "after-3.png")
    check(third <= second + 0.01, f"after the restart: {third} % at {join} (before it {second} %)")

    # A controller gone: the box says so, and the refusals leave every gain as it was.
    grid = save_seam_file(folder / "grid.chk")
    sim.stop()
    (folder / "notes.png").write_text("not a picture at all")
    out = correct_from(folder / "notes.png", 60)
    check("不是 PNG、JPEG 或 BMP 图片" in out and "无法读取" in out, f"no controller: {out!r}")
    check(save_seam_file(folder / "after-refusal.chk") == grid, "the refusal left the grid")
    print(f"    practice wall: {before} % -> {first} % -> {second} % -> restarted {third} %")


def test_a_wall_of_small_modules_photographed_tilted():
    folder = scratch_dir("photo-48")
    (folder / "wall.json").write_text(json.dumps({
        "ports": [{"cards": [{"rows": 576, "columns": 576}, {"column": 576, "rows": 576, "columns": 576}]}],
        "wall": {"module_width": 24, "module_height": 12,
                 "random": {"seed": 4242, "low": 0.9, "high": 1.1, "share": 0.05}}}))
    sim = Simulator("--topology", str(folder / "wall.json")).start()
    before, _ = render(sim, folder / "before.png")
    Tool(tool_for(sim.port)).start().wait_ready()
    for name, value in {"edt_screen_width": 1152, "edt_screen_height": 576, "edt_mod_width": 24,
                        "edt_mod_height": 12}.items():
        uidriver("set", name, str(value))
    out = correct_from(photo_of_photo_mode(sim, folder, "mode", 1152, 576, "--tilt", "10"))
    check(out.startswith("照片校正\t照片校正完成"), f"the box: {out!r}")
    send_and_expect(" \tsend seam data finish\n")
    enable_correction(sim)
    first, join = render(sim, folder / "after-1.png")
    check(first < 1.5, f"48 x 48 modules, tilted: {before} % -> {first} % at {join}")
    out = correct_from(photograph(sim, folder / "cards-on.jpg", "--tilt", "10", "--seed", "2"))
    send_and_expect(" \tsend seam data finish\n")
    second, join = render(sim, folder / "after-2.png")
    check(second <= first, f"the second photo: {second} % at {join} (after the first {first} %)")
    print(f"    48 x 48 wall, tilted: {before} % -> {first} % -> {second} %")


def test_a_4k_wall_photographed_region_by_region():
    folder = scratch_dir("photo-4k")
    (folder / "wall.json").write_text(json.dumps({
        "ports": [{"cards": [{"row": 240 * r, "column": 256 * c, "rows": 240, "columns": 256}
                             for r in range(9) for c in range(15)]}],
        "wall": {"module_width": 64, "module_height": 30,
                 "random": {"seed": 20261206, "low": 0.9, "high": 1.1, "share": 0.05}}}))
    sim = Simulator("--topology", str(folder / "wall.json")).start()
    before, _ = render(sim, folder / "before.png")
    b = second_instance()
    Tool(tool_for(sim.port, "tool-4k"), "tool-4k", env=b).start().wait_ready()
    set_fields({"edt_screen_width": 3840, "edt_screen_height": 2160, "edt_mod_width": 64, "edt_mod_height": 30,
                "edt_start_x": 0, "edt_start_y": 0}, env=b)
    out = correct_from(photograph(sim, folder / "whole.jpg", "--camera", "4000x3000"), env=b)
    check("这面墙需要分 3 x 3 个区域拍摄" in out, f"one photo of the 4K wall: {out!r}")

    # The photo mode's regions of 21 x 34 modules, each photographed as a technician frames it.
    open_pattern(env=b)
    xdotool("key", "p", env=b)
    photos = []
    for k, (x, y) in enumerate((x, y) for y in (0, 570, 1140) for x in (0, 1280, 2496)):
        wait_until(lambda: uidriver("get", "lab_selection", env=b)[1].strip() == f"照片分区 {k + 1} / 9", 20,
                   message=f"region {k + 1}")
        shot = folder / f"region-{k + 1}.png"
        Screen.save_png(shot, (0, 0, 3840, 2160), env=b)
        if k < 2:  # the lit region at the field's level (gray 128 through gamma 2.2), the rest black
            screen = Screen(env=b)
            check(screen.pixel(x + 32, y + 15) == (186,) * 3 and screen.pixel(x + 1400, y + 1050) == (0,) * 3
                  and screen.pixel((x + 3000) % 3840, 2100) == (0,) * 3, f"region {k + 1} on the screen")
        photos.append(photograph(sim, folder / f"region-{k + 1}.jpg", "--input", str(shot), "--lit",
                                 f"{x},{y},1344,1020", "--camera", "4000x3000", "--seed", str(k + 1)))
        xdotool("key", "space", env=b)
    xdotool("key", "Escape", "Escape", env=b)
    wait_until(lambda: uidriver("--timeout", "0", "pattern", check_rc=False, env=b)[0] != 0, 20, message="closed")
    grid = save_seam_file(folder / "before.chk", env=b)

    out = correct_from(photos[:2], env=b)
    check(out.startswith("warnning\t") and "9 个区域" in out, f"two photos for nine regions: {out!r}")
    check(save_seam_file(folder / "refused.chk", env=b) == grid, "the refusal left the grid")
    out = correct_from(list(reversed(photos)), 600, env=b)  # taken by their names, not as chosen
    check(out.startswith("照片校正\t照片校正完成"), f"the regions' box: {out!r}")
    send_and_expect(" \tsend seam data finish\n", 300, env=b)
    enable_correction(sim, env=b)
    after, join = render(sim, folder / "after.png")
    check(after < 1.5, f"the 4K wall from nine photos: {before} % -> {after} % at {join}")

    # One undo in the main window gives back the grid from before the photos.
    xdotool("key", "ctrl+z", env=b)
    check(save_seam_file(folder / "undone.chk", env=b) == grid, "undone: the grid before the photos")
    print(f"    4K wall by regions: {before} % -> {after} %")
