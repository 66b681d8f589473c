"""The tables of a Markdown document, each with the heading it stands under, and the text of
a section: what the document checks read their expectations from.

Only the plain pipe tables the project's documents use are read: a header row, a
delimiter row of dashes, then body rows, each line starting with "|". A "|" inside a
backtick span belongs to the cell. Cells are stripped of surrounding blanks and nothing
else, so a cell's text is exactly what the reader sees between the pipes.
"""
import re
from dataclasses import dataclass, field

DELIMITER = re.compile(r"^\|(\s*:?-+:?\s*\|)+\s*$")
HEADING = re.compile(r"^(#+)\s+(.*?)\s*$")


@dataclass
class Row:
    cells: tuple
    line: int  # 1-based line of the document


@dataclass
class Table:
    document: str
    section: str   # the text of the nearest heading above it
    header: tuple
    line: int
    rows: list = field(default_factory=list)

    def where(self):
        return "%s:%d (%s)" % (self.document, self.line, self.section)


def split_cells(line):
    """The cells of one table line; pipes inside backtick spans do not split."""
    cells, cell, in_code = [], [], False
    body = line.strip()
    if body.startswith("|"):
        body = body[1:]
    if body.endswith("|") and not body.endswith("\\|"):
        body = body[:-1]
    for char in body:
        if char == "`":
            in_code = not in_code
        if char == "|" and not in_code:
            cells.append("".join(cell).strip())
            cell = []
        else:
            cell.append(char)
    cells.append("".join(cell).strip())
    return tuple(cells)


def read_tables(document, text):
    """Every table of `text`, in order; `document` names it in messages."""
    tables, section = [], ""
    lines = text.splitlines()
    in_fence = False
    index = 0
    while index < len(lines):
        line = lines[index]
        if line.startswith("```"):
            in_fence = not in_fence
        heading = None if in_fence else HEADING.match(line)
        if heading:
            section = heading.group(2)
        if (not in_fence and line.startswith("|") and index + 1 < len(lines)
                and DELIMITER.match(lines[index + 1])):
            table = Table(document, section, split_cells(line), index + 1)
            index += 2
            while index < len(lines) and lines[index].startswith("|"):
                table.rows.append(Row(split_cells(lines[index]), index + 1))
                index += 1
            tables.append(table)
            continue
        index += 1
    return tables


def section_text(text, heading):
    """The text under the heading whose words are `heading`, up to the next heading."""
    out, inside = [], False
    for line in text.splitlines():
        match = HEADING.match(line)
        if match:
            if inside:
                break
            inside = match.group(2) == heading
            continue
        if inside:
            out.append(line)
    return "\n".join(out)


def code_spans(text):
    """The texts between backticks, in order."""
    return re.findall(r"`([^`]*)`", text)


# A number a reader takes as a count or an exit code: not part of a word, a hex number, a
# decimal fraction or a name ("gpu0", "0x1057EB71", "1.4", "SIM_ADLX_GPUS").
NUMBER = re.compile(r"(?<![\w.])\d+(?![\w.]|\.\d)")


def numbers(text):
    """The whole numbers of `text`, in order."""
    return [int(n) for n in NUMBER.findall(text)]
