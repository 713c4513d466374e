#!/usr/bin/env python3
"""Writes the starting inputs of fuzz/corpus/ (run from anywhere; idempotent).

Each target reads its parameters from the end of its input with libFuzzer's
FuzzedDataProvider (integers are taken from the last bytes first) and the
rest as the file text or the message block. A starting input is therefore a real
settings file or a real broadcast record followed by a short tail of
parameters, built here field by field in the order the target takes them.
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def tail(fields):
    """fields: (byte count, value) in the order the target consumes them."""
    out = b""
    for size, value in reversed(fields):
        out += (value % (1 << (8 * size))).to_bytes(size, "little")
    return out


def write(target, name, data):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


# --- settings files ----------------------------------------------------------------

FIRST_SAVE = (
    b"[BVX]\r\nDefault=1\r\nWaitFor=10\r\nOpenShortCut=49371\r\nCloseShortCut=49373\r\n"
    b"\r\n"
    b"[ShortCuts]\r\nOpenShortCut1=49371\r\nCloseShortCut1=49373\r\nOpenShortCut2=0\r\n"
    b"CloseShortCut2=0\r\n"
    b"\r\n"
    b"[Track]\r\nDoTrack1=1\r\nDoTrack2=1\r\n"
)

HAND_EDITED = (
    b"\xef\xbb\xbf; Brimvex settings\r\n"
    b"\r\n"
    b"[Window]\r\n"
    b"Left = 10\r\n"
    b"\r\n"
    b"[ bvx ]\r\n"
    b"default =  2\r\n"
    b"; the wait\r\n"
    b"WaitFor=$1E\r\n"
    b"Unknown=keep me\r\n"
    b"\r\n"
    b"[ShortCuts]\r\n"
    b"OpenShortCut1=49371\r\n"
    b"OpenShortCut3=1234\r\n"
    b"CloseShortCut3=4321\r\n"
    b"\r\n"
    b"[Track]\r\n"
    b"DoTrack3=0\r\n"
    b"  DoTrack1 = 0\r\n"
    b"\r\n"
    b"; trailing comment\r\n"
)

UNIX_HEX_QUOTES = (
    b"[BVX]\nDefault = $2\nWaitFor=0x1E\nOpenShortCut=\"49371\"\nCloseShortCut='0xC0DD'\n"
    b"[Track]\nDoTrack1=true\nDoTrack2=2\nDoTrack3=0"
)

TWENTY_SIX = b"[BVX]\r\nDefault=26\r\nWaitFor=2147483647\r\n[ShortCuts]\r\n" + b"".join(
    b"OpenShortCut%d=%d\r\nCloseShortCut%d=%d\r\n" % (n, 0x4040 + n, n, 0x8040 + n) for n in range(1, 27)
) + b"[Track]\r\n" + b"".join(b"DoTrack%d=%d\r\n" % (n, n % 2) for n in range(1, 27))

BROKEN = (
    b"key before any section=1\n"
    b"[BVX\n"
    b"Default=3\n"
    b"[BVX] trailing words\n"
    b"Default = -3\n"
    b"WaitFor=\n"
    b"OpenShortCut=65536\n"
    b"no equals sign\n"
    b"[bvx]\n"
    b"Default=2\n"
    b"[ShortCuts]\r"
    b"OpenShortCut1=1\r"
    b"[Track]\n"
    b"DoTrack1 = 0x\n"
    b"DoTrack2=-0\n"
    b"=empty name\n"
    b"[]\n"
    b"x=1\n"
)

# As Notepad's "Unicode" saves them: UTF-16 with a byte-order mark.
HAND_EDITED_UTF16 = ("\ufeff; \u041d\u0430\u0441\u0442\u0440\u043e\u0439\u043a\u0438 \U0001f4bf\r\n"
                     + HAND_EDITED.decode("utf-8").lstrip("\ufeff")).encode("utf-16-le")
FIRST_SAVE_UTF16_BE = ("\ufeff" + FIRST_SAVE.decode("ascii")).encode("utf-16-be")

FILES = {
    "first_save": FIRST_SAVE,
    "hand_edited": HAND_EDITED,
    "unix_hex_quotes": UNIX_HEX_QUOTES,
    "twenty_six": TWENTY_SIX,
    "broken": BROKEN,
    "empty": b"",
    "bom_only": b"\xef\xbb\xbf",
    "hand_edited_utf16": HAND_EDITED_UTF16,
    "first_save_utf16_be": FIRST_SAVE_UTF16_BE,
}


# --- ini: [op count] then per op (section, key, value choices, as_integer) ----------


def choice(kind, index=0, bits=0):
    return [(1, kind), (1, index), (8, bits)]


def op(section, key, value, as_integer=0):
    return section + key + value + [(1, as_integer)]


INI_OPS = [
    # BVX/Default = 2; ShortCuts/OpenShortCut1 = an existing value; a new section.
    op(choice(0, 0), choice(0, 0), choice(0, 0, 2), 1),
    op(choice(0, 1), choice(0, 4), choice(1, 3)),
    op(choice(0, 5), choice(0, 8), choice(0, 0, 49371), 1),
]
for name, text in FILES.items():
    fields = [(1, len(INI_OPS))]
    for o in INI_OPS:
        fields += o
    write("ini", name, text + tail(fields))
    # Without a tail (the last byte is taken as an op count) a UTF-16 file
    # keeps its even length and is read whole.
    write("ini", name + "_read_only", text if "utf16" in name else text + tail([(1, 0)]))


# --- settings: drive count, start default, file present, save parameters -------------


def settings_tail(count, position, wait, pairs, flags, keep_share, fail_at, start=1, exists=1):
    return tail([
        (1, count),                # 0..26
        (1, 1),                    # the default drive before the load
        (1, exists),               # 0 of 8: no file
        (1, position + 1),         # -1..27
        (4, wait - (-(1 << 31))),  # int32
        (1, pairs),                # drives in the save
        (1, flags),                # track flags given
        (8, start),
        (1, keep_share),           # of 4: values kept as loaded
        (2, fail_at),              # the key a failing save stops at
    ])


write("settings", "first_save", FIRST_SAVE + settings_tail(2, 1, 10, 2, 2, 4, 3))
write("settings", "hand_edited", HAND_EDITED + settings_tail(3, 2, 20, 3, 1, 2, 5))
write("settings", "unix_hex_quotes", UNIX_HEX_QUOTES + settings_tail(3, 0, -5, 3, 3, 0, 1))
write("settings", "twenty_six", TWENTY_SIX + settings_tail(26, 26, 15, 26, 26, 1, 80))
write("settings", "broken", BROKEN + settings_tail(2, 27, 0, 2, 0, 3, 2))
write("settings", "hand_edited_utf16", HAND_EDITED_UTF16 + settings_tail(3, 2, 20, 3, 1, 2, 5))
write("settings", "first_save_utf16_be", FIRST_SAVE_UTF16_BE + settings_tail(2, 1, 10, 2, 2, 4, 3))
write("settings", "no_file", settings_tail(2, 1, 10, 2, 2, 4, 9, exists=0))


# --- device_change: event, drives, discs, alignment, null; then the block ------------

ARRIVAL, QUERY_REMOVE, REMOVE_COMPLETE = 0x8000, 0x8001, 0x8004
D, E = 1 << 3, 1 << 4


def volume(mask, flags=1, size=18, padded=False):
    record = struct.pack("<IIIIH", size, 2, 0, mask, flags)
    return record + (b"\0\0" if padded else b"")


def dc_tail(event, drives=D | E, discs=E, offset=0, null=1):
    fields = [(1, {ARRIVAL: 0, REMOVE_COMPLETE: 1, QUERY_REMOVE: 2}.get(event, 200))]
    if event not in (ARRIVAL, REMOVE_COMPLETE, QUERY_REMOVE):
        fields.append((4, event))
    fields += [(4, drives), (4, discs), (1, offset), (1, null)]
    return tail(fields)


# A port (type 3) with its name, and a device interface (type 5) with a class GUID and a name.
PORT = struct.pack("<III", 12 + 5, 3, 0) + b"COM1\0"
INTERFACE = struct.pack("<III", 12 + 16 + 8, 5, 0) + bytes(range(16)) + "USB\0".encode("utf-16-le")

DC = {
    "arrival_d": volume(D) + dc_tail(ARRIVAL),
    "removal_e": volume(E) + dc_tail(REMOVE_COMPLETE),
    "query_remove_e": volume(E) + dc_tail(QUERY_REMOVE),
    "arrival_two_drives": volume(D | E) + dc_tail(ARRIVAL, offset=1),
    "aligned_twenty_bytes": volume(D, size=20, padded=True) + dc_tail(ARRIVAL, offset=3),
    "no_media_flag": volume(E, flags=0) + dc_tail(REMOVE_COMPLETE),
    "network_flag_only": volume(E, flags=2) + dc_tail(ARRIVAL),
    "short_declared": volume(D, size=12) + dc_tail(ARRIVAL, offset=2),
    "header_only": struct.pack("<III", 12, 2, 0) + dc_tail(ARRIVAL),
    "port": PORT + dc_tail(ARRIVAL),
    "interface": INTERFACE + dc_tail(REMOVE_COMPLETE),
    "devnodes_changed": struct.pack("<I", 4) + dc_tail(0x0007),
    "overstated_size": volume(D, size=0x7FFFFFFF) + dc_tail(ARRIVAL),
    # DBT_MONITORCHANGE carries no pointer: the record beside it must never be read.
    "record_with_pointerless_event": volume(E) + dc_tail(0x001B),
}
for name, data in DC.items():
    write("device_change", name, data)
