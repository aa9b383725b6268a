"""Two instances linked over loopback, each with a Wine prefix, a display and a Wine server of its own:
the client at the operator's desk drives the server at the wall."""

import select
import socket
import struct
import subprocess
import time

import pattern_model as model
from common import (FIELDS, MH, MW, N, SEGMENTS, X0, Y0, H, W, answer_box, check_pattern, leave_by_menu, no_box,
                    set_fields, xdotool)
from harness import (SCRATCH, Simulator, Tool, check, controls, pattern_open, scratch_dir, second_instance,
                     tool_for, uidriver, wait_until, win_path)


def label(env=None):
    return controls(env)["lab_state"][3]


def start_server(sim, env=None, folder="server-tool", taken=None):
    server = Tool(tool_for(sim.port, folder=folder), name="server", env=env).start().wait_ready()
    uidriver("click", "btn_server", env=env)
    wait_until(lambda: controls(env)["btn_connect"][3] == "启动", message="the server role")
    uidriver("click", "btn_connect", env=env)
    if taken is not None:  # another program holds the port: the start says why, and a later one succeeds
        wait_until(lambda: "端口 6666 已被其他程序占用" in label(env), message="the failed start shown")
        check("port 6666 is in use" in server.stdout(), "and why on standard output")
        taken.close()
        uidriver("click", "btn_connect", env=env)
    table = wait_until(lambda: (lambda t: t if t["lab_state"][3] == "已启动！" else None)(controls(env)),
                       message="the server started")
    check(table["edt_ip"][3] == "0.0.0.0" and table["edt_port"][3] == "6666" and not table["btn_connect"][1],
          f"the server's fields {table['edt_ip']} {table['edt_port']} {table['btn_connect']}")
    return server


def connect_client(sim_port):
    client = Tool(tool_for(sim_port, folder="client-tool"), name="client").start().wait_ready()
    uidriver("set", "edt_ip", "127.0.0.1")
    uidriver("set", "edt_port", "6666")
    uidriver("click", "btn_connect")
    wait_until(lambda: label() == "connected！", message="connected")
    check(controls()["btn_connect"][3] == "unconnected", "the button now disconnects")
    return client


def start_pair(server_drive=None, sim=None, client_sim=None):
    """A simulator, a started server in the second instance and a client tool connected to it."""
    sim = sim or Simulator().start()
    b = second_instance()
    if server_drive is not None:
        subprocess.run(["ln", "-sfn", str(server_drive), b["WINEPREFIX"] + "/dosdevices/d:"], check=True)
    server = start_server(sim, env=b)
    client = connect_client((client_sim or sim).port)
    wait_until(lambda: label(b) == "客户端 127.0.0.1 已连接", message="the server names its client")
    return sim, b, server, client


def test_the_client_drives_the_servers_pattern_window_and_keys_stay_local():
    sim, b, server, client = start_pair()
    set_fields(FIELDS)
    wait_until(lambda: controls(b)["edt_mod_height"][3] == str(MH), message="the fields mirrored")
    # A photo would change the client's gains only: refused, and the server is not asked for a picture.
    uidriver("click", "btn_photo_correct")
    out = answer_box()
    check(out.startswith("warnning\t") and "请先断开连接" in out, f"the client's box: {out!r}")
    uidriver("click", "btn_import_data")  # the server would not follow a file chosen here either
    check("请先断开连接，再导入缝隙文件" in answer_box(), "the import refused")
    check(uidriver("--timeout", "0", "filedialog", "--cancel", env=b, check_rc=False)[0] != 0, "no dialog there")
    uidriver("click", "btn_screen_ctr")
    check(uidriver("pattern", "--timeout", "20")[1].split() == [str(X0), str(Y0), str(W), str(H)], "client opened")
    wait_until(lambda: pattern_open(b), timeout=20, message="the server's pattern window")
    check(uidriver("pattern", env=b)[1].split() == [str(X0), str(Y0), str(W), str(H)], "with the client's sizes")

    gains = [1.0] * len(SEGMENTS)
    xdotool("mousemove", str(X0 + 70), str(Y0 + 10), "click", "1")
    time.sleep(0.8)  # the blink on both
    xdotool("click", "4", "click", "4")
    for i in (2 * N + 1, 3 * N):
        gains[i] = model.step_wheel(model.step_wheel(1.0))
    check_pattern(gains, "the client's pattern after a click and two notches")
    check_pattern(gains, "the server's pattern after the same", env=b)

    xdotool("key", "z")  # local: the server's gains stay
    check_pattern([model.step_key(g) for g in gains], "Z on the client")
    check_pattern(gains, "Z does not travel", env=b)

    xdotool("key", "Escape")  # local too: only the client's window closes
    wait_until(lambda: not pattern_open(), message="the client's pattern closed")
    time.sleep(0.5)
    check(pattern_open(b), "Esc does not travel")
    uidriver("click", "btn_screen_ctr")  # the server's window is open already and stays the one
    uidriver("pattern", "--timeout", "20")
    leave_by_menu()
    wait_until(lambda: not pattern_open(b), message="the menu's exit closes the server's window too")
    check("\nGetMessage() is pretty fine!\nTranslating a message...\nDispatching a message...\n" in server.stdout(),
          "the server thread reports on standard output")


def test_a_replayed_save_writes_the_servers_fixed_file_and_other_clients_are_replayed_or_dropped():
    folder = scratch_dir("remote-save")
    sim, b, server, client = start_pair(server_drive=folder)
    set_fields(FIELDS)
    uidriver("click", "btn_screen_ctr")
    uidriver("pattern", "--timeout", "20")
    wait_until(lambda: pattern_open(b), timeout=20, message="the server's pattern window")
    xdotool("mousemove", str(X0 + 100), str(Y0 + 45), "click", "1")
    time.sleep(0.8)
    xdotool("click", "5", "click", "5", "click", "5")
    # A coarse notch, the next seam along the row by arrow key and a notch there, which the client then
    # undoes with the coarse one and redoes: the server follows every step.
    xdotool("keydown", "shift", "click", "5", "keyup", "shift")
    xdotool("key", "Right")
    time.sleep(0.8)
    xdotool("click", "4")
    # The wall operator notches a seam of their own; the client's undo takes back only the client's.
    xdotool("mousemove", str(X0 + 30), str(Y0 + 45), "click", "1", "sleep", "0.8", "click", "4", env=b)
    xdotool("key", "ctrl+z", "ctrl+z", "ctrl+y")
    # By keyboard alone on the seam above module (2, 2): Page Up thrice, a coarse one, "-" once.
    xdotool("mousemove", str(X0 + 150), str(Y0 + 100), "click", "1")
    time.sleep(0.8)
    xdotool("key", "Prior", "Prior", "Prior", "shift+Prior", "minus")
    leave_by_menu()
    wait_until(lambda: not pattern_open(b), message="both closed")

    uidriver("click", "btn_save")  # the client asks where; the server writes d:data.chk at once
    uidriver("filedialog", win_path(folder / "client.chk"))
    wait_until(lambda: (folder / "data.chk").exists() and (folder / "client.chk").exists(), message="both files")
    _, records = model.read_seam_file((folder / "data.chk").read_bytes())
    down = 1.0
    for _ in range(13):
        down = model.step_wheel(down, up=False)
    keyed = 1.0
    for up in [True] * 13 + [False]:
        keyed = model.step_wheel(keyed, up)
    tuned = [(i, r[6]) for i, r in enumerate(records) if r[6] != 1.0]
    up = model.step_wheel(1.0)
    check(tuned == [(5, up), (6, down), (12, keyed), (N, up), (N + 1, down), (N + 7, keyed)],
          f"thirteen steps down on one seam, none on the next, the keys' notches on a third and the wall "
          f"operator's notch: {tuned}")
    _, client = model.read_seam_file((folder / "client.chk").read_bytes())
    check([r[6] for r in client] == [1.0 if i in (5, N) else r[6] for i, r in enumerate(records)],
          "the same gains on both but for the operator's notch")
    check(uidriver("--timeout", "0.5", "filedialog", "--cancel", env=b, check_rc=False)[0] == 1,
          "no dialog on the server")

    # Other module sizes after tuning: both refuse; the server says so on standard output, not in a box.
    tuned = (folder / "data.chk").read_bytes()
    uidriver("set", "edt_mod_width", str(MW // 2))
    uidriver("click", "btn_save")
    uidriver("filedialog", win_path(folder / "other.chk"))
    check("modules of 32 x 48" in answer_box(), "the client's refusal")
    wait_until(lambda: 'btn_save: Not saved to "d:data.chk"' in server.stdout(), message="the server's line")
    check(no_box(env=b), "no box on the server")
    check((folder / "data.chk").read_bytes() == tuned and not (folder / "other.chk").exists(), "nothing written")

    # A second client at once, its packet in two pieces, and a third sending garbage: that one loses its
    # connection, the others go on.
    second = socket.create_connection(("127.0.0.1", 6666))
    garbage = socket.create_connection(("127.0.0.1", 6666))
    packet = notify_packet("textchanged", "edt_box_width", "4321")
    second.sendall(packet[:9])
    time.sleep(0.3)
    second.sendall(packet[9:])
    wait_until(lambda: controls(b)["edt_box_width"][3] == "4321", message="the second client's packet in two pieces")
    bad = bytearray(notify_packet("click", "btn_reset"))
    bad[2] = 200  # a count running past its packet
    garbage.sendall(bytes(bad))
    garbage.settimeout(10)
    check(garbage.recv(16) == b"", "the server closes the garbage's connection")
    wait_until(lambda: "Malformed packet on socket" in server.stdout(), message="the diagnostic")
    second.sendall(notify_packet("textchanged", "edt_box_width", "4322"))
    wait_until(lambda: controls(b)["edt_box_width"][3] == "4322", message="the second client goes on")
    uidriver("set", "edt_gray_scale", "99")
    wait_until(lambda: controls(b)["edt_gray_scale"][3] == "99", message="and so does the first")

    # Disconnect: the server gets the click of "btn_connect" and, being started, does nothing.
    before = uidriver("replay", env=b)[1]
    uidriver("click", "btn_connect")
    wait_until(lambda: label() == "unconnected" and controls()["btn_connect"][3] == "connect",
               message="the client disconnected")
    wait_until(lambda: uidriver("replay", env=b)[1] != before, message="the click replayed")
    table = controls(b)
    check(table["lab_state"][3] == "客户端 127.0.0.1 已连接" and not table["btn_connect"][1], "the server unmoved")
    second.close()


def notify_packet(kind, sender, text=""):
    body = b""
    for t in (kind, "", sender, text):
        raw = t.encode("latin-1")
        body += bytes([len(raw) + 1]) + raw + b"\0"
    body += struct.pack(">5I", 0, 0, 0, 0, 0)
    return bytes([len(body) + 1, 0]) + body


def input_packet(message, wparam=0, lparam=0):
    return struct.pack(">BBIII", 13, 1, message, wparam, lparam)


def replay_counts(env=None):
    words = uidriver("replay", env=env)[1].split()
    return {words[i]: words[i + 1] for i in range(0, len(words), 2)}


def test_a_raw_peer_neither_crashes_the_server_nor_nests_its_boxes():
    sim = Simulator().start()
    server = start_server(sim, taken=socket.create_server(("0.0.0.0", 6666)))
    peer = socket.create_connection(("127.0.0.1", 6666))
    for name, value in FIELDS.items():
        peer.sendall(notify_packet("textchanged", name, str(value)))
    # What comes with the click that opens the pattern window is replayed without waiting for more.
    peer.sendall(notify_packet("click", "btn_screen_ctr") + notify_packet("textchanged", "edt_box_width", "321"))
    wait_until(lambda: pattern_open() and controls()["edt_box_width"][3] == "321", timeout=20,
               message="the server's pattern window, and the packet after its click")
    dropped = int(replay_counts()["dropped"])
    hostile = (bytes.fromhex("0D 01 00 00 00 81 00 00 00 00 00 00 00 01")  # NCCREATE, lParam 1
               + input_packet(0x000C, 0, 0x41414141)  # SETTEXT
               + input_packet(0x0112, 0xF010, 0)  # SYSCOMMAND SC_MOVE: a modal loop
               + input_packet(0x0204, 0, 0x00100010))  # RBUTTONDOWN: the popup menu's loop
    peer.sendall(hostile + input_packet(0x0200, 0, 0x00050005))
    wait_until(lambda: int(replay_counts()["inputs"]) > 0, message="the move after them replayed")
    check(int(replay_counts()["dropped"]) == dropped + 4, f"four dropped: {replay_counts()}")
    check(pattern_open() and controls()["edt_mod_width"][3] == str(MW) and not server.exited(),
          "the server, its pattern window and its main window answer")

    # Two clients notch a seam each; the first one's undo takes back its own step only.
    second = socket.create_connection(("127.0.0.1", 6666))
    for client, x in ((peer, 70), (second, 134)):
        client.sendall(input_packet(0x0201, 1, x | 10 << 16) + input_packet(0x0202, 0, x | 10 << 16))
        time.sleep(0.8)  # the blink
        client.sendall(input_packet(0x020A, 120 << 16, 0))
        wait_until(lambda: uidriver("get", "lab_selection")[1].strip().endswith("1.005"), message="a notch")
    inputs = int(replay_counts()["inputs"])
    peer.sendall(input_packet(0x8101, 1, 0))
    wait_until(lambda: int(replay_counts()["inputs"]) == inputs + 1, message="the first client's undo")
    check(uidriver("get", "lab_selection")[1].strip() == "模组 (1, 0) 右侧的缝隙 增益 1.005", "the second's kept")
    second.sendall(input_packet(0x0201, 1, 70 | 10 << 16) + input_packet(0x0202, 0, 70 | 10 << 16))
    wait_until(lambda: uidriver("get", "lab_selection")[1].strip() == "模组 (0, 0) 右侧的缝隙 增益 1.000",
               message="the first client's notch undone")

    # Eight connections at most, seven of them holding one byte of a packet: a ninth takes the place of
    # the one idle longest, and is replayed at once.
    others = [second] + [socket.create_connection(("127.0.0.1", 6666)) for _ in range(6)]
    for s in others:
        s.sendall(b"\x0d")
    wait_until(lambda: server.stdout().count(" connected\n") == 8, message="eight connections")
    peer.sendall(notify_packet("textchanged", "edt_box_height", "5"))  # the first is not idle
    wait_until(lambda: controls()["edt_box_height"][3] == "5", message="the first connection's packet")
    ninth = socket.create_connection(("127.0.0.1", 6666))
    ninth.sendall(notify_packet("textchanged", "edt_box_height", "9"))
    wait_until(lambda: controls()["edt_box_height"][3] == "9", message="the ninth connection replayed")
    readable, _, _ = select.select(others, [], [], 10)
    check(len(readable) == 1 and readable[0].recv(16) == b"" and "it was idle longest" in server.stdout(),
          "the one idle longest is closed, and said so")
    for s in others + [ninth]:
        s.close()

    # The menu's "exit" passes. Then, with the device gone, commands whose boxes or dialogs nobody at
    # the wall would answer: each becomes a line on standard output, and the replay goes on.
    peer.sendall(input_packet(0x0111, 100, 0))
    wait_until(lambda: not pattern_open(), message="the pattern window closed by its menu command")
    sim.stop()
    peer.sendall(b"".join(notify_packet("click", name) for name in ["btn_solidify", "btn_import_data",
                 "btn_screen_ctr"] + ["btn_read_back"] * 1000) + notify_packet("textchanged", "edt_box_width", "4"))
    wait_until(lambda: controls()["edt_box_width"][3] == "4", message="the text after them replayed")
    out = server.stdout()
    check(no_box() and uidriver("--timeout", "0", "filedialog", "--cancel", check_rc=False)[0] != 0, "no box")
    check(out.count("btn_read_back: WARNING: No coefficient file") == 1000 and "btn_solidify: warnning: device "
          "errer\n" in out and "btn_screen_ctr: warnning: device errer\n" in out and "btn_import_data: not "
          "replayed" in out and not pattern_open() and not server.exited(), "a line for each")
    peer.close()


def test_a_client_switches_the_wall_and_its_close_lets_the_servers_upload_finish():
    journal = SCRATCH / "remote-journal.log"
    journal.write_text("")
    sim = Simulator("--journal", str(journal), "--delay-ms", "100").start()
    own = Simulator(name="client-ledsim").start()  # the client's own device is another wall
    sim, b, server, client = start_pair(sim=sim, client_sim=own)

    def correction(s):
        return {s.read(port, card, 0xDA000005, 4) for port, card, *_ in s.cards()}

    uidriver("click", "chkbox_Enable")
    wait_until(lambda: correction(sim) == {"000000a8"}, timeout=20, message="every card of the wall switched on")
    check(controls(b)["chkbox_Enable"][2] == "1", "the server's box is ticked")
    uidriver("click", "chkbox_Enable")
    wait_until(lambda: correction(sim) == {"00000008"}, timeout=20, message="and off again")
    check(controls(b)["chkbox_Enable"][2] == "0", "the server's box is unticked")
    for tool in (client, server):
        traces = [t for t in tool.traces() if t in ("启用缝隙\n", "不修缝\n")]
        check(traces == ["启用缝隙\n", "不修缝\n"], f"{tool.log.name}: the box's traces {traces}")
    # A client cannot change the role of a started server.
    uidriver("click", "btn_server")
    uidriver("click", "btn_client")
    uidriver("set", "edt_gray_scale", "77")  # replayed after the role clicks: stream order
    wait_until(lambda: controls(b)["edt_gray_scale"][3] == "77", message="the role clicks replayed")
    table = controls(b)
    check(table["btn_server"][2] == "1" and not table["edt_ip"][1], f"the server's role stays: {table['btn_server']}")

    # The client's own upload has no pattern to send and ends at once; its close reaches the server
    # while the server's worker still writes.
    journal.write_text("")
    uidriver("click", "btn_send_to_hardware")
    wait_until(lambda: "0xda000003" in journal.read_text(), timeout=20, message="the server's upload started")
    uidriver("click", "closebtn")
    check(client.wait_exit() == 0, "the client ends")
    check(server.wait_exit(timeout=120) == 0, "the server ends by itself once the upload is over")
    writes = {}
    for line in journal.read_text().splitlines():
        port, card, address, _, data = line.split()[:5]
        writes.setdefault((port, card), []).append((address, data))
    check(len(writes) == len(sim.cards()) and all(
        [a for a, _ in w] == ["0xda000003", "0xd0020000", "0xda000003"] and w[-1][1] == "00000000"
        for w in writes.values()), f"every card got gate open, block, gate closed: {writes}")


def test_a_server_that_never_reads_loses_its_client_but_not_the_clients_window():
    sim = Simulator().start()
    listener = socket.socket()
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
    listener.bind(("127.0.0.1", 6666))
    listener.listen(1)
    client = connect_client(sim.port)
    silent, _ = listener.accept()  # and never reads
    set_fields(FIELDS)
    uidriver("click", "btn_screen_ctr")
    uidriver("pattern", "--timeout", "20")
    moves = []
    for i in range(4000):
        moves += ["mousemove", str(X0 + 10 + i % 200), str(Y0 + 10 + (i // 200) % 50), "sleep", "0.002"]
    xdotool(*moves)
    # A send waits at most 2 s, once: then the link counts as lost and no later move waits again.
    wait_until(lambda: label() == "unconnected", timeout=30, message="the client disconnected")
    check(controls()["btn_connect"][3] == "connect", "and can connect again")
    xdotool("key", "Escape")
    wait_until(lambda: not pattern_open(), message="the pattern window still takes keys")
    silent.close()
    listener.close()
