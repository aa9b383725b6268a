"""The device library against the simulated controller: the correction switch of "chkbox_Enable"."""

import socket
import struct
import threading
import time

from harness import Simulator, Tool, check, controls, tool_for, uidriver, wait_until


def switch_values(sim):
    return {(port, card): sim.read(port, card, 0xDA000005, 4) for port, card, *_ in sim.cards()}


def test_ticking_the_box_switches_every_card():
    sim = Simulator().start()
    tool = Tool(tool_for(sim.port)).start().wait_ready()
    check(len(sim.cards()) == 8, "the default wall has eight cards")
    uidriver("click", "chkbox_Enable")
    wait_until(lambda: set(switch_values(sim).values()) == {"000000a8"}, message="every card switched on")
    uidriver("click", "chkbox_Enable")
    wait_until(lambda: set(switch_values(sim).values()) == {"00000008"}, message="every card switched off")
    traces = wait_until(lambda: (lambda t: t if len(t) >= 2 else None)(tool.traces()), message="traces")
    check(traces == ["启用缝隙\n", "不修缝\n"], f"traces {traces!r}")


def expect_device_error_in_time(sim_port, limit_s):
    Tool(tool_for(sim_port)).start().wait_ready()
    start = time.monotonic()
    uidriver("click", "chkbox_Enable")
    _, out = uidriver("msgbox", "--timeout", "20")
    elapsed = time.monotonic() - start
    check(out == "warnning\tdevice errer\n", f"message box {out!r}")
    print(f"device errer after {elapsed:.1f} s")
    check(elapsed < limit_s, f"the message took {elapsed:.1f} s")
    uidriver("msgbox", "--ok")
    # The window is usable again: it answers and its controls react.
    uidriver("click", "btn_server")
    wait_until(lambda: controls()["btn_connect"][3] == "启动", message="the window reacts after the error")




class DrippingController:
    """A controller that answers every request, but one byte every 2.9 s: each byte comes well within
    the reply timeout, the whole answer never within a call's deadline."""

    def __init__(self):
        self.listener = socket.create_server(("127.0.0.1", 0))
        self.port = self.listener.getsockname()[1]
        self.stopping = threading.Event()
        self.thread = threading.Thread(target=self.serve, daemon=True)
        self.thread.start()

    def serve(self):
        self.listener.settimeout(0.2)
        while not self.stopping.is_set():
            try:
                conn, _ = self.listener.accept()
            except OSError:
                continue
            with conn:
                conn.settimeout(2)
                try:
                    conn.recv(4096)  # the hello
                    answer = struct.pack(">IB", 13, 0) + struct.pack(">QI", 7, 1)
                    for byte in answer:
                        conn.sendall(bytes([byte]))
                        if self.stopping.wait(2.9):
                            return
                except OSError:
                    pass  # the tool gave up the link: wait for its next call

    def stop(self):
        self.stopping.set()
        self.thread.join(timeout=5)
        self.listener.close()


def test_a_dripping_controller_gives_device_errer_in_time():
    fake = DrippingController()
    try:
        expect_device_error_in_time(fake.port, 15)
    finally:
        fake.stop()
