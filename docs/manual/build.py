"""Builds the operator's manual: the Markdown files that contents.txt names, in its order, into one PDF
with WenQuanYi Micro Hei (fonts-wqy-microhei) embedded. Usage: build.py OUTPUT.pdf VERSION (the
product's version, shown under the title).

Writing for it:
- A chapter is a file named in contents.txt; it starts with "## Title {#id}". A section is
  "### Title {#id}" (the id only where something refers to it). Numbers are never written by hand:
  chapters and sections are numbered in their order, and the table of contents lists them with pages.
- "[](#id)" becomes "第 N 章", "N.M 节" or "图 N", whichever the id names, and links there.
- A picture alone in its paragraph, "![caption](../screenshots/name.png)", is a numbered figure kept on
  one page with its caption. Pictures of windows print at their real size (one pixel a 96th of an
  inch) and must fit the page: a window wider than a portrait page's text (about 640 pixels) gets
  "{.wide}" after it and fills a landscape page of its own; put it where a page ends anyway (after the
  table of contents), or the page before it stays half empty.
- A paragraph that ends with "：" stays on the page of what follows it.
- No developer commands: the manual is for operators on Windows (the README is for developers).

After writing the PDF the build checks that no page but the last is less than a third full (the book
flows on from chapter to chapter, so a gap means a picture or table that did not fit) and fails with
the page's number otherwise."""

import html as htmllib
import re
import subprocess
import sys
import tempfile
from pathlib import Path

import markdown
import weasyprint

HERE = Path(__file__).resolve().parent
MARGIN_MM = (20, 18, 20, 18)  # top, right, bottom, left

STYLE = """
@page { size: A4; margin: %(top)smm %(right)smm %(bottom)smm %(left)smm;
        @bottom-center { content: counter(page); font-family: "WenQuanYi Micro Hei"; font-size: 9pt;
                         color: #6b7785; } }
@page wide { size: A4 landscape; margin: 12mm 15mm 14mm 15mm; }
html { font-family: "WenQuanYi Micro Hei", sans-serif; font-size: 10.5pt; line-height: 1.6; color: #1f2933; }
h1 { font-size: 22pt; color: #22313f; margin: 6mm 0 2mm 0; }
h1 + p { font-size: 13pt; color: #52606d; margin: 0; }
p.version { font-size: 11pt; color: #52606d; margin: 1mm 0 8mm 0; }
h2 { font-size: 16pt; color: #22313f; border-bottom: 1.5pt solid #2f6fae; padding-bottom: 2pt;
     margin: 10mm 0 3mm 0; break-after: avoid; }
h3 { font-size: 12pt; color: #2f6fae; margin: 12pt 0 4pt 0; break-after: avoid; }
p.lead { break-after: avoid; }
table { border-collapse: collapse; width: 100%%; margin: 8pt 0; font-size: 9.5pt; }
tr { break-inside: avoid; }
th, td { border: 0.5pt solid #c5ccd3; padding: 3pt 6pt; vertical-align: top; text-align: left; }
th { background: #e4e8ec; }
code { font-family: "WenQuanYi Micro Hei Mono", monospace; color: #22313f; white-space: nowrap; }
pre { font-family: "WenQuanYi Micro Hei Mono", monospace; background: #f0f2f4; padding: 4pt 8pt;
      font-size: 8.5pt; line-height: 1.45; white-space: pre-wrap; break-inside: avoid; }
pre code { white-space: pre-wrap; }
figure { margin: 8pt 0; break-inside: avoid; text-align: center; }
figure img { max-width: 100%%; border: 0.5pt solid #c5ccd3; }
figcaption { font-size: 9.5pt; color: #52606d; margin-top: 3pt; }
figure.wide { page: wide; margin: 0; }
strong { color: #b83b3b; }
nav.toc { columns: 2; column-gap: 10mm; font-size: 9.5pt; line-height: 1.45; }
nav.toc p.title { column-span: all; font-size: 16pt; color: #22313f; border-bottom: 1.5pt solid #2f6fae;
                  padding-bottom: 2pt; margin: 0 0 3mm 0; }
nav.toc ul { list-style: none; margin: 0; padding: 0; }
nav.toc li.chapter { font-weight: bold; margin-top: 4pt; }
nav.toc li.section { padding-left: 6mm; }
nav.toc a { color: inherit; text-decoration: none; }
nav.toc a::after { content: leader('.') target-counter(attr(href url), page); }
nav.toc + * { break-before: page; }
a { color: #2f6fae; text-decoration: none; }
span.whole { white-space: nowrap; }
""" % dict(zip(("top", "right", "bottom", "left"), MARGIN_MM))


# A line break inside Chinese text is no word break: Markdown would turn it into a space. Lines that
# continue a paragraph or a list item are joined where the text on both sides is Chinese.
CONTINUATION = re.compile(r"([\u3000-\u9fff\uff00-\uffef])\n[ \t]*(?![-*|#>!\s]|\d+\.\s)(?=[\u3000-\u9fff\uff00-\uffef])")
DEVELOPER = re.compile(r"\bscripts/|\bbuild/(?:run|win|native)\b|\btools/")


def chapters():
    names = [line.split("#")[0].strip() for line in (HERE / "contents.txt").read_text("utf-8").splitlines()]
    return [HERE / n for n in names if n]


def number(html):
    """Numbers the chapters (h2) and sections (h3); returns the html, the table of contents and what
    each id names."""
    names = {}
    toc = []
    counts = [0, 0]

    def heading(m):
        level, attrs, text = int(m.group(1)), m.group(2), m.group(3)
        if level == 2:
            counts[0] += 1
            counts[1] = 0
            label, ref = f"{counts[0]}", f"第 {counts[0]} 章"
        else:
            counts[1] += 1
            label = f"{counts[0]}.{counts[1]}"
            ref = f"{label} 节"
        found = re.search(r'id="([^"]+)"', attrs)
        ident = found.group(1) if found else f"s{label.replace('.', '-')}"
        if not found:
            attrs += f' id="{ident}"'
        names[ident] = ref
        toc.append((level, ident, f"{label} {text}"))
        return f"<h{level}{attrs}>{label} {text}</h{level}>"

    html = re.sub(r"<h([23])((?:\s[^>]*)?)>(.*?)</h\1>", heading, html)
    items = "".join(f'<li class="{"chapter" if level == 2 else "section"}"><a href="#{ident}">{text}</a></li>'
                    for level, ident, text in toc)
    return html, f'<nav class="toc"><p class="title">目录</p><ul>{items}</ul></nav>', names


def figures(html, names):
    """A paragraph holding only a picture becomes a numbered figure with its caption."""
    count = [0]

    def figure(m):
        attrs = dict(re.findall(r'(\w+)="([^"]*)"', m.group(1)))
        count[0] += 1
        ident = attrs.get("id", f"fig{count[0]}")
        names[ident] = f"图 {count[0]}"
        css = f' class="{attrs["class"]}"' if "class" in attrs else ""
        caption = attrs.get("alt", "")
        return (f'<figure id="{ident}"{css}><img src="{attrs["src"]}" alt="{caption}" />'
                f"<figcaption>图 {count[0]}　{caption}</figcaption></figure>")

    return re.sub(r"<p>\s*<img\s([^>]*?)\s*/?>\s*</p>", figure, html)


def references(html, names, where):
    def ref(m):
        ident = m.group(1)
        if ident not in names:
            sys.exit(f"manual: {where}: a reference to #{ident}, which no heading or figure has")
        return f'<a href="#{ident}">{names[ident]}</a>'

    return re.sub(r'<a href="#([^"]+)"></a>', ref, html)


def page_fill(pdf):
    """How full each page is, from its picture: the lowest ink above the bottom margin (the page
    number lives there), as a share of the text area's height."""
    dpi = 24
    fills = []
    with tempfile.TemporaryDirectory() as tmp:
        subprocess.run(["pdftoppm", "-r", str(dpi), "-gray", str(pdf), f"{tmp}/p"], check=True)
        for path in sorted(Path(tmp).iterdir(), key=lambda p: int(re.search(r"(\d+)\.pgm$", p.name).group(1))):
            data = path.read_bytes()
            fields = data.split(maxsplit=4)
            width, height, pixels = int(fields[1]), int(fields[2]), fields[4]
            landscape = width > height
            top = round((12 if landscape else MARGIN_MM[0]) / 25.4 * dpi)
            bottom = height - round((14 if landscape else MARGIN_MM[2]) / 25.4 * dpi)
            last = top
            for y in range(top, bottom):
                if min(pixels[y * width:(y + 1) * width]) < 235:
                    last = y + 1
            fills.append((last - top) / (bottom - top))
    return fills


def main(out, version):
    parts = []
    for path in chapters():
        text = path.read_text("utf-8")
        found = DEVELOPER.search(text)
        if found:
            sys.exit(f"manual: {path.name}: \"{found.group(0)}\" is a developer's path; the manual is for "
                     "operators (the README is for developers)")
        text = CONTINUATION.sub(r"\1", text)
        parts.append(markdown.markdown(text, extensions=["tables", "attr_list", "fenced_code"]))
    html = "\n".join(parts)
    html, toc, names = number(html)
    html = figures(html, names)
    html = references(html, names, "contents")
    html = re.sub(r"<p>((?:(?!</p>).)*：)</p>", r'<p class="lead">\1</p>', html, flags=re.S)
    # The tool's own English texts ("device errer") are read as one word: never split across lines.
    whole = re.compile(r"“([\x20-\x7e]{1,40})”")
    html = re.sub(r">([^<]+)<", lambda m: ">" + whole.sub(r'<span class="whole">“\1”</span>', m.group(1)) + "<",
                  html)
    # The title, its subtitle and the version, then the table of contents, on the first page.
    html = re.sub(r"(</h1>\s*<p>.*?</p>)",
                  lambda m: m.group(1) + f'\n<p class="version">版本 {htmllib.escape(version)}</p>\n{toc}',
                  html, count=1, flags=re.S)
    page = f"<html lang='zh-CN'><head><meta charset='utf-8'><title>Veltra-Seam 使用文档</title>" \
           f"<style>{STYLE}</style></head><body>{html}</body></html>"
    weasyprint.HTML(string=page, base_url=str(HERE) + "/").write_pdf(out)

    fills = page_fill(out)
    sparse = [f"page {n} is {fill:.0%} full" for n, fill in enumerate(fills[:-1], 1) if fill < 1 / 3]
    if sparse:
        Path(out).unlink()
        sys.exit("manual: " + "; ".join(sparse) + " (a picture or a table that did not fit on the page "
                 "before it; move it or shorten the text around it)")


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
