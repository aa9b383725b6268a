"""The simulator as a wall with seams: a seam of 1.05 tuned away through the tool, seen in a render."""

import json
import re
import subprocess
import time

import pattern_model as model
from harness import (NATIVE_BIN, Simulator, Tool, check, close_pattern_with_escape, open_pattern, scratch_dir,
                     tool_for, uidriver, wait_until)
from test_pattern import H, MH, MW, W, X0, Y0, xdotool
from test_upload import send_and_expect


def render(sim, out, gray=128):
    result = subprocess.run([str(NATIVE_BIN / "ledsim"), "render", "--connect", f"127.0.0.1:{sim.port}", "--gray",
                             str(gray), "--out", str(out)], capture_output=True, text=True, timeout=60)
    check(result.returncode == 0 and out.exists(), f"render: {result.stdout}{result.stderr}")
    m = re.match(r"ledsim: residual seam visibility ([0-9.]+) % \((?:brighter|darker)\) at (.*)", result.stdout)
    check(m is not None, f"render printed {result.stdout!r}")
    # The pixel that selects the join it names, for the test that tunes that join.
    render.click = re.search(r"click at (\d+), (\d+) in the pattern window", result.stdout)
    return float(m.group(1)), m.group(2).strip()


def test_a_bright_seam_is_tuned_away_and_the_render_shows_it_gone():
    folder = scratch_dir("wall")
    default = Simulator(name="default-wall").start()
    residual, _ = render(default, folder / "default.png")
    check(residual > 3, f"the default wall shows clear seams: {residual} %")
    default.stop()

    (folder / "wall.json").write_text(json.dumps({
        "ports": [{"cards": [{"rows": H, "columns": W // 2}, {"column": W // 2, "rows": H, "columns": W // 2}]}],
        "wall": {"module_width": MW, "module_height": MH,
                 "joins": [{"column": 1, "row": 2, "side": "right", "factor": 1.05}]}}))
    sim = Simulator("--topology", str(folder / "wall.json")).start()
    residual, join = render(sim, folder / "before.png")
    check(abs(residual - 5.0) < 0.01 and join == "the join right of module (1, 2)", f"before: {residual} % {join}")
    check("(brighter)" in subprocess.run([str(NATIVE_BIN / "ledsim"), "render", "--connect",
                                          f"127.0.0.1:{sim.port}", "--gray", "128", "--out",
                                          str(folder / "again.png")], capture_output=True, text=True).stdout,
          "a factor above 1 shows brighter")

    Tool(tool_for(sim.port)).start().wait_ready()
    for name, value in {"edt_screen_width": W, "edt_screen_height": H, "edt_start_x": X0, "edt_start_y": Y0,
                        "edt_mod_width": MW, "edt_mod_height": MH}.items():
        uidriver("set", name, str(value))
    open_pattern()
    # The operator lowers the seam notch by notch until it vanishes: the gain whose card byte cancels 1.05.
    gains = [1.0]
    for _ in range(20):
        gains.append(model.step_wheel(gains[-1], up=False))
    notches = min(range(len(gains)), key=lambda n: abs(model.quantise(gains[n]) / 128 * 1.05 - 1))
    # Where the render says, the tool selects the join the render names, and names it the same way.
    xdotool("mousemove", str(X0 + int(render.click[1])), str(Y0 + int(render.click[2])), "click", "1")
    wait_until(lambda: uidriver("get", "lab_selection")[1].strip() == "模组 (1, 2) 右侧的缝隙 增益 1.000",
               message="the join named as the render names it")
    time.sleep(0.8)
    for _ in range(notches):
        xdotool("click", "5")
    close_pattern_with_escape()
    send_and_expect(" \tsend seam data finish\n")
    residual, _ = render(sim, folder / "uploaded.png")
    check(residual > 4.9, f"uploaded but not switched on, the seam still shows: {residual} %")
    uidriver("click", "chkbox_Enable")
    wait_until(lambda: sim.read(0, 0, 0xDA000005, 4) == "000000a8", message="correction on")
    residual, join = render(sim, folder / "after.png")
    check(residual < 0.5, f"after {notches} notches, uploaded and switched on: {residual} % at {join}")
