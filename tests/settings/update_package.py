#!/usr/bin/python3
"""Writes software-update packages (gzip-compressed tar archives) for the tests and by hand.

    update_package.py KIND OUT.vts [--program NAME] [--outside PATH] [--payload BYTES]

KIND is "full" (every kind of member), "only" (the program alone) or one of the damaged or
hostile kinds listed in HOSTILE. The program is named as the package without ".vts" unless
--program says otherwise; its content is "program <NAME>" (padded to --payload bytes).
--outside is the folder that hostile links and hard links point at.
"""
import argparse
import io
import os
import sys
import tarfile

HOSTILE = ["dotdot", "abs", "inner-dotdot", "link-root", "link-up", "through-link", "device",
           "hardlink-out", "truncated", "flipped", "noprogram", "subprogram", "badlib"]


def add(tar, name, data=b"", kind=tarfile.REGTYPE, linkname="", mode=0o644):
    info = tarfile.TarInfo(name)
    info.type = kind
    info.linkname = linkname
    info.mode = mode
    if kind == tarfile.CHRTYPE:
        info.devmajor, info.devminor = 1, 3
    info.size = len(data) if kind == tarfile.REGTYPE else 0
    tar.addfile(info, io.BytesIO(data) if kind == tarfile.REGTYPE else None)


def archive(members):
    buffer = io.BytesIO()
    with tarfile.open(fileobj=buffer, mode="w:gz", format=tarfile.GNU_FORMAT) as tar:
        for member in members:
            add(tar, *member)
    return buffer.getvalue()


def build(kind, program, outside, payload):
    body = b"program " + program.encode()
    body += os.urandom(max(0, payload - len(body)))
    members = [] if kind in ("noprogram", "subprogram") else [(program, body)]
    if kind == "full":
        members += [
            ("microscope_3_0_0", b"microscope 3.0.0"),
            ("Protocol_DEFAULT_NIMBO.ini", b"[Protocol]\nName=default new\n"),
            ("Protocol_Mine_NIMBO.ini", b"[Protocol]\nName=package copy\n"),
            ("ffmpeg", b"ffmpeg new" + os.urandom(max(0, payload // 4))),
            ("ffmpeg_lib1.tar.gz", archive([("libvantorav.so.1", b"library" + os.urandom(max(0, payload // 4)))])),
            ("sub/", b"", tarfile.DIRTYPE),
            ("sub/nested.txt", b"not placed"),
            ("License.txt", b"license text"),
        ]
    elif kind == "dotdot":
        members += [("../i35-evil", b"x")]
    elif kind == "abs":
        members += [(outside + "/i35-evil", b"x")]
    elif kind == "inner-dotdot":
        members += [("a/", b"", tarfile.DIRTYPE), ("a/../../i35-evil", b"x")]
    elif kind == "link-root":
        members += [("lnk", b"", tarfile.SYMTYPE, "/")]
    elif kind == "link-up":
        members += [("lnk", b"", tarfile.SYMTYPE, "../..")]
    elif kind == "through-link":
        members += [("lnk", b"", tarfile.SYMTYPE, outside), ("lnk/i35-evil", b"x")]
    elif kind == "device":
        members += [("null", b"", tarfile.CHRTYPE)]
    elif kind == "hardlink-out":
        members += [("hard", b"", tarfile.LNKTYPE, outside + "/victim")]
    elif kind == "noprogram":
        members += [("License.txt", b"license text")]
    elif kind == "subprogram":
        members += [("sub/", b"", tarfile.DIRTYPE), ("sub/" + program, body)]
    elif kind == "badlib":
        members += [("ffmpeg_lib1.tar.gz", archive([("../i35-evil", b"x")]))]
    data = archive(members)
    if kind == "truncated":
        data = data[: len(data) // 2]
    elif kind == "flipped":
        middle = len(data) // 2
        data = data[:middle] + bytes([data[middle] ^ 0xFF]) + data[middle + 1:]
    return data


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("kind", choices=["full", "only"] + HOSTILE)
    parser.add_argument("out")
    parser.add_argument("--program")
    parser.add_argument("--outside", default="/tmp")
    parser.add_argument("--payload", type=int, default=0)
    args = parser.parse_args()
    name = os.path.basename(args.out)
    program = args.program or (name[:-4] if name.lower().endswith(".vts") else name)
    with open(args.out, "wb") as out:
        out.write(build(args.kind, program, args.outside, args.payload))
    return 0


if __name__ == "__main__":
    sys.exit(main())
