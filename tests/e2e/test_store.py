"""The read-back of gains ("btn_read_back") from what the cards hold, and storing in the cards
("btn_solidify") for the next power-on."""

import json
import subprocess
import time

import pattern_model as model
from common import answer_box, send_and_expect
from harness import (NATIVE_BIN, Simulator, Tool, check, controls, import_seam_file, save_seam_file, scratch_dir,
                     tool_for, uidriver, wait_until, win_path)

W, H, MW, MH = 1024, 512, 64, 32  # the default wall of the simulator
FOUR_CARDS = {"ports": [{"cards": [{"row": 0, "column": 64 * c, "rows": 32, "columns": 64} for c in range(4)]}]}


def start(folder, *options):
    journal = folder / "journal.log"
    sim = Simulator("--journal", str(journal), "--state", str(folder / "state"), *options).start()
    tool = Tool(tool_for(sim.port)).start().wait_ready()
    return sim, tool, journal


def read_back(coefficients):
    uidriver("click", "btn_import_coef")
    uidriver("filedialog", win_path(coefficients))
    uidriver("click", "btn_read_back")


def test_read_back_returns_the_uploaded_gains_and_solidify_keeps_them_for_the_next_power_on():
    folder = scratch_dir("store")
    sim, tool, journal = start(folder)
    uidriver("click", "btn_read_back")
    check(answer_box() == "WARNING\tERRER\n", "before any pattern window object")

    # Gains of k / 128 from 0.7 to 1.4, a module's top and left edge alike (its top-left pixel is both):
    # every card byte is k, and each edge's mean over its pixels is its gain again, exactly.
    n = (W // MW) * (H // MH)
    gains = [(90 + (i * 53) % 90) / 128 for i in range(4 * n)]
    gains[2 * n:3 * n] = gains[:n]
    seam = folder / "tuned.chk"
    seam.write_bytes(model.seam_header(W, H, MW, MH) + model.seam_records(model.grid(W, H, MW, MH), gains))
    import_seam_file(seam)
    wait_until(lambda: controls()["edt_screen_width"][3] == str(W), message="imported")
    uidriver("click", "btn_read_back")
    out = answer_box()
    check(out.startswith("WARNING\t") and "No coefficient file" in out, f"without a coefficient file: {out!r}")
    wrong = folder / "wrong.dat"
    wrong.write_bytes(bytes(W * H + 1))
    read_back(wrong)
    out = answer_box()
    check(out.startswith("WARNING\t") and all(str(v) in out for v in (W * H + 1, W * H * 4, W * H)),
          f"the sizes expected: {out!r}")
    check(save_seam_file(folder / "refused.chk") == seam.read_bytes(), "the refusals leave the grid")

    send_and_expect(" \tsend seam data finish\n")
    exported = folder / "wall.dat"
    out = subprocess.run([str(NATIVE_BIN / "ledsim"), "export-dat", "--connect", f"127.0.0.1:{sim.port}",
                          str(exported)], capture_output=True, text=True, timeout=30)
    check(out.returncode == 0 and exported.stat().st_size == W * H, f"export: {out.stdout}{out.stderr}")
    uidriver("click", "btn_reset")
    check(all(r[6] == 1.0 for r in model.read_seam_file(save_seam_file(folder / "reset.chk"))[1]), "reset")
    read_back(exported)
    check(save_seam_file(folder / "back.chk") == seam.read_bytes(), "every gain back from the cards' bytes")

    uidriver("click", "chkbox_Enable")
    wait_until(lambda: sim.read(1, 3, 0xDA000005, 4) == "000000a8", message="correction on")
    before = {(p, c): sim.read(p, c, 0xD0020000, 65536) for p, c, *_ in sim.cards()}
    started = time.monotonic()
    uidriver("click", "btn_solidify")
    out = answer_box(20)
    check(out == " \tsave seam data finish\n", f"message {out!r}")
    check(time.monotonic() - started > 1.8, "a second after the switch's copy and one at the end")
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


def test_solidify_without_cards_waits_a_second_and_a_link_lost_ends_in_device_errer():
    folder = scratch_dir("store-no-cards")
    (folder / "none.json").write_text('{"ports": [{"cards": []}]}')
    sim, tool, journal = start(folder, "--topology", str(folder / "none.json"))
    started = time.monotonic()
    uidriver("click", "btn_solidify")
    out = answer_box(20)
    check(out == " \tsave seam data finish\n" and time.monotonic() - started > 0.9, f"{out!r} after a second")
    check(journal.read_text() == "", "nothing written")
    uidriver("click", "closebtn")
    tool.wait_exit()

    folder = scratch_dir("store-link-lost")
    (folder / "four.json").write_text(json.dumps(FOUR_CARDS))
    # The switch copy and two store commands arrive; the third store command is lost with the link.
    sim, tool, journal = start(folder, "--topology", str(folder / "four.json"), "--close-after-writes", "3")
    uidriver("click", "btn_solidify")
    check(answer_box(20) == "warnning\tdevice errer\n", "device errer")
    stores = [line for line in journal.read_text().splitlines() if " 0xda000002 " in line]
    check(len(stores) == 2, f"two cards stored: {stores}")
    check(controls()["btn_solidify"][1], "the window takes input again")
