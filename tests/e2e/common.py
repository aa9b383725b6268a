"""What the end-to-end tests share: the screen the pattern tests describe and its expected pixels, X input,
setting fields, answering a box, leaving the pattern window by its menu, the upload, and rendering the
practice wall."""

import re
import subprocess
import time

import pattern_model as model
from harness import NATIVE_BIN, SCRATCH, Screen, Simulator, Tool, check, pattern_open, tool_for, uidriver, wait_until

X0, Y0, W, H, MW, MH = 640, 0, 320, 240, 64, 48
FIELDS = {"edt_screen_width": W, "edt_screen_height": H, "edt_start_x": X0, "edt_start_y": Y0,
          "edt_mod_width": MW, "edt_mod_height": MH}
N = (W // MW) * (H // MH)  # modules: records 0..N-1 top edges, then bottom, left and right
SEGMENTS = model.grid(W, H, MW, MH)


def xdotool(*args, env=None):
    subprocess.run(["xdotool", *args], check=True, env=env)


def set_fields(fields, env=None):
    for name, value in fields.items():
        uidriver("set", name, str(value), env=env)


def answer_box(timeout=10, button="--ok", env=None):
    """Waits for a message box, answers it with `button` and returns it as "caption\\ttext\\n"."""
    out = uidriver("msgbox", "--timeout", str(timeout), env=env)[1]
    uidriver("msgbox", button, env=env)
    return out


def no_box(env=None):
    return uidriver("--timeout", "0.5", "msgbox", check_rc=False, env=env)[0] == 1


def open_tool(gray=128, gamma="2.2", **fields):
    """A simulator with a journal (SCRATCH/journal.log) and the tool on it, showing the pattern screen."""
    journal = SCRATCH / "journal.log"
    journal.parent.mkdir(parents=True, exist_ok=True)
    journal.write_text("")
    sim = Simulator("--journal", str(journal)).start()
    tool = Tool(tool_for(sim.port)).start().wait_ready()
    set_fields({**FIELDS, "edt_gray_scale": gray, "edt_gama_value": gamma, **fields})
    return sim, tool


def leave_by_menu(env=None):
    """Right-clicks the pattern window and picks "exit" in its menu."""
    xdotool("mousemove", str(X0 + 160), str(Y0 + 120), "click", "3", env=env)
    time.sleep(0.3)
    xdotool("mousemove", str(X0 + 175), str(Y0 + 110), "click", "1", env=env)
    wait_until(lambda: not pattern_open(env), message="the menu's exit closed the pattern window")


def send_and_expect(box, timeout=60, env=None):
    """Uploads and checks the box the upload ends with; the progress window is gone after it."""
    uidriver("click", "btn_send_to_hardware", env=env)
    out = answer_box(timeout, env=env)
    check(out == box, f"message box {out!r}, not {box!r}")
    check(uidriver("--timeout", "0", "progress", check_rc=False, env=env)[0] == 1, "the progress window is gone")


def render(sim, out, gray=128):
    """Renders the simulator's wall; returns the residual seam visibility and where it is."""
    result = subprocess.run([str(NATIVE_BIN / "ledsim"), "render", "--connect", f"127.0.0.1:{sim.port}", "--gray",
                             str(gray), "--out", str(out)], capture_output=True, text=True, timeout=60)
    check(result.returncode == 0 and out.exists(), f"render: {result.stdout}{result.stderr}")
    m = re.match(r"ledsim: residual seam visibility ([0-9.]+) % \((?:brighter|darker)\) at (.*)", result.stdout)
    check(m is not None, f"render printed {result.stdout!r}")
    return float(m.group(1)), m.group(2).strip()


def check_image(expected, message, timeout=3.0, size=(W, H), env=None):
    """Polls the screen (of the instance `env` names) until the pattern shows exactly the expected levels
    (gray: r = g = b)."""
    w, h = size
    last = [None]

    def matches():
        screen = Screen(env)
        got = bytearray(screen.pixel(X0 + x, Y0 + y)[0] for y in range(h) for x in range(w))
        last[0] = got
        gray_only = all(screen.pixel(X0 + x, Y0 + y)[0] == screen.pixel(X0 + x, Y0 + y)[2]
                        for x, y in ((0, 0), (w - 1, h - 1), (w // 2, 10)))
        return gray_only and got == expected

    try:
        wait_until(matches, timeout, interval=0.1, message=message)
    except AssertionError:
        got = last[0]
        bad = [(i % w, i // w, got[i], expected[i]) for i in range(len(got)) if got[i] != expected[i]]
        raise AssertionError(f"{message}: {len(bad)} pixels differ, first (x, y, got, want): {bad[:5]}")


def check_pattern(gains, message, gray=128, gamma=2.2, env=None):
    """The pattern screen's field and edges at these gains, exactly."""
    check_image(model.image(W, H, SEGMENTS, gains, gray, model.gamma_table(gamma)), message, env=env)
