"""The device library against the simulated controller: the correction switch of "chkbox_Enable"."""

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
    check(elapsed < limit_s, f"the message took {elapsed:.1f} s")
    uidriver("msgbox", "--ok")
    # The window is usable again: it answers and its controls react.
    uidriver("click", "btn_server")
    wait_until(lambda: controls()["btn_connect"][3] == "启动", message="the window reacts after the error")


def test_a_silent_controller_gives_device_errer_in_time():
    sim = Simulator("--delay-ms", "600000").start()
    expect_device_error_in_time(sim.port, 8)
