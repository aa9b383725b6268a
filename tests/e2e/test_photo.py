"""Correction from a photo as a technician takes it: the pattern window's photo mode on the screen, a phone's
photo of it (the simulator's camera with all its effects), the correction, the upload; then photos of the
corrected wall, a restart of the tool, a lost controller; and the refusals, the grid untouched."""

import json
import subprocess

from harness import (BIN, NATIVE_BIN, Screen, Simulator, Tool, check, open_pattern, save_seam_file, scratch_dir,
                     tool_for, uidriver, wait_until, win_path)
from test_upload import send_and_expect
from test_wall import render

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


def correct_from(path, timeout=300):
    """Clicks "btn_photo_correct", chooses the picture and returns the box it ends with (caption, tab, text)."""
    uidriver("click", "btn_photo_correct")
    uidriver("filedialog", win_path(path))
    _, out = uidriver("msgbox", "--timeout", str(timeout))
    uidriver("msgbox", "--ok")
    return out


def enable_correction(sim):
    uidriver("click", "chkbox_Enable")
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
