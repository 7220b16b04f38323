#!/usr/bin/env python3
"""Writes the seed corpus of the fuzz targets into tests/fuzz/corpus/<target>/.

One small file per case worth starting from, named after it. The byte layouts
are the ones described at the top of registry_reader_fuzzer.cpp and
service_config_fuzzer.cpp. Run it again after changing a layout, and commit
what it wrote.
"""
import pathlib
import shutil
import struct

HERE = pathlib.Path(__file__).resolve().parent


def u8(n):
    return struct.pack("<B", n)


def u16(n):
    return struct.pack("<H", n)


def u32(n):
    return struct.pack("<I", n)


# ---- registry reader: type, flags, error, bytes ----------------------------

CP932, READREGVALUE, MISSING, FAIL_OPEN, FAIL_PROBE, FAIL_READ = 1, 2, 4, 8, 16, 32
BEFORE_TEXT, BEFORE_INTEGER, BEFORE_BYTES = 1 << 6, 2 << 6, 3 << 6


def registry(type_, flags=0, data=b"", error=0):
    head = u8(type_) if type_ < 0xF0 else u8(0xF0) + u32(type_)
    return head + u8(flags) + u8(error) + data


REGISTRY = {
    "sz-terminated": registry(1, READREGVALUE, b"C:\\FQ\\fq.exe\0"),
    "sz-without-terminator": registry(1, BEFORE_TEXT, b"abc"),
    "sz-zero-bytes": registry(1, BEFORE_INTEGER),
    "expand-sz-odd-length": registry(2, 0, b"%\0S\0y\0"),
    "multi-sz": registry(7, READREGVALUE, b"a\0b\0\0"),
    "sz-cp932": registry(1, CP932 | READREGVALUE, bytes([0x82, 0xA0, 0x93, 0xFA, 0])),
    "sz-cp932-cut-lead-byte": registry(1, CP932, bytes([0x41, 0x82, 0xA0, 0x93])),
    "dword": registry(4, READREGVALUE, u32(0x12345678)),
    "dword-big-endian-short": registry(5, 0, bytes([0x34, 0x12])),
    "dword-eight-bytes": registry(4, BEFORE_INTEGER, bytes(range(1, 9))),
    "binary-empty": registry(3, BEFORE_BYTES),
    "binary-2kib": registry(3, READREGVALUE, bytes(i % 251 for i in range(2048))),
    "qword-unsupported": registry(11, BEFORE_TEXT, u32(1) + u32(0)),
    "link-unsupported": registry(6, READREGVALUE, b"x\0"),
    "type-beyond-range": registry(0x12345678, BEFORE_TEXT, b"abc\0"),
    "value-missing": registry(1, MISSING | BEFORE_TEXT),
    "key-open-fails": registry(1, FAIL_OPEN | READREGVALUE, b"abc\0"),
    "probe-fails": registry(3, FAIL_PROBE | BEFORE_BYTES, b"\1\2", error=1),
    "read-fails-text": registry(2, FAIL_READ | BEFORE_INTEGER, b"abc\0", error=0),
    "read-fails-dword": registry(4, FAIL_READ | BEFORE_INTEGER, u32(5), error=3),
}

# ---- service configuration record ------------------------------------------

S_CP932, S_FAIL_MANAGER, S_FAIL_SERVICE, S_FAIL_STATUS = 1, 2, 4, 8
S_FAIL_PROBE, S_FAIL_READ, S_PAD = 16, 32, 64
RECORD_SIZE = 64  # QUERY_SERVICE_CONFIGA on x86-64, where the stand-in runs
# Pointer modes: LEAVE the record's bytes, AT n, BEFORE_END n, PAST_END n,
# WITHIN n % (size + 1), HUGE 1 MiB + n.
LEAVE, AT, BEFORE_END, PAST_END, WITHIN, HUGE = range(6)
# Reported size modes.
EXACT, GIVEN, MORE, LESS, LIMIT = range(5)


def record(start_type=3, strings=()):
    """A record laid out as the manager lays it out, and the offsets of its strings."""
    body = u32(0x10) + u32(start_type) + u32(1) + bytes(RECORD_SIZE - 12)
    offsets = []
    for text in strings:
        offsets.append(len(body))
        body += text
    return body, offsets


def service(record_bytes, pointers=(), needed=(EXACT, 0), flags=0, error=0, state=1,
            filler=(0, 0)):
    fields = list(pointers) + [(LEAVE, 0)] * (5 - len(pointers))
    head = u8(flags) + u8(error) + u32(state)
    for mode, n in fields:
        head += u8(mode) + u32(n)
    head += u8(needed[0]) + u32(needed[1]) + u16(filler[0]) + u8(filler[1])
    return head + record_bytes


def well_formed():
    body, at = record(2, [b"C:\\FQ\\fq.exe\0", b"\0", b"\0\0", b"LocalSystem\0", b"FQ\0"])
    return body, [(AT, offset) for offset in at]


UNTERMINATED, _ = record(3, [b"C:\\end"])
SPACED, SPACED_AT = record(3, [b"   C:\\Program Files\\FQ\\fq.exe -service\t  \0"])
CP932_PATH, _ = record(3, [b"C:\\" + bytes([0x82, 0xA0, 0x93])])

SERVICE = {
    "well-formed-running": service(well_formed()[0], well_formed()[1], state=4),
    "path-unterminated-at-end": service(UNTERMINATED, [(AT, RECORD_SIZE)]),
    "path-at-the-end": service(UNTERMINATED, [(BEFORE_END, 0)]),
    "path-past-the-end": service(UNTERMINATED, [(PAST_END, 9)]),
    "path-a-megabyte-away": service(UNTERMINATED, [(HUGE, 0)]),
    "path-into-the-record": service(UNTERMINATED, [(AT, 4)]),
    "path-with-spaces": service(SPACED, [(AT, SPACED_AT[0])], state=7),
    "path-cp932-cut-lead-byte": service(CP932_PATH, [(AT, RECORD_SIZE)], flags=S_CP932),
    "size-huge": service(UNTERMINATED, [(AT, RECORD_SIZE)], needed=(GIVEN, 0xFFFFFFFF)),
    "size-at-the-limit": service(UNTERMINATED, [(AT, RECORD_SIZE)], needed=(LIMIT, 1),
                                 flags=S_PAD, filler=(8000, ord("p"))),
    "size-past-the-limit": service(UNTERMINATED, [(AT, RECORD_SIZE)], needed=(LIMIT, 2),
                                   flags=S_PAD, filler=(8000, ord("p"))),
    "size-larger-than-record": service(UNTERMINATED, [(AT, RECORD_SIZE)], needed=(MORE, 40)),
    "size-smaller-than-record": service(UNTERMINATED, [(AT, RECORD_SIZE)], needed=(LESS, 3)),
    "record-shorter-than-its-pointers": service(bytes(10), [(AT, 4), (AT, 8)]),
    "record-empty": service(b"", [(AT, 0)]),
    "probe-fails-insufficient-buffer": service(UNTERMINATED, [(AT, RECORD_SIZE)],
                                               flags=S_FAIL_PROBE, error=1),
    "read-fails": service(UNTERMINATED, [(AT, RECORD_SIZE)], flags=S_FAIL_READ),
    "status-fails": service(UNTERMINATED, flags=S_FAIL_STATUS, state=4),
    "manager-fails": service(UNTERMINATED, flags=S_FAIL_MANAGER | S_FAIL_SERVICE),
}


def write(target, cases):
    directory = HERE / "corpus" / target
    shutil.rmtree(directory, ignore_errors=True)
    directory.mkdir(parents=True)
    for name, data in cases.items():
        (directory / name).write_bytes(data)


if __name__ == "__main__":
    write("registry_reader", REGISTRY)
    write("service_config", SERVICE)
