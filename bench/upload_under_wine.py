"""The time from the click on "btn_send_to_hardware" to "send seam data finish" for an 8K wall under
Wine: 7680 x 4320 pixels, 8 x 8 modules, 510 cards of 256 x 256 on 16 ports, the optimised simulator."""

import json
import struct
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "tests" / "e2e"))
sys.path.insert(0, str(ROOT / "tools" / "automation"))

import harness  # noqa: E402
import pattern_model as model  # noqa: E402

W, H, M, CARD = 7680, 4320, 8, 256


def main():
    folder = harness.scratch_dir("bench-upload")
    ports = [{"row_offset": 0, "column_offset": 0, "cards": []} for _ in range(16)]
    for i in range(30 * 17):
        ports[i // 32]["cards"].append({"row": (i // 30) * CARD, "column": (i % 30) * CARD, "rows": CARD,
                                        "columns": CARD})
    (folder / "wall.json").write_text(json.dumps({"ports": ports}))
    segments = model.grid(W, H, M, M)
    half = len(segments) // 2
    records = b"".join(struct.pack("<6if", *s, 0, 1 if i < half else 0, 0.9 + (i % 41) * 0.005)
                       for i, s in enumerate(segments))
    (folder / "wall.chk").write_bytes(model.seam_header(W, H, M, M) + records)
    try:
        sim = harness.Simulator("--topology", str(folder / "wall.json"),
                                binary=ROOT / "build" / "bench" / "bin" / "ledsim").start()
        harness.Tool(harness.tool_for(sim.port, folder="bench-tool")).start().wait_ready()
        harness.uidriver("click", "btn_import_data")
        harness.uidriver("filedialog", harness.win_path(folder / "wall.chk"))
        harness.wait_until(lambda: harness.controls()["edt_screen_width"][3] == str(W), timeout=60,
                           message="the 8K seam file imported")
        times = []
        for _ in range(3):
            start = time.monotonic()
            harness.uidriver("click", "btn_send_to_hardware")
            _, out = harness.uidriver("msgbox", "--timeout", "120")
            times.append(time.monotonic() - start)
            harness.uidriver("msgbox", "--ok")
            if out != " \tsend seam data finish\n":
                print(f"unexpected message {out!r}")
                return 1
        times.sort()
        print(f"8K wall, click to \"send seam data finish\" under Wine: median {times[1]:.2f} s "
              f"(runs: {', '.join(f'{t:.2f}' for t in times)})")
        return 0
    finally:
        harness.cleanup()


if __name__ == "__main__":
    sys.exit(main())
