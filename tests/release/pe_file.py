"""Reads what the release tests check in a Windows PE image, with the standard library
only: the COFF header, the DLL characteristics, the sections, the resource tree and the
version resource (VS_VERSIONINFO with its fixed part, its StringFileInfo strings and its
VarFileInfo translations)."""
import struct

RT_VERSION = 16
RT_MANIFEST = 24
FIXED_SIGNATURE = 0xFEEF04BD


class PeError(Exception):
    pass


class PeImage:
    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ":
            raise PeError("no MZ header")
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise PeError("no PE signature")
        coff = pe + 4
        (self.machine, sections, self.timestamp, self.symbol_table, self.symbol_count,
         optional_size, self.characteristics) = struct.unpack_from("<HHIIIHH", data, coff)
        optional = coff + 20
        magic = struct.unpack_from("<H", data, optional)[0]
        # At the same place in the 32-bit and the 64-bit optional header.
        self.dll_characteristics = struct.unpack_from("<H", data, optional + 70)[0]
        if magic == 0x20B:
            directories_at = optional + 112
        elif magic == 0x10B:
            directories_at = optional + 96
        else:
            raise PeError("unknown optional header magic 0x%x" % magic)
        count = struct.unpack_from("<I", data, directories_at - 4)[0]
        self.directories = [struct.unpack_from("<II", data, directories_at + 8 * i)
                            for i in range(count)]
        self.sections = []
        for i in range(sections):
            at = optional + optional_size + 40 * i
            name, vsize, rva, raw_size, raw_at = struct.unpack_from("<8sIIII", data, at)
            self.sections.append((name.rstrip(b"\0").decode("ascii"), rva, vsize, raw_at,
                                  raw_size))

    def section_names(self):
        return [s[0] for s in self.sections]

    def offset(self, rva):
        """The file offset of a relative virtual address."""
        for _, start, vsize, raw_at, raw_size in self.sections:
            if start <= rva < start + max(vsize, raw_size):
                return raw_at + rva - start
        raise PeError("address 0x%x lies in no section" % rva)

    def resources(self):
        """The resource tree as nested dicts: type id -> name id -> language id -> bytes.
        An entry named by a string is keyed by that string."""
        rva, size = self.directories[2]
        if not size:
            raise PeError("no resource directory")
        base = self.offset(rva)

        def directory(at, depth):
            named, ids = struct.unpack_from("<HH", self.data, base + at + 12)
            tree = {}
            for i in range(named + ids):
                key, child = struct.unpack_from("<II", self.data, base + at + 16 + 8 * i)
                if key & 0x80000000:
                    name_at = base + (key & 0x7FFFFFFF)
                    length = struct.unpack_from("<H", self.data, name_at)[0]
                    key = self.data[name_at + 2:name_at + 2 + 2 * length].decode("utf-16-le")
                is_directory = bool(child & 0x80000000)
                if is_directory != (depth < 2):
                    raise PeError("resource tree has an unexpected shape at level %d" % depth)
                if is_directory:
                    tree[key] = directory(child & 0x7FFFFFFF, depth + 1)
                else:
                    data_rva, data_size = struct.unpack_from("<II", self.data, base + child)
                    start = self.offset(data_rva)
                    tree[key] = self.data[start:start + data_size]
            return tree

        return directory(0, 0)

    def resource(self, path):
        """The bytes of the resource at `path` (ids of type, name, language; None takes
        the first entry of a level)."""
        node = self.resources()
        for level, wanted in enumerate(path):
            if not isinstance(node, dict):
                raise PeError("resource path %r goes below a leaf" % (path,))
            if wanted is None and node:
                wanted = next(iter(node))
            if wanted not in node:
                raise PeError("no resource %r at level %d" % (wanted, level))
            node = node[wanted]
        if not isinstance(node, bytes):
            raise PeError("resource path %r ends at a directory" % (path,))
        return node


def _align4(n):
    return (n + 3) & ~3


def _block(data, at):
    """One node of the version tree: (key, value bytes, value type, children, end)."""
    length, value_length, value_type = struct.unpack_from("<HHH", data, at)
    if length < 6 or at + length > len(data):
        raise PeError("version block at %d has length %d" % (at, length))
    end = at + length
    key_at = at + 6
    key_end = key_at
    while data[key_end:key_end + 2] != b"\0\0":
        key_end += 2
    key = data[key_at:key_end].decode("utf-16-le")
    value_at = _align4(key_end + 2)
    # The value length counts 16-bit characters for text, bytes for binary values.
    value_bytes = value_length * 2 if value_type == 1 else value_length
    value = data[value_at:value_at + value_bytes]
    children = []
    child = _align4(value_at + value_bytes)
    while child < end:
        node = _block(data, child)
        children.append(node)
        child = _align4(node[4])
    return key, value, value_type, children, end


def _text(value):
    text = value.decode("utf-16-le")
    if not text.endswith("\0"):
        raise PeError("version string %r is not terminated" % text)
    return text[:-1]


def version_info(image):
    """The version resource as a dict: "fixed" (the numbers of VS_FIXEDFILEINFO),
    "strings" (table key -> {name: text}) and "translations" (list of (language, code page))."""
    data = image.resource([RT_VERSION, 1, None])
    key, value, _, children, _ = _block(data, 0)
    if key != "VS_VERSION_INFO":
        raise PeError("root key is %r" % key)
    fields = struct.unpack_from("<13I", value)
    if fields[0] != FIXED_SIGNATURE:
        raise PeError("fixed file info signature 0x%x" % fields[0])
    names = ("signature", "struct_version", "file_ms", "file_ls", "product_ms", "product_ls",
             "flags_mask", "flags", "os", "type", "subtype", "date_ms", "date_ls")
    result = {"fixed": dict(zip(names, fields)), "strings": {}, "translations": []}
    for child_key, _, _, grandchildren, _ in children:
        if child_key == "StringFileInfo":
            for table_key, _, _, strings, _ in grandchildren:
                result["strings"][table_key] = {k: _text(v) for k, v, _, _, _ in strings}
        elif child_key == "VarFileInfo":
            for var_key, var_value, _, _, _ in grandchildren:
                if var_key == "Translation":
                    words = struct.unpack("<%dH" % (len(var_value) // 2), var_value)
                    result["translations"] += list(zip(words[0::2], words[1::2]))
    return result
