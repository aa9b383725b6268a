"""Builds the operator's manual: the Markdown chapters of this folder, in the order of their names, into
one PDF with WenQuanYi Micro Hei (fonts-wqy-microhei) embedded. Usage: build.py OUTPUT.pdf VERSION (the
product's version, shown on the title page)"""

import re
import sys
from pathlib import Path

import markdown
import weasyprint

HERE = Path(__file__).resolve().parent

STYLE = """
@page { size: A4; margin: 22mm 20mm 22mm 20mm;
        @bottom-center { content: counter(page); font-family: "WenQuanYi Micro Hei"; font-size: 9pt; color: #6b7785; } }
html { font-family: "WenQuanYi Micro Hei", sans-serif; font-size: 10.5pt; line-height: 1.6; color: #1f2933; }
h1 { font-size: 22pt; color: #22313f; margin: 40mm 0 4mm 0; }
h1 + p { font-size: 13pt; color: #52606d; margin-bottom: 4mm; }
p.version { font-size: 11pt; color: #52606d; margin-bottom: 20mm; }
h2 { font-size: 16pt; color: #22313f; border-bottom: 1.5pt solid #2f6fae; padding-bottom: 2pt;
     margin-top: 0; break-before: page; }
h3 { font-size: 12pt; color: #2f6fae; margin-top: 14pt; }
table { border-collapse: collapse; width: 100%; margin: 8pt 0; font-size: 9.5pt; }
th, td { border: 0.5pt solid #c5ccd3; padding: 3pt 6pt; vertical-align: top; text-align: left; }
th { background: #e4e8ec; }
code { font-family: "WenQuanYi Micro Hei", monospace; background: #f0f2f4; padding: 0 2pt; font-size: 9.5pt; }
img { max-width: 100%; border: 0.5pt solid #c5ccd3; }
td img { max-width: 100%; }
strong { color: #b83b3b; }
"""


# A line break inside Chinese text is no word break: Markdown would turn it into a space. Lines that
# continue a paragraph or a list item are joined where the text on both sides is Chinese.
CONTINUATION = re.compile(r"([\u3000-\u9fff\uff00-\uffef])\n[ \t]*(?![-*|#>!\s]|\d+\.\s)(?=[\u3000-\u9fff\uff00-\uffef])")


def main(out, version):
    chapters = sorted(HERE.glob("*.md"))
    texts = [CONTINUATION.sub(r"\1", c.read_text("utf-8")) for c in chapters]
    html = "\n".join(markdown.markdown(t, extensions=["tables"]) for t in texts)
    # The title page: the subtitle under the first heading is followed by the version.
    html = re.sub(r"(</h1>\s*<p>.*?</p>)", lambda m: m.group(1) + f'\n<p class="version">版本 {version}</p>',
                  html, count=1, flags=re.S)
    page = f"<html lang='zh-CN'><head><meta charset='utf-8'><title>Veltra-Seam 使用文档</title>" \
           f"<style>{STYLE}</style></head><body>{html}</body></html>"
    weasyprint.HTML(string=page, base_url=str(HERE) + "/").write_pdf(out)


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
