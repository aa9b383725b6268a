"""The operator's manual: a PDF beside the exe with its chapters, searchable Chinese text and embedded
fonts. That "btn_op_instruction" opens exactly this file is tested on the installed tool (test_package)."""

import re
import subprocess

from harness import BIN, MANUAL, check

CHAPTERS = ["1 本工具的用途", "2 描述屏幕", "3 测试画面", "4 文件", "5 硬件", "6 远程控制", "7 模拟墙练习",
            "8 故障排除"]


def test_the_manual_beside_the_exe_has_its_chapters_and_embeds_its_fonts():
    pdf = BIN / MANUAL
    info = subprocess.run(["pdfinfo", str(pdf)], capture_output=True, text=True)
    check(info.returncode == 0, f"a valid PDF: {info.stderr}")
    pages = int(re.search(r"Pages:\s+(\d+)", info.stdout).group(1))
    check(pages >= 8, f"{pages} pages")
    text = subprocess.run(["pdftotext", str(pdf), "-"], capture_output=True, text=True, check=True).stdout
    missing = [c for c in CHAPTERS if c not in text]
    check(not missing, f"chapters missing from the text: {missing}")
    check("device errer" in text and "6666" in text and "d:data.chk" in text, "the texts the operator meets")
    fonts = subprocess.run(["pdffonts", str(pdf)], capture_output=True, text=True, check=True).stdout.splitlines()[2:]
    check(fonts and all(line.split()[-5] == "yes" for line in fonts), f"every font embedded: {fonts}")
    check(all("WenQuanYi" in line for line in fonts), f"in WenQuanYi Micro Hei: {fonts}")
