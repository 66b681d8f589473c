"""Result lines as the documents write them, and as the programs print them.

A documented line is the text between backticks. In it, the vendor is written `V`, `…` or
the vendor word itself; a count written with letters (R, C, S, R+F) stands for any number,
one written in digits for exactly that number; a line that starts with "..." (or "…") is
the end of a line whose start is left out. Anywhere else, "…" stands for the vendor word
("Restauracao … incompleta").
"""
import re

VENDORS = {"nvidia": "NVIDIA", "amd": "AMD"}
PROGRAMS = {"nvidia": "preset-nvidia", "amd": "preset-amd"}
ELLIPSES = ("...", "\u2026")
FIELDS = re.compile(r"result=([a-z]+);vendor=([^;]*);supported=([^;]*);changed=([^;]*);"
                    r"message=(.*)")


class LineShape:
    """One documented line; `matches(program, data)` says whether a printed line is one."""

    def __init__(self, text):
        self.text = text.strip().strip("`")
        body = self.text
        self.tail = body.startswith(ELLIPSES)
        if self.tail:
            body = body.lstrip(".\u2026")
        self.body = body
        fields = FIELDS.fullmatch(body)
        self.fields = fields.groups() if fields else None
        if not self.tail and self.fields is None:
            raise ValueError("not a result line: %r" % text)

    def message(self):
        match = re.search(r"message=(.*)$", self.body)
        return match.group(1) if match else None

    def kind(self):
        return self.fields[0] if self.fields else None

    def pattern(self, program):
        vendor = VENDORS[program]
        out = []
        for piece in re.split(r"((?:supported|changed)=[^;]*|vendor=[^;]*)", self.body):
            name, eq, value = piece.partition("=")
            if name in ("supported", "changed") and eq and "message" not in value:
                out.append(re.escape(name + "=") + (re.escape(value) if value.isdigit()
                                                    else "(?:0|[1-9][0-9]*)"))
            elif name == "vendor" and eq and value in ("V", "\u2026", "...", vendor):
                out.append(re.escape("vendor=" + vendor))
            else:
                out.append(re.escape(piece.replace("\u2026", vendor)))
        return re.compile(("(?:.*)" if self.tail else "") + "".join(out) + "\r\n", re.S)

    def matches(self, program, data):
        try:
            text = data.decode("ascii")
        except (UnicodeDecodeError, AttributeError):
            return False
        if text.count("\n") != 1:
            return False
        return self.pattern(program).fullmatch(text) is not None

    def __repr__(self):
        return "LineShape(%r)" % self.text


def parse(data):
    """(kind, vendor, supported, changed, message) of one printed line, or None."""
    if not data.endswith(b"\r\n") or b"\n" in data[:-2]:
        return None
    try:
        fields = FIELDS.fullmatch(data[:-2].decode("ascii"))
    except UnicodeDecodeError:
        return None
    if not fields or not fields.group(3).isdigit() or not fields.group(4).isdigit():
        return None
    kind, vendor, supported, changed, message = fields.groups()
    return kind, vendor, int(supported), int(changed), message


def first_line(text):
    """The first documented result line in `text` (a table cell), or None."""
    for span in re.findall(r"`([^`]*)`", text):
        if span.startswith(("result=",) + ELLIPSES) and "message=" in span:
            return LineShape(span)
    return None
