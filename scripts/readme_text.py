"""README.md's Markdown as plain text for Notepad, for the README.txt files of the zip and the
installer (scripts/package.py): no Markdown marks, every line at most COLUMNS wide.

Headings start at the left margin, a section's top heading in capitals; everything else is
indented by INDENT and re-wrapped to the width, counting a wide (East Asian) character as two
columns, which is how Notepad's Japanese fonts draw it. Japanese text breaks between characters
but never before closing punctuation or after an opening bracket. Commands (code blocks) are
indented four more columns and left exactly as written; a code span never breaks across lines.
A table becomes a list of its rows: the first cell, then the others beside it, or under it when
the first is wide. Emphasis becomes double quotes, bold plain text, a link or image its text.
"""

import re
import unicodedata

COLUMNS = 78  # two columns short of 80, so that no editor wraps a full line
INDENT = "  "
CODE_INDENT = INDENT + "    "
LIST_INDENT = "  "  # the text of an item, after its "- "
TAG_COLUMNS = 12  # a table's first cell up to this width stays on the line of the others

NO_LINE_START = set("、。，．・：；？！）」』】〕〉》ーぁぃぅぇぉっゃゅょゎァィゥェォッャュョヮヵヶ々" ".,;:!?)]}%")
NO_LINE_END = set("（「『【〔〈《" "([{")
TIGHT = {c for c in NO_LINE_START | NO_LINE_END if unicodedata.east_asian_width(c) in "WF"}
NBSP = "\u00a0"  # stands for a space inside a code span while lines are filled


def columns(text):
    """Columns on screen: wide and ambiguous characters (an arrow, for one) take two, as
    Japanese fonts draw them; the NBSP that stands for a code span's space takes one."""
    return sum(2 if c != NBSP and unicodedata.east_asian_width(c) in "WFA" else 1 for c in text)


def wide(char):
    return unicodedata.east_asian_width(char) in "WF"


def join_lines(lines):
    """A paragraph's source lines as one line: a line end is a space, except between two wide
    characters or next to Japanese punctuation, where Japanese puts none."""
    text = ""
    for line in (line.strip() for line in lines):
        if text and line and not (wide(text[-1]) and wide(line[0]) or text[-1] in TIGHT
                                  or line[0] in TIGHT):
            text += " "
        text += line
    return text


def inline(text):
    """Inline Markdown as plain text; the spaces of code spans become NBSP."""
    parts = re.split(r"(`+)(.+?)\1", text)
    out = []
    for n in range(0, len(parts), 3):
        plain = re.sub(r"!?\[([^\]]*)\]\([^)]*\)", r"\1", parts[n])
        plain = plain.replace("**", "")
        plain = re.sub(r"(?<![\w*])\*(\S(?:[^*]*\S)?)\*(?![\w*])", r'"\1"', plain)
        plain = re.sub(r"\\([\\`*_{}\[\]()#+\-.!|])", r"\1", plain)
        out.append(plain)
        if n + 2 < len(parts):
            out.append(parts[n + 2].strip().replace(" ", NBSP))
    return "".join(out)


def pieces(text):
    """(glue, piece): the text cut where a line may break, glue being what goes between the
    piece and the one before it on the same line."""
    found = []
    for word in text.split(" "):
        glue, current = " ", ""
        for char in word:
            if current and (wide(current[-1]) or wide(char)) and \
                    char not in NO_LINE_START and current[-1] not in NO_LINE_END:
                found.append((glue, current))
                glue, current = "", ""
            current += char
        if current:
            found.append((glue, current))
    return found


def fill(text, first, rest):
    """The text in lines of at most COLUMNS, the first starting with first, the others with
    rest. A piece wider than a line stands on a line of its own."""
    lines, line, empty = [], first, True
    for glue, piece in pieces(text):
        if empty:
            line += piece
        elif columns(line + glue + piece) <= COLUMNS:
            line += glue + piece
        else:
            lines.append(line)
            line = rest + piece
        empty = False
    lines.append(line)
    return [line.replace(NBSP, " ").rstrip() for line in lines]


def table(rows, indent):
    cells = [[inline(c.strip()) for c in row.strip().strip("|").split("|")] for row in rows
             if not re.fullmatch(r"[\s|:-]+", row)]
    tag = min(TAG_COLUMNS, max(columns(row[0]) for row in cells)) + 2
    lines = []
    for row in cells:
        first, rest = row[0], "; ".join(c for c in row[1:] if c)
        hang = indent + " " * tag
        if columns(first) + 2 > tag:
            lines += fill(first, indent, indent)
            lines += fill(rest, hang, hang) if rest else []
        else:
            lines += fill(rest, indent + first + " " * (tag - columns(first)), hang)
    return lines


HEADING = re.compile(r"(#{1,6})\s+(.*?)\s*#*\s*$")
FENCE = re.compile(r"\s*(```|~~~)")
ITEM = re.compile(r"(\s*)([-*+]|\d+[.)])\s+(.*)")


def blocks(markdown):
    """The Markdown cut into (kind, indent, lines): heading, code, table, item, quote and
    paragraph; an item's or quote's lines run to the next blank line or block."""
    lines = markdown.split("\n")
    n = 0
    while n < len(lines):
        line = lines[n]
        if FENCE.match(line):
            end = n + 1
            while end < len(lines) and not FENCE.match(lines[end]):
                end += 1
            yield "code", "", lines[n + 1:end]
            n = end + 1
        elif HEADING.match(line):
            yield "heading", "", [line]
            n += 1
        elif not line.strip():
            n += 1
        else:
            kind = ("table" if line.lstrip().startswith("|") else "item" if ITEM.match(line)
                    else "quote" if line.lstrip().startswith(">") else "paragraph")
            end = n + 1
            while end < len(lines) and lines[end].strip() and not (
                    FENCE.match(lines[end]) or HEADING.match(lines[end])
                    or (kind != "table") == lines[end].lstrip().startswith("|")
                    or ITEM.match(lines[end])):
                end += 1
            yield kind, line[:len(line) - len(line.lstrip())], lines[n:end]
            n = end


def render(markdown):
    """The Markdown as plain text, lines ending in "\\n"."""
    out = []
    found = list(blocks(markdown))
    for n, (kind, indent, lines) in enumerate(found):
        if kind == "heading":
            hashes, title = HEADING.match(lines[0]).groups()
            title = inline(title).replace(NBSP, " ")
            out += ["", title.upper() if len(hashes) <= 2 else title] if out else [title]
        elif kind == "code":
            out += [(CODE_INDENT + line).rstrip() if line.strip() else "" for line in lines]
        elif kind == "table":
            out += table(lines, INDENT)
        elif kind == "item":
            spaces, _, first = ITEM.match(lines[0]).groups()
            margin = INDENT + " " * len(spaces)
            out += fill(inline(join_lines([first] + lines[1:])), margin + "- ",
                        margin + LIST_INDENT)
            if n + 1 < len(found) and found[n + 1][0] == "item":
                continue  # the items of a list follow each other without a blank line
        elif kind == "quote":
            text = join_lines([re.sub(r"^\s*>\s?", "", line) for line in lines])
            out += fill(inline(text), INDENT * 2, INDENT * 2)
        else:
            out += fill(inline(join_lines(lines)), INDENT, INDENT)
        out.append("")
    while out and not out[-1]:
        out.pop()
    return "\n".join(out) + "\n"
