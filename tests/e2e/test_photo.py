"""Correction from a photo: the simulator's camera photographs the wall, the tool measures every seam in
one step and sets the gains; what it cannot measure it refuses with a box, the grid untouched."""

import json
import struct
import subprocess
import zlib

from harness import (NATIVE_BIN, Simulator, Tool, check, save_seam_file, scratch_dir, tool_for, uidriver,
                     wait_until, win_path)
from test_upload import send_and_expect
from test_wall import render


def photograph(sim, out, *options):
    result = subprocess.run([str(NATIVE_BIN / "ledsim"), "photo", "--connect", f"127.0.0.1:{sim.port}", "--gray",
                             "128", "--out", str(out), *options], capture_output=True, text=True, timeout=300)
    check(result.returncode == 0 and out.exists(), f"photo: {result.stdout}{result.stderr}")
    return out


def correct_from(path):
    """Clicks "btn_photo_correct", chooses the picture and returns the box it ends with (caption, tab, text)."""
    uidriver("click", "btn_photo_correct")
    uidriver("filedialog", win_path(path))
    _, out = uidriver("msgbox", "--timeout", "120")
    uidriver("msgbox", "--ok")
    return out


def png(path, width, height, pixels=b""):
    """A gray PNG; without pixels only its header (the file ends after it)."""
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    data = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 0, 0, 0, 0))
    if pixels:
        rows = b"".join(b"\x00" + pixels[y * width:(y + 1) * width] for y in range(height))
        data += chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b"")
    path.write_bytes(data)
    return path


def enable_correction(sim):
    uidriver("click", "chkbox_Enable")
    wait_until(lambda: sim.read(0, 0, 0xDA000005, 4) == "000000a8", message="correction on")


def test_the_practice_wall_is_corrected_from_two_photos_and_refusals_leave_the_grid():
    folder = scratch_dir("photo")
    sim = Simulator().start()
    before, join = render(sim, folder / "before.png")
    check(abs(before - 9.45) < 0.01, f"the practice wall: {before} % at {join}")
    Tool(tool_for(sim.port)).start().wait_ready()

    out = correct_from(photograph(sim, folder / "photo-1.jpg"))
    check(out.startswith("照片校正\t照片校正完成") and "9." in out, f"the box: {out!r}")
    send_and_expect(" \tsend seam data finish\n")
    enable_correction(sim)
    first, join = render(sim, folder / "after-1.png")
    check(first < 1.0, f"after one photo: {first} % at {join}")

    # Each refusal shows its box and leaves every gain as it was.
    grid = save_seam_file(folder / "grid-1.chk")
    (folder / "notes.png").write_text("not a picture at all")
    refusals = {
        folder / "notes.png": "not a PNG, JPEG or BMP picture",
        png(folder / "huge.png", 16000000, 16000000): "16000000 x 16000000 pixels needs",
        png(folder / "dark.png", 400, 300, bytes([30]) * 120000): "No wall was found",
        photograph(sim, folder / "far.jpg", "--camera", "1200x800"): "photo pixels per wall pixel",
    }
    for picture, says in refusals.items():
        out = correct_from(picture)
        check(out.startswith("warnning\t") and says in out, f"{picture.name}: {out!r}")
        check(save_seam_file(folder / f"after-{picture.stem}.chk") == grid, f"{picture.name} left the grid")

    out = correct_from(photograph(sim, folder / "photo-2.jpg", "--seed", "2"))
    check(out.startswith("照片校正\t照片校正完成"), f"the second box: {out!r}")
    send_and_expect(" \tsend seam data finish\n")
    second, join = render(sim, folder / "after-2.png")
    check(second < 0.5, f"after two photos: {second} % at {join} (after one: {first} %)")
    print(f"    practice wall: {before} % -> {first} % -> {second} %")


def test_another_wall_from_an_oblique_noisy_photo_and_fields_that_do_not_match_it():
    folder = scratch_dir("photo-48")
    (folder / "wall.json").write_text(json.dumps({
        "ports": [{"cards": [{"rows": 576, "columns": 576}, {"column": 576, "rows": 576, "columns": 576}]}],
        "wall": {"module_width": 48, "module_height": 48,
                 "random": {"seed": 4242, "low": 0.9, "high": 1.1, "share": 0.06}}}))
    sim = Simulator("--topology", str(folder / "wall.json")).start()
    before, _ = render(sim, folder / "before.png")
    Tool(tool_for(sim.port)).start().wait_ready()
    photo = photograph(sim, folder / "oblique.jpg", "--tilt", "10", "--turn", "-6", "--roll", "2", "--noise", "2")
    for name, value in {"edt_screen_width": 1152, "edt_screen_height": 576, "edt_mod_width": 64,
                        "edt_mod_height": 32}.items():
        uidriver("set", name, str(value))
    out = correct_from(photo)
    check(out.startswith("warnning\t") and "Expected modules of 64 x 32" in out, f"other modules: {out!r}")
    check(len(save_seam_file(folder / "untouched.chk")) == 48, "no grid was made for the refused photo")

    uidriver("set", "edt_mod_width", "48")
    uidriver("set", "edt_mod_height", "48")
    out = correct_from(photo)
    check(out.startswith("照片校正\t照片校正完成"), f"the box: {out!r}")
    send_and_expect(" \tsend seam data finish\n")
    enable_correction(sim)
    after, join = render(sim, folder / "after.png")
    check(after < 1.0, f"48 x 48 modules, oblique and noisy: {before} % -> {after} % at {join}")
    print(f"    48 x 48 wall, oblique: {before} % -> {after} %")
