"""The upload to the cards: the worker behind the progress window, against the simulated controller.
What the cards then hold is read back through a coefficient file in test_store."""

import json
import time

from common import answer_box, send_and_expect, set_fields, xdotool
from harness import (SCRATCH, Screen, Simulator, Tool, check, close_pattern_with_escape, controls, open_pattern,
                     pattern_open, scratch_dir, tool_for, uidriver, wait_until)


def start(*sim_options):
    journal = SCRATCH / "upload-journal.log"
    journal.parent.mkdir(parents=True, exist_ok=True)
    journal.write_text("")
    sim = Simulator("--journal", str(journal), *sim_options).start()
    tool = Tool(tool_for(sim.port)).start().wait_ready()
    return sim, tool, journal


def uploads(journal):
    """The writes of the uploads in the journal, in order, as (port, card, address, data)."""
    out = []
    for line in journal.read_text().split("\n"):
        parts = line.split()
        if len(parts) >= 5 and parts[2] in ("0xda000003", "0xd0020000"):
            out.append((int(parts[0]), int(parts[1], 16), parts[2], parts[4]))
    return out


def test_without_a_pattern_object_nothing_is_sent_then_every_card_in_order_then_device_errer():
    sim, tool, journal = start()
    # Before any pattern window object: the progress window closes at once, no message.
    uidriver("click", "btn_send_to_hardware")
    check(uidriver("--timeout", "1.5", "msgbox", check_rc=False)[0] == 1, "no message box")
    check(uidriver("--timeout", "0", "progress", check_rc=False)[0] == 1, "no progress window")
    check(controls()["btn_send_to_hardware"][1], "the window takes input again")

    set_fields({"edt_start_x": 0, "edt_start_y": 0})  # the default 1024 x 512 wall of 64 x 32 modules
    open_pattern()
    xdotool("mousemove", "70", "10", "click", "1")  # the seam between module columns 0 and 1
    time.sleep(0.8)
    xdotool("click", "4", "click", "4", "click", "4")
    close_pattern_with_escape()
    send_and_expect(" \tsend seam data finish\n")
    expected = []
    for port, card, *_ in sim.cards():
        address = 0x2000 | card
        expected += [(port, address, "0xda000003", "00000010"), (port, address, "0xd0020000", None),
                     (port, address, "0xda000003", "00000000")]
    got = [(p, c, a, d if a != "0xd0020000" else None) for p, c, a, d in uploads(journal)]
    check(got == expected, f"gate open, block, gate close per card in port and card order: {got[:6]}")
    check(sim.read(0, 0, 0xD0020000, 68) == "80" * 60 + "81808080" + "80808081",
          "the first card's first row: 1.0, and 1.015 (129) on the seam's two edges, each word reversed")

    sim.stop()
    send_and_expect("warnning\tdevice errer\n")


def test_the_progress_window_shows_lines_and_bar_while_the_main_window_waits():
    sim, tool, journal = start("--delay-ms", "60")
    open_pattern()
    close_pattern_with_escape()
    uidriver("click", "btn_send_to_hardware")

    def midway():
        rc, out = uidriver("--timeout", "0", "progress", check_rc=False)
        lines = out.splitlines()
        return lines if rc == 0 and len(lines) >= 4 and lines[0] != "bar 0" and lines[0] != "bar 1000" else None

    lines = wait_until(midway, timeout=20, interval=0.1, message="the progress window midway")
    check(lines[1] == "sending" and lines[2].startswith("port 0: card 1 of 4"), f"lines {lines}")
    rc, _ = uidriver("--timeout", "0", "click", "btn_reset", check_rc=False)
    check(rc == 1, "the main window takes no input while the worker runs")
    Screen().save_png(SCRATCH / "progress-window.png")
    check(answer_box(30) == " \tsend seam data finish\n", "the upload finished")


def test_a_card_of_impossible_size_fails_alone_and_a_refused_switch_opens_no_pattern():
    folder = scratch_dir("upload-faulty-cards")
    cards = [{"row": 0, "column": 64 * c, "rows": 32, "columns": 64} for c in range(4)]
    cards[2].update(reported_rows=8192, reported_columns=8200)  # a block just over the 64 MiB a call carries
    (folder / "four.json").write_text(json.dumps({"ports": [{"cards": cards}]}))
    sim, tool, journal = start("--topology", str(folder / "four.json"))
    set_fields({"edt_start_x": 0, "edt_start_y": 0})
    open_pattern()
    close_pattern_with_escape()
    send_and_expect("warnning\tdevice errer\n")
    got = [(c, a, d if a != "0xd0020000" else None) for _, c, a, d in uploads(journal)]
    check(got == [(0x2000 | c, a, d) for c in (0, 1, 3) for a, d in (("0xda000003", "00000010"),
          ("0xd0020000", None), ("0xda000003", "00000000"))], f"cards 1, 2 and 4 only, each closed: {got}")
    check(all(sim.read(0, c, 0xDA000003, 4) == "00000000" for c in range(4)), "every gate closed")
    check(all(sim.read(0, c, 0xD0020000, 2048) == "80" * 2048 for c in (0, 1, 3)), "written completely")
    uidriver("click", "closebtn")
    tool.wait_exit()

    sim, tool, journal = start("--refuse-switch")
    uidriver("click", "chkbox_Enable")
    check(answer_box() == "warnning\tdevice errer\n" and controls()["chkbox_Enable"][2] == "0", "an unticked box")
    uidriver("click", "btn_screen_ctr")
    check(answer_box() == "warnning\tdevice errer\n" and not pattern_open(), "no pattern window")
