"""The upload to the cards: the worker behind the progress window, against the simulated controller."""

import json
import time

import pattern_model as model
from harness import (SCRATCH, Screen, Simulator, Tool, check, close_pattern_with_escape, controls, import_seam_file,
                     open_pattern, save_seam_file, scratch_dir, tool_for, uidriver, wait_until)
from test_pattern import xdotool

COEFFICIENTS = 0xD0020000


def start(*sim_options, **fields):
    journal = SCRATCH / "upload-journal.log"
    journal.write_text("")
    sim = Simulator("--journal", str(journal), *sim_options).start()
    tool = Tool(tool_for(sim.port)).start().wait_ready()
    for name, value in fields.items():
        uidriver("set", name, str(value))
    return sim, tool, journal


def send_and_expect(box, timeout=60):
    uidriver("click", "btn_send_to_hardware")
    _, out = uidriver("msgbox", "--timeout", str(timeout))
    check(out == box, f"message box {out!r}, not {box!r}")
    uidriver("msgbox", "--ok")
    check(uidriver("--timeout", "0", "progress", check_rc=False)[0] == 1, "the progress window is gone")


def check_cards(sim, seam_file):
    """Every card holds the block computed here from the seam file's header and records."""
    header, records = model.read_seam_file(seam_file.read_bytes())
    w, h = header[0], header[1]
    cells = model.gain_map(w, h, records)
    cards = sim.cards()
    for port, card, row, column, rows, columns in cards:
        expected = model.card_block(cells, w, h, row, column, rows, columns)
        got = bytes.fromhex(sim.read(port, card, COEFFICIENTS, len(expected))) if expected else b""
        check(got == expected, f"card {port}/{card}: {sum(a != b for a, b in zip(got, expected))} bytes differ")
    return cards


def uploads(journal):
    """The writes of the uploads in the journal, in order, as (port, card, address, data)."""
    out = []
    for line in journal.read_text().split("\n"):
        parts = line.split()
        if len(parts) >= 5 and parts[2] in ("0xda000003", "0xd0020000"):
            out.append((int(parts[0]), int(parts[1], 16), parts[2], parts[4]))
    return out


def test_tuned_seams_reach_every_card_in_order():
    folder = scratch_dir("upload-tuned")
    sim, tool, journal = start(**{"edt_start_x": 0, "edt_start_y": 0})  # the default 1024 x 512 wall
    open_pattern()
    xdotool("mousemove", "70", "10", "click", "1")  # the seam between module columns 0 and 1
    time.sleep(0.8)
    xdotool("click", "4", "click", "4", "click", "4")
    xdotool("mousemove", "300", "66", "click", "1")  # a horizontal seam in the second card
    time.sleep(0.8)
    xdotool("click", "5", "click", "5")
    close_pattern_with_escape()
    save_seam_file(folder / "tuned.chk")

    send_and_expect(" \tsend seam data finish\n")
    cards = check_cards(sim, folder / "tuned.chk")
    _, records = model.read_seam_file((folder / "tuned.chk").read_bytes())
    check(sum(1 for r in records if r[6] != 1.0) == 4, "two seams, two edges each, were tuned")
    expected = []
    for port, card, *_ in cards:
        address = 0x2000 | card
        expected += [(port, address, "0xda000003", "00000010"), (port, address, "0xd0020000", None),
                     (port, address, "0xda000003", "00000000")]
    got = [(p, c, a, d if a != "0xd0020000" else None) for p, c, a, d in uploads(journal)]
    check(got == expected, f"gate open, block, gate close per card in port and card order: {got[:6]}")


def test_port_offsets_odd_widths_and_cards_past_the_screen():
    folder = scratch_dir("upload-topology")
    topology = {"ports": [
        {"row_offset": 0, "column_offset": 0, "cards": [
            {"row": 0, "column": 0, "rows": 100, "columns": 130},     # stride 132
            {"row": 0, "column": 200, "rows": 100, "columns": 256},   # past the right edge
            {"row": 0, "column": 320, "rows": 10, "columns": 8}]},    # at W: all zero, still written
        {"row_offset": 100, "column_offset": 30, "cards": [
            {"row": 0, "column": 0, "rows": 200, "columns": 101},     # past the bottom edge
            {"row": 0, "column": 101, "rows": 0, "columns": 0}]}]}    # nothing to write but the gate
    (folder / "wall.json").write_text(json.dumps(topology))
    segments = model.grid(320, 240, 64, 48)
    gains = [1.0 + ((i * 37) % 23 - 11) / 100 for i in range(len(segments))]
    gains[3] = 2.5
    seam = folder / "wall.chk"
    seam.write_bytes(model.seam_header(320, 240, 64, 48) + model.seam_records(segments, gains))
    sim, tool, journal = start("--topology", str(folder / "wall.json"))
    import_seam_file(seam)
    wait_until(lambda: controls()["edt_screen_width"][3] == "320", message="the seam file imported")
    send_and_expect(" \tsend seam data finish\n")
    cards = check_cards(sim, seam)
    check(len(cards) == 5, f"five cards: {cards}")
    empty = [d for p, c, a, d in uploads(journal) if (p, c, a) == (1, 0x2001, "0xd0020000")]
    check(empty == ["-"], f"the 0 x 0 card gets a write of length 0: {empty}")


def test_without_pattern_object_or_device_or_cards():
    sim, tool, journal = start()
    # Before any pattern window object: the progress window closes at once, no message.
    uidriver("click", "btn_send_to_hardware")
    check(uidriver("--timeout", "1.5", "msgbox", check_rc=False)[0] == 1, "no message box")
    check(uidriver("--timeout", "0", "progress", check_rc=False)[0] == 1, "no progress window")
    check(controls()["btn_send_to_hardware"][1], "the window takes input again")
    open_pattern()
    close_pattern_with_escape()
    sim.stop()
    send_and_expect("warnning\tdevice errer\n")

    folder = scratch_dir("upload-no-cards")
    (folder / "none.json").write_text('{"ports": [{"cards": []}, {"cards": []}]}')
    empty = Simulator("--topology", str(folder / "none.json"), name="empty").start()
    tool_dir = tool_for(empty.port, folder="tool-empty")
    uidriver("click", "closebtn")
    tool.wait_exit()
    Tool(tool_dir, name="empty").start().wait_ready()
    open_pattern()
    close_pattern_with_escape()
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
    _, out = uidriver("msgbox", "--timeout", "30")
    check(out == " \tsend seam data finish\n", f"message box {out!r}")
    uidriver("msgbox", "--ok")


FOUR_CARDS = {"ports": [{"cards": [{"row": 0, "column": 64 * c, "rows": 32, "columns": 64} for c in range(4)]}]}


def test_a_link_lost_mid_upload_ends_in_device_errer():
    folder = scratch_dir("upload-link-lost")
    (folder / "four.json").write_text(json.dumps(FOUR_CARDS))
    sim, tool, journal = start("--topology", str(folder / "four.json"), "--close-after-writes", "5")
    open_pattern()
    close_pattern_with_escape()
    # The second card's closing gate write is lost with the link: the run stops there.
    send_and_expect("warnning\tdevice errer\n")
    got = [(c, a, d if a != "0xd0020000" else None) for p, c, a, d in uploads(journal)]
    check(got == [(0x2000, "0xda000003", "00000010"), (0x2000, "0xd0020000", None),
                  (0x2000, "0xda000003", "00000000"), (0x2001, "0xda000003", "00000010"),
                  (0x2001, "0xd0020000", None)], f"five writes arrived, then nothing: {got}")
