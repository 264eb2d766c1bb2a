#!/usr/bin/env python3
"""Writes the .docx fixtures of the Word import tests with three independent producers:
python-docx, pandoc and LibreOffice. Run inside the build root from this folder:
    python3 make_fixtures.py
Each producer gets the same kinds of content (styles, runs, lists, tables, pictures), so the
tests see how each one really spells them. cases.json states what every fixture must import as;
change both together."""

import base64
import os
import shutil
import struct
import subprocess
import tempfile
import zlib

from docx import Document
from docx.enum.style import WD_STYLE_TYPE
from docx.enum.text import WD_ALIGN_PARAGRAPH, WD_BREAK, WD_COLOR_INDEX, WD_UNDERLINE
from docx.shared import Pt, RGBColor

HERE = os.path.dirname(os.path.abspath(__file__))


def png(width, height, rgb):
    raw = b"".join(b"\x00" + bytes(rgb) * width for _ in range(height))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    header = struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b"")


def python_docx(out, picture):
    doc = Document()
    styles = doc.styles
    base = styles.add_style("Script Base", WD_STYLE_TYPE.PARAGRAPH)
    base.base_style = styles["Normal"]
    base.font.size = Pt(14)
    base.font.color.rgb = RGBColor(0x11, 0x22, 0x33)
    base.paragraph_format.alignment = WD_ALIGN_PARAGRAPH.CENTER
    cue = styles.add_style("Script Cue", WD_STYLE_TYPE.PARAGRAPH)
    cue.base_style = base
    cue.font.bold = True
    direction = styles.add_style("Stage Direction", WD_STYLE_TYPE.CHARACTER)
    direction.font.italic = True
    direction.font.color.rgb = RGBColor(0x00, 0x80, 0x00)

    doc.add_paragraph("Plain paragraph.")                                   # 0
    p = doc.add_paragraph("Cue line", style="Script Cue")                   # 1
    p.add_run(" not bold").bold = False
    p = doc.add_paragraph()                                                 # 2
    p.add_run("bold").bold = True
    p.add_run(" ")
    p.add_run("italic").italic = True
    p.add_run(" ")
    p.add_run("under").font.underline = WD_UNDERLINE.DOUBLE
    p.add_run(" ")
    p.add_run("strike").font.strike = True
    p.add_run(" ")
    p.add_run("small").font.size = Pt(10.5)
    p.add_run(" ")
    p.add_run("mono").font.name = "Courier New"
    p.add_run(" ")
    p.add_run("red").font.color.rgb = RGBColor(0xFF, 0x00, 0x00)
    p.add_run(" ")
    p.add_run("quietly", style="Stage Direction")
    p = doc.add_paragraph()                                                 # 3
    marks = [("yellow", WD_COLOR_INDEX.YELLOW), ("green", WD_COLOR_INDEX.BRIGHT_GREEN),
             ("cyan", WD_COLOR_INDEX.TURQUOISE), ("magenta", WD_COLOR_INDEX.PINK),
             ("blue", WD_COLOR_INDEX.BLUE), ("red", WD_COLOR_INDEX.RED),
             ("darkYellow", WD_COLOR_INDEX.DARK_YELLOW), ("lightGray", WD_COLOR_INDEX.GRAY_25)]
    for i, (word, index) in enumerate(marks):
        if i:
            p.add_run(" ")
        p.add_run(word).font.highlight_color = index
    p = doc.add_paragraph("E=mc")                                           # 4
    p.add_run("2").font.superscript = True
    p.add_run(" H")
    p.add_run("2").font.subscript = True
    p.add_run("O")
    p = doc.add_paragraph()                                                 # 5
    r = p.add_run("a")
    r.add_tab()
    r.add_text("b")
    r.add_break(WD_BREAK.LINE)
    r.add_text("c")
    p = doc.add_paragraph("visible ")                                       # 6
    p.add_run("SECRET").font.hidden = True
    p.add_run("end")
    doc.add_paragraph("apple", style="List Bullet")                         # 7
    doc.add_paragraph("apple pie", style="List Bullet 2")                   # 8
    doc.add_paragraph("banana", style="List Bullet")                        # 9
    doc.add_paragraph("one", style="List Number")                           # 10
    doc.add_paragraph("two", style="List Number")                           # 11
    doc.add_paragraph("interruption")                                       # 12
    doc.add_paragraph("three", style="List Number")                         # 13
    table = doc.add_table(rows=1, cols=2)                                   # 14, 15
    table.cell(0, 0).text = "cell one"
    table.cell(0, 1).text = "cell two"
    p = doc.add_paragraph("Picture:")                                       # 16
    p.add_run().add_picture(picture)
    doc.add_paragraph("Right").alignment = WD_ALIGN_PARAGRAPH.RIGHT         # 17
    doc.add_paragraph("Justified").alignment = WD_ALIGN_PARAGRAPH.JUSTIFY   # 18
    doc.add_paragraph()                                                     # 19
    doc.save(out)


PANDOC_MARKDOWN = """# Opening

Intro with **bold**, *italic*, ~~struck~~, H~2~O and x^2^, and a [link](https://example.com/).

- first bullet
    - nested bullet
- second bullet

3. three
4. four

Between lists.[^1]

| A | B |
|---|---|
| 1 | 2 |

![pic](pic.png)

[^1]: A footnote.
"""


def pandoc(out, folder):
    source = os.path.join(folder, "pandoc.md")
    with open(source, "w", encoding="utf-8") as f:
        f.write(PANDOC_MARKDOWN)
    subprocess.run(["pandoc", "-f", "markdown", "-t", "docx", "-o", out, source], cwd=folder, check=True)


def libreoffice(out, folder, picture):
    with open(os.path.join(HERE, "libreoffice.fodt"), encoding="utf-8") as f:
        text = f.read()
    with open(picture, "rb") as f:
        text = text.replace("PICTURE_BASE64", base64.b64encode(f.read()).decode("ascii"))
    source = os.path.join(folder, "libreoffice.fodt")
    with open(source, "w", encoding="utf-8") as f:
        f.write(text)
    home = tempfile.mkdtemp()
    try:
        subprocess.run(["soffice", "--headless", "--convert-to", "docx", "--outdir", folder, source],
                       env=dict(os.environ, HOME=home), check=True, stdout=subprocess.DEVNULL)
    finally:
        shutil.rmtree(home, ignore_errors=True)
    shutil.move(os.path.join(folder, "libreoffice.docx"), out)


def main():
    folder = tempfile.mkdtemp()
    try:
        picture = os.path.join(folder, "pic.png")
        with open(picture, "wb") as f:
            f.write(png(4, 4, (200, 30, 30)))
        python_docx(os.path.join(HERE, "python_docx.docx"), picture)
        pandoc(os.path.join(HERE, "pandoc.docx"), folder)
        libreoffice(os.path.join(HERE, "libreoffice.docx"), folder, picture)
    finally:
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    main()
