"""What the simulated drivers hold before a scenario starts, and the files the programs
write or that others put at a backup path: the expected values are written out here, not
taken from the programs.
"""

# -- the simulated drivers' starting state ----------------------------------------------------

# preset-nvidia's 13 settings (id, preset value, lowest preset) and a base profile in which
# every one differs from its preset value, 0x0064B541 is absent, and one setting the
# program never manages stands by.
NV_TABLE = [
    (0x1057EB71, 0x00000001, 1), (0x0064B541, 0x00000001, 1), (0x00CE2691, 0x00000014, 1),
    (0x00198FFF, 0x00000001, 1), (0x00AC8497, 0xFFFFFFFF, 1), (0x10835002, 0x00000000, 1),
    (0x107EFC5B, 0x00000000, 1), (0x10D2BB16, 0x00000000, 1), (0x00A879CF, 0x08416747, 2),
    (0x20FDD1F9, 0x00000000, 2), (0x00E73211, 0x00000001, 3), (0x0084CD70, 0x00000001, 3),
    (0x002ECAF2, 0x00000001, 3),
]
NV_ORIGINAL = {
    0x1057EB71: 0x00000000, 0x00CE2691: 0x0000003C, 0x00198FFF: 0x00000000,
    0x00AC8497: 0x00000002, 0x10835002: 0x00000001, 0x107EFC5B: 0x00000001,
    0x10D2BB16: 0x00000005, 0x00A879CF: 0x00000000, 0x20FDD1F9: 0x00000001,
    0x00E73211: 0x00000000, 0x0084CD70: 0x00000000, 0x002ECAF2: 0x00000000,
    0x10F9DC81: 0x00000011,
}
# What a new driver might start with: every managed setting present, none at its original.
NV_NEW_DRIVER = {sid: 0x00000007 for sid, _, _ in NV_TABLE}

AMD_GLOBALS = ["rsr", "afmf"]
AMD_PER_GPU = ["chill", "boost", "frtc", "sharpening", "mlaa", "aa-mode", "anisotropic",
               "tessellation-mode", "enhanced-sync", "vsync-mode", "fsr", "frame-generation"]
AMD_MODES = {"aa-mode", "tessellation-mode", "vsync-mode"}


def amd_values(gpus, switch=1, mode=3, **by_name):
    """A full AMD state: switches `switch`, modes `mode`, names in `by_name` (with "_" for
    "-") as given."""
    named = {k.replace("_", "-"): v for k, v in by_name.items()}
    values = {name: named.get(name, switch) for name in AMD_GLOBALS}
    for gpu in range(gpus):
        for name in AMD_PER_GPU:
            values["gpu%d.%s" % (gpu, name)] = named.get(
                name, mode if name in AMD_MODES else switch)
    return values


def amd_gamer_values(gpus):
    """The values `apply gamer` leaves: every setting 0 but vsync-mode 1, and enhanced-sync
    (which gamer leaves alone) on."""
    return amd_values(gpus, switch=0, mode=0, vsync_mode=1, enhanced_sync=1)


# -- backups as the programs write them ------------------------------------------------------

def backup_bytes(vendor, entries):
    text = "format=1\r\nvendor=%s\r\n" % vendor
    for key in sorted(entries, key=lambda k: k.encode()):
        text += "%s=%s\r\n" % (key, entries[key])
    return text.encode()


def nv_backup(level=1):
    entries = {}
    for sid, _, lowest in NV_TABLE:
        if lowest <= level:
            value = NV_ORIGINAL.get(sid)
            entries["setting.0x%08X" % sid] = ("missing" if value is None
                                               else "value:0x%08X" % value)
    return backup_bytes("nvidia", entries)


AMD_IDS = ["7", "-2"]


def amd_backup(level=1, ids=AMD_IDS):
    names = [n for n in AMD_PER_GPU if level > 1 or n != "enhanced-sync"]
    entries = {"global.rsr": "1", "global.afmf": "1"}
    for gpu in ids:
        for name in names:
            entries["gpu.%s.%s" % (gpu, name)] = "3" if name in AMD_MODES else "1"
    return backup_bytes("amd", entries)


BIG = 2 * 1024 * 1024  # over the 1 MiB a backup may have
PADDING_LINE = 64  # bytes of each padding entry, its line end included


def padding(count, end=b"\r\n"):
    """`count` entries of another program's that the programs carry along, each ending in
    `end`."""
    value = b"x" * (PADDING_LINE - len(b"zz.padding.0000000=") - len(end))
    return b"".join(b"zz.padding.%07d=%s%s" % (n, value, end) for n in range(count))


def padded_past_big(head):
    """`head`, a readable backup, padded past 2 MiB."""
    return head + padding((BIG - len(head) + PADDING_LINE - 1) // PADDING_LINE)


def big_backup(vendor):
    return padded_past_big(nv_backup() if vendor == "nvidia" else amd_backup())


PLANTED_TMP = b"left behind by an earlier run\r\n"
DIRECTORY_CONTENT = b"keep"
VICTIM_TEXT = b"not the programs' file: must stay exactly as it is\r\n"
SECRETS = b"secret.password=hunter2\r\nsecret.token=0x5EC2E7\r\n"


def victim_bytes(vendor, victim):
    gamer = nv_backup() if vendor == "nvidia" else amd_backup()
    header = b"format=1\r\nvendor=%s\r\n" % vendor.encode()
    return {"text": VICTIM_TEXT, "backup": gamer, "secrets": header + SECRETS,
            "absent": None, "big": big_backup(vendor),
            "hosts": b"# hosts\r\n127.0.0.1 localhost\r\n",
            "empty": b""}[victim]


