"""Start-up, single instance, the main window's controls and the dispatch that needs no device."""

from common import answer_box
from harness import (BIN, Screen, Tool, check, controls, copy_tool, display_size, uidriver, wait_until,
                     window_state, SCRATCH)

KINDS = {
    "edit": ["edt_screen_width", "edt_screen_height", "edt_start_x", "edt_start_y", "edt_box_width",
             "edt_box_height", "edt_mod_width", "edt_mod_height", "edt_gray_scale", "edt_gama_value",
             "edt_ip", "edt_port"],
    "button": ["closebtn", "minbtn", "maxbtn", "restorebtn", "btn_screen_ctr", "btn_reset",
               "btn_send_to_hardware", "btn_read_back", "btn_solidify", "btn_import_data", "btn_save",
               "btn_import_coef", "btn_op_instruction", "btn_connect"],
    "checkbox": ["chkbox_Enable", "OnlyBoxInner"],
    "option": ["btn_client", "btn_server"],
    "label": ["lab_state"],
}


def test_first_start_is_centred_lists_every_control_switches_roles_and_closes_with_0():
    tool = Tool().start().wait_ready()
    x, y, w, h, state = normal = window_state()
    width, height = display_size()
    check(state == "normal", state)
    check((x, y) == ((width - w) // 2, (height - h) // 2), f"window at {x},{y} size {w}x{h} is not centred")

    table = controls()
    for kind, names in KINDS.items():
        for name in names:
            check(name in table, f"{name} missing from the list")
            check(table[name][0] == kind, f"{name} is a {table[name][0]}, not a {kind}")
    check(table["btn_client"][2] == "1" and table["btn_server"][2] == "0", "btn_client is selected at start")
    check(table["chkbox_Enable"][2] == "0", "chkbox_Enable starts unticked")
    check(table["btn_connect"][3] == "连接", table["btn_connect"][3])
    Screen().save_png(SCRATCH / "main-window.png", crop=(x, y, w, h))

    uidriver("click", "btn_server")
    table = wait_until(lambda: (lambda t: t if t["btn_connect"][3] == "启动" else None)(controls()),
                       message="btn_connect relabelled")
    check(not table["edt_ip"][1] and not table["edt_port"][1], "address fields disabled for the server")
    check(table["btn_server"][2] == "1" and table["btn_client"][2] == "0", "server selected")
    uidriver("click", "OnlyBoxInner")
    uidriver("click", "OnlyBoxInner")
    uidriver("click", "btn_client")
    table = wait_until(lambda: (lambda t: t if t["btn_connect"][3] == "连接" else None)(controls()),
                       message="btn_connect relabelled back")
    check(table["edt_ip"][1] and table["edt_port"][1], "address fields enabled for the client")
    expected = ["取消选择\n", "只修箱体内部\n", "取消选择状态\n", "取消选择\n"]
    traces = wait_until(lambda: (lambda t: t if len(t) >= 4 else None)(tool.traces()), message="traces")
    check(traces == expected, f"traces {traces!r}")

    uidriver("click", "maxbtn")
    wait_until(lambda: window_state()[4] == "maximized", message="maximised")
    check(window_state()[:4] == (0, 0, width, height), f"maximised to {window_state()}")
    check(controls()["restorebtn"][1], "restore button usable when maximised")
    uidriver("click", "restorebtn")
    wait_until(lambda: window_state() == normal, message="restored")
    uidriver("click", "minbtn")
    wait_until(lambda: window_state()[4] == "minimized", message="minimised")
    uidriver("click", "closebtn")
    check(tool.wait_exit() == 0, "closebtn ends the process with 0")


def test_second_start_hands_over_and_exits_minus_2():
    first = Tool(name="first").start().wait_ready()
    second = Tool(name="second").start()
    check(second.wait_exit(timeout=20) == 254, f"second start exited {second.proc.returncode}, not -2")
    check(not first.exited(), "the first instance still runs")
    check(window_state()[4] == "normal", "the first instance's window is still there")


def test_missing_layout_is_reported_and_ends_the_process():
    folder = copy_tool("no-layout")
    tool = Tool(folder, name="no-layout").start()
    out = answer_box()
    check("xml\\VTSeamFrame.xml" in out, f"the message names the missing file: {out!r}")
    check(tool.wait_exit() not in (0, None), "a non-zero exit code")


def test_layout_lacking_a_control_is_reported_by_name():
    layout = (BIN / "xml" / "VTSeamFrame.xml").read_text("utf-8").replace('name="btn_solidify"', 'name="x"')
    folder = copy_tool("lacking-control", layout)
    tool = Tool(folder, name="lacking").start()
    out = answer_box()
    check('"btn_solidify"' in out, f"the message names the control: {out!r}")
    check(tool.wait_exit() == 3, f"exit code {tool.proc.returncode}")
    # The photo correction's button and the labels that only inform may be missing.
    for name in ("btn_photo_correct", "lab_selection", "lab_coef_file"):
        layout = layout.replace(f'name="{name}"', 'name="y"').replace('name="x"', 'name="btn_solidify"')
    Tool(copy_tool("optional-controls", layout), name="optional").start().wait_ready()
