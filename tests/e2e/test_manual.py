"""The operator's manual: a PDF beside the exe with its chapters, searchable Chinese text and embedded
fonts. That "btn_op_instruction" opens exactly this file is tested on the installed tool (test_package)."""

import re
import struct
import subprocess

from harness import BIN, MANUAL, ROOT, check

# In this order: getting it running, the operator's work, then practice and help (other chapters between).
# Pictures of windows, printed at least at their size on a 96-DPI screen.
WINDOWS = ["main-window", "pattern-window", "progress-window", "photo-correction-box", "device-errer-box"]
CHAPTERS = ["本工具的用途", "安装与首次启动", "描述屏幕", "测试画面", "文件", "硬件", "远程控制", "模拟墙练习",
            "故障排除"]


def test_the_manual_beside_the_exe_has_its_chapters_and_embeds_its_fonts():
    pdf = BIN / MANUAL
    info = subprocess.run(["pdfinfo", str(pdf)], capture_output=True, text=True)
    check(info.returncode == 0, f"a valid PDF: {info.stderr}")
    pages = int(re.search(r"Pages:\s+(\d+)", info.stdout).group(1))
    check(pages >= 8, f"{pages} pages")
    text = subprocess.run(["pdftotext", str(pdf), "-"], capture_output=True, text=True, check=True).stdout
    found = [re.search(rf"^\f?\d+ {c}$", text, re.M) for c in CHAPTERS]  # headings, not the table's lines
    check(all(found) and "目录" in text, f"a table of contents and the chapters: {list(zip(CHAPTERS, found))}")
    check([f.start() for f in found] == sorted(f.start() for f in found), "the chapters in their order")
    check("device errer" in text and "6666" in text and "d:data.chk" in text, "the texts the operator meets")
    check("scripts/" not in text and "模块" not in text, "no developer command, one word for a module")
    listed = subprocess.run(["pdfimages", "-list", str(pdf)], capture_output=True, text=True, check=True).stdout
    ppi = {(int(f[3]), int(f[4])): int(f[12]) for f in map(str.split, listed.splitlines()[2:]) if f[2] == "image"}
    sizes = [struct.unpack(">II", (ROOT / "docs" / "screenshots" / f"{n}.png").read_bytes()[16:24]) for n in WINDOWS]
    check(all(ppi.get(size, 999) <= 96 for size in sizes), f"windows at 96 DPI or larger: {sizes} in {ppi}")
    fonts = subprocess.run(["pdffonts", str(pdf)], capture_output=True, text=True, check=True).stdout.splitlines()[2:]
    check(fonts and all(line.split()[-5] == "yes" for line in fonts), f"every font embedded: {fonts}")
    check(all("WenQuanYi" in line for line in fonts), f"in WenQuanYi Micro Hei: {fonts}")
