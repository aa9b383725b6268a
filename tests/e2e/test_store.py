"""Storing in the cards ("btn_solidify") and the read-back of gains ("btn_read_back")."""

import json
import subprocess
import time

import pattern_model as model
from harness import (NATIVE_BIN, Simulator, Tool, check, controls, import_seam_file, save_seam_file, scratch_dir,
                     tool_for, uidriver, wait_until, win_path)
from test_upload import FOUR_CARDS, send_and_expect

W, H, MW, MH = 1024, 512, 64, 32  # the default wall of the simulator


def tuned_seam_file(folder):
    """A seam file for the default wall with gains spread over the whole range."""
    segments = model.grid(W, H, MW, MH)
    gains = [model.f32(0.7 + ((i * 53) % 140) * 0.005) for i in range(len(segments))]
    path = folder / "tuned.chk"
    path.write_bytes(model.seam_header(W, H, MW, MH, gray=128, gamma=2.2) + model.seam_records(segments, gains))
    return path, segments, gains


def start(folder, *options):
    journal = folder / "journal.log"
    sim = Simulator("--journal", str(journal), "--state", str(folder / "state"), *options).start()
    tool = Tool(tool_for(sim.port)).start().wait_ready()
    return sim, tool, journal


def test_solidify_copies_the_switch_once_and_stores_every_card_for_the_next_power_on():
    folder = scratch_dir("store-solidify")
    sim, tool, journal = start(folder)
    import_seam_file(tuned_seam_file(folder)[0])
    wait_until(lambda: controls()["edt_screen_width"][3] == str(W), message="imported")
    send_and_expect(" \tsend seam data finish\n")
    uidriver("click", "chkbox_Enable")
    wait_until(lambda: sim.read(1, 3, 0xDA000005, 4) == "000000a8", message="correction on")
    before = {(p, c): sim.read(p, c, 0xD0020000, 65536) for p, c, *_ in sim.cards()}
    start_time = time.monotonic()
    uidriver("click", "btn_solidify")
    _, out = uidriver("msgbox", "--timeout", "20")
    elapsed = time.monotonic() - start_time
    check(out == " \tsave seam data finish\n", f"message {out!r}")
    check(1.8 < elapsed < 6, f"a second after the copy and one at the end: {elapsed:.1f} s")
    uidriver("msgbox", "--ok")

    lines = journal.read_text().splitlines()
    stores = [i for i, line in enumerate(lines) if " 0xda000002 " in line]
    copies = [i for i, line in enumerate(lines) if " 0xdf079400 " in line]
    check(len(copies) == 1 and lines[copies[0]] == "-1 0x2fff 0xdf079400 4 000000a8", f"one copy: {copies}")
    check(len(stores) == 8 and copies[0] < stores[0], f"the copy before the first of eight stores: {stores}")
    check([lines[i] for i in stores] == [f"{p} 0x{0x2000 | c:04x} 0xda000002 4 c10a0080" for p in (0, 1)
                                         for c in range(4)], "a store word of 256 x 256 per card, in order")

    sim.stop()
    again = Simulator("--state", str(folder / "state"), name="ledsim-again").start()
    for (p, c), memory in before.items():
        check(again.read(p, c, 0xD0020000, 65536) == memory, f"card {p}/{c} kept its coefficients")
        check(again.read(p, c, 0xDA000005, 4) == "000000a8", f"card {p}/{c} starts with the stored switch")


def test_solidify_without_cards_waits_a_second_and_finishes():
    folder = scratch_dir("store-no-cards")
    (folder / "none.json").write_text('{"ports": [{"cards": []}]}')
    sim, tool, journal = start(folder, "--topology", str(folder / "none.json"))
    start_time = time.monotonic()
    uidriver("click", "btn_solidify")
    _, out = uidriver("msgbox", "--timeout", "20")
    elapsed = time.monotonic() - start_time
    check(out == " \tsave seam data finish\n" and 0.9 < elapsed < 3, f"{out!r} after {elapsed:.1f} s")
    uidriver("msgbox", "--ok")
    check(journal.read_text() == "", "nothing written")


def test_solidify_with_a_link_lost_before_every_card_stored_ends_in_device_errer():
    folder = scratch_dir("store-link-lost")
    (folder / "four.json").write_text(json.dumps(FOUR_CARDS))
    # The switch copy and two store commands arrive; the third store command is lost with the link.
    sim, tool, journal = start(folder, "--topology", str(folder / "four.json"), "--close-after-writes", "3")
    uidriver("click", "btn_solidify")
    _, out = uidriver("msgbox", "--timeout", "20")
    check(out == "warnning\tdevice errer\n", f"message {out!r}")
    uidriver("msgbox", "--ok")
    stores = [line for line in journal.read_text().splitlines() if " 0xda000002 " in line]
    check(len(stores) == 2, f"two cards stored: {stores}")
    check(controls()["btn_solidify"][1], "the window takes input again")


def saved_gains(folder, name):
    return model.read_seam_file(save_seam_file(folder / name))


def test_read_back_returns_the_uploaded_gains_from_an_exported_coefficient_file():
    folder = scratch_dir("store-read-back")
    sim, tool, journal = start(folder)
    path, segments, gains = tuned_seam_file(folder)
    import_seam_file(path)
    wait_until(lambda: controls()["edt_screen_width"][3] == str(W), message="imported")
    send_and_expect(" \tsend seam data finish\n")
    exported = folder / "wall.dat"
    out = subprocess.run([str(NATIVE_BIN / "ledsim"), "export-dat", "--connect", f"127.0.0.1:{sim.port}",
                          str(exported)], capture_output=True, text=True, timeout=30)
    check(out.returncode == 0 and exported.stat().st_size == W * H, f"export: {out.stdout}{out.stderr}")

    uidriver("click", "btn_reset")
    _, reset = saved_gains(folder, "reset.chk")
    check(all(r[6] == 1.0 for r in reset), "every gain back at 1.0")
    uidriver("click", "btn_import_coef")
    uidriver("filedialog", win_path(exported))
    uidriver("click", "btn_read_back")
    _, back = saved_gains(folder, "back.chk")

    # Expected: each segment's mean, in single precision, of the bytes the cards hold over 128.
    cells = model.gain_map(W, H, [(*s, 0, 1 if i < len(segments) // 2 else 0, g)
                                  for i, (s, g) in enumerate(zip(segments, gains))])
    quantised = [model.quantise(c) / 128 for c in cells]
    worst = 0.0
    for i, ((x0, y0, x1, y1), g) in enumerate(zip(segments, gains)):
        covered = [quantised[y0 * W + x] for x in range(x0, x1)] if i < len(segments) // 2 else \
            [quantised[y * W + x0] for y in range(y0, y1)]
        total = 0.0
        for v in covered:
            total = model.f32(total + v)
        check(back[i][6] == model.f32(total / len(covered)), f"segment {i}: {back[i][6]} from the card bytes")
        check(back[i][:6] == (x0, y0, x1, y1, 0, 1 if i < len(segments) // 2 else 0), f"segment {i} kept its fields")
        worst = max(worst, abs(back[i][6] - g))
    # One quantisation step, and for a top edge its corner pixel, which the module's left edge paints.
    check(worst < 1 / 128 + 0.7 / (MW - 1), f"largest deviation from the tuned gains {worst:.4f}")


def test_read_back_refusals_leave_the_grid_unchanged():
    folder = scratch_dir("store-refusals")
    sim, tool, journal = start(folder)
    uidriver("click", "btn_read_back")
    _, out = uidriver("msgbox")
    check(out == "WARNING\tERRER\n", f"before any pattern window object: {out!r}")
    uidriver("msgbox", "--ok")

    path, _, _ = tuned_seam_file(folder)
    import_seam_file(path)
    wait_until(lambda: controls()["edt_screen_width"][3] == str(W), message="imported")
    uidriver("click", "btn_read_back")
    _, out = uidriver("msgbox")
    check(out.startswith("WARNING\t") and "No coefficient file" in out, f"without a coefficient file: {out!r}")
    uidriver("msgbox", "--ok")
    wrong = folder / "wrong.dat"
    wrong.write_bytes(bytes(W * H + 1))
    uidriver("click", "btn_import_coef")
    uidriver("filedialog", win_path(wrong))
    uidriver("click", "btn_read_back")
    _, out = uidriver("msgbox")
    check(out.startswith("WARNING\t") and str(W * H + 1) in out and str(W * H * 4) in out and str(W * H) in out,
          f"the sizes expected: {out!r}")
    uidriver("msgbox", "--ok")
    saved_gains(folder, "after.chk")
    check(path.read_bytes()[48:] == (folder / "after.chk").read_bytes()[48:], "the grid is unchanged")
