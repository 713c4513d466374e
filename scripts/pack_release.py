#!/usr/bin/env python3
"""Writes the release zip: BVX.exe, README.txt and LICENSE, byte for byte the
same for the same inputs.

  pack_release.py EXE README.md LICENSE EPOCH OUT.zip

EPOCH (seconds since 1970, UTC; the commit's date) is every member's time.
The members come in a fixed order with fixed permissions. README.txt is the
README's user part: the text before its first "## " heading and the sections
named in USER_SECTIONS, as plain text in UTF-8 with a BOM and CRLF line ends,
so that Notepad shows the Russian texts; LICENSE gets CRLF line ends too.
"""

import re
import sys
import time
import zipfile

USER_SECTIONS = ("Settings", "Removing Brimvex")


def sections(markdown):
    """The text before the first "## " heading, and {title: body} of the rest."""
    parts = re.split(r"^## (.+)\n", markdown, flags=re.M)
    return parts[0], dict(zip(parts[1::2], parts[2::2]))


def plain(markdown):
    text = re.sub(r"\[([^\]]+)\]\([^)]+\)", r"\1", markdown)  # links: their text
    text = text.replace("`", "")
    return re.sub(r"^# (.+)$", lambda m: m.group(1) + "\n" + "=" * len(m.group(1)), text,
                  flags=re.M)


def user_readme(markdown):
    head, rest = sections(markdown)
    missing = [s for s in USER_SECTIONS if s not in rest]
    if missing:
        sys.exit("pack_release: README.md has no section " + ", ".join(missing))
    parts = [plain(head).strip()]
    for title in USER_SECTIONS:
        parts.append(title + "\n" + "-" * len(title) + "\n\n" + plain(rest[title]).strip())
    return "\n\n".join(parts) + "\n"


def windows_text(text, bom):
    data = text.replace("\r\n", "\n").replace("\n", "\r\n").encode("utf-8")
    return (b"\xef\xbb\xbf" if bom else b"") + data


def member(name, data, epoch, mode):
    # a zip time has no time zone: it holds the commit's UTC time (from 1980 on)
    info = zipfile.ZipInfo(name, date_time=time.gmtime(max(epoch, 315532800))[:6])
    info.compress_type = zipfile.ZIP_DEFLATED
    info.create_system = 3  # Unix, so that the permissions below are read as such
    info.external_attr = (0o100000 | mode) << 16
    return info, data


def main(argv):
    if len(argv) != 6:
        sys.exit(__doc__)
    exe, readme, licence, epoch, out = argv[1], argv[2], argv[3], int(argv[4]), argv[5]
    with open(exe, "rb") as f:
        exe_data = f.read()
    with open(readme, encoding="utf-8") as f:
        readme_text = user_readme(f.read())
    with open(licence, encoding="utf-8") as f:
        licence_text = f.read()
    members = [
        member("BVX.exe", exe_data, epoch, 0o755),
        member("README.txt", windows_text(readme_text, bom=True), epoch, 0o644),
        member("LICENSE", windows_text(licence_text, bom=False), epoch, 0o644),
    ]
    with zipfile.ZipFile(out, "w") as z:
        for info, data in members:
            z.writestr(info, data, compresslevel=9)


if __name__ == "__main__":
    main(sys.argv)
