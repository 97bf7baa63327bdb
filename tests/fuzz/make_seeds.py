#!/usr/bin/env python3
"""Writes the fuzzers' seed corpus (corpus/header, corpus/assemble).

The assembly seeds follow the input layout described in harness.h; each one starts the
fuzzer at a different kind of set. Run from this folder; the output is committed. Files in
corpus/ that this script does not write are inputs the fuzzers once flagged, kept so every
build replays them.
"""
import os

HERE = os.path.dirname(os.path.abspath(__file__))

BUILT, RAW, MISSING, FOLDER = 0, 1, 2, 3
TRUNCATE, LARGE = 4, 8


def built(payload, count=3, tail=b"bin", index=None, extra=0):
    """A part with a header built from fields; index None keeps the part's own position."""
    index_byte = 0x00 if index is None else 0xF0 + index
    count_byte = 0xFF if count == 999 else count
    return bytes([BUILT | extra, index_byte, count_byte]) + tail + bytes([len(payload)]) + payload


def raw(header, payload):
    return bytes([RAW]) + header + bytes([len(payload)]) + payload


def large(multiple, count=2, tail=b"bin"):
    return bytes([BUILT | LARGE, 0x00, count]) + tail + bytes([multiple])


def truncated(payload, keep, count=3):
    return built(payload, count=count, extra=TRUNCATE) + bytes([keep])


def assembly_set(flags, parts):
    return bytes([flags, len(parts)]) + b"".join(parts)


ASSEMBLE = {
    "valid_three_parts": assembly_set(
        0x00, [built(b"first "), built(b"second "), built(b"third")]),
    "valid_prefix_delete_yes": assembly_set(
        0x01 | 0x02, [built(b"alpha"), built(b"beta"), built(b"")]),
    "valid_large_blocks": assembly_set(0x01, [large(60), large(55)]),
    "missing_middle_existing_output": assembly_set(
        0x10, [built(b"a"), bytes([MISSING]), built(b"c")]),
    "folder_part_link_output": assembly_set(
        0x20, [built(b"a", count=2), bytes([FOLDER])]),
    "link_output_replaced": assembly_set(
        0x20 | 0x01, [built(b"linked ", count=2), built(b"data", count=2)]),
    "unsafe_tail_bare_names": assembly_set(0x08, [built(b"x", count=1, tail=b"a/b")]),
    "nul_tail": assembly_set(0x00, [built(b"x", count=1, tail=b"a\x00b")]),
    "raw_headers": assembly_set(
        0x00, [raw(b"SPLITKV000002 ..", b"raw"), raw(b"SPLITKV1  xyzabc", b"more")]),
    "truncated_part": assembly_set(0x10, [built(b"ok"), truncated(b"lost", 12), built(b"z")]),
    "output_is_part": assembly_set(
        0x01, [built(b"0", tail=b"001"), built(b"1", tail=b"001"), built(b"2", tail=b"001")]),
    "missing_output_folder": assembly_set(0x04, [built(b"data", count=1)]),
    "bare_prefix_dots": assembly_set(0x06 | 0x08, [built(b"dots", count=1, tail=b"...")]),
    "count_999": assembly_set(0x00, [built(b"a", count=999), built(b"b", count=999)]),
    "duplicate_index": assembly_set(
        0x10, [built(b"0"), built(b"1"), built(b"1", index=1)]),
    "chosen_second_file": assembly_set(
        0x40 | 0x01, [built(b"zero", count=1), built(b"chosen", count=1, index=0)]),
    "hard_link_output": assembly_set(0x80, [built(b"a", count=2), built(b"b", count=2)]),
    "output_is_part_spelt_otherwise": assembly_set(
        0x06 | 0x08, [built(b"0", tail=b"001"), built(b"1", tail=b"001"), built(b"2", tail=b"001")]),
    "high_bytes_tail": assembly_set(0x01, [built(b"\xfe\xff", count=1, tail=b"\xe9\x80\xff")]),
}

HEADER = {
    "golden": b"SPLITKV002005aviC:\\data\\movie.avi",
    "header_only": b"SPLITKV000003bin",
    "lower_case": b"splitkv000003bin/tmp/a.bin",
    "short": b"SPLIT",
    "signs_and_blanks": b"SPLITKV 1-02+x/../etc",
    "high_bytes": b"SPLITKV999999\xe9\x80\xff\xe9\x80\xff",
}


def write(folder, seeds):
    path = os.path.join(HERE, "corpus", folder)
    os.makedirs(path, exist_ok=True)
    for name, data in seeds.items():
        with open(os.path.join(path, name), "wb") as out:
            out.write(data)


write("assemble", ASSEMBLE)
write("header", HEADER)
