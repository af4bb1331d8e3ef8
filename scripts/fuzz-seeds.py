#!/usr/bin/env python3
"""Writes the seed corpus of the fuzz targets into tests/fuzz/corpus/<target>/ (run once; the files are kept).

Compressed seeds come from Debian's gzip and compress, so they are what real discs hold. Each
decoder seed starts with one byte that picks the chunk size of the streaming pass, followed by the
file without its two magic bytes (the targets put the magic back).
"""
import os
import random
import struct
import subprocess
import zlib

HERE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "fuzz")
rng = random.Random(20261206)

payloads = {
    "empty": b"",
    "one": b"a",
    "run": b"a" * 5000,
    "text": b"DICM patient study series image " * 40,
    "noise": bytes(rng.getrandbits(8) for _ in range(3000)),
    "mixed": bytes(rng.choice(b"ABCD\x00\x01") for _ in range(6000)),
}


def write(target, name, data):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def run(command, data):
    return subprocess.run(command, input=data, stdout=subprocess.PIPE, check=True).stdout


def gzip_header_with_all_fields(payload):
    # FTEXT | FHCRC | FEXTRA | FNAME | FCOMMENT, as few writers produce them
    header = b"\x1f\x8b\x08\x1f" + struct.pack("<I", 0) + b"\x00\x03"
    header += struct.pack("<H", 4) + b"ab\x00\x00" + b"name.dcm\x00" + b"comment\x00"
    header += struct.pack("<H", zlib.crc32(header) & 0xFFFF)
    deflate = zlib.compressobj(6, zlib.DEFLATED, -15)
    body = deflate.compress(payload) + deflate.flush()
    return header + body + struct.pack("<II", zlib.crc32(payload), len(payload))


for name, payload in payloads.items():
    chunk = bytes([rng.randrange(256)])
    for level in ("-1", "-9"):
        write("gzip", f"{name}{level}", chunk + run(["gzip", "-c", "-n", level], payload)[2:])
    for bits in ("-b10", "-b13", "-b16"):
        z = run(["compress", "-c", "-f", bits], payload)
        write("lzw", f"{name}{bits}", chunk + z[2:])
    write("gzip", f"{name}-fields", chunk + gzip_header_with_all_fields(payload)[2:])

two = run(["gzip", "-c", "-n"], b"first member ") + run(["gzip", "-c", "-n"], b"second member")
write("gzip", "two-members", b"\x07" + two[2:])
write("gzip", "trailing-garbage", b"\x03" + two[2:] + b"\x00\x00garbage")
write("gzip", "truncated", b"\x05" + run(["gzip", "-c", "-n"], payloads["text"])[2:-7])

containers = {
    "plain": b"AUP HEADER v1 patient=Muster\x00\x00\x00\x00DICMdata\x01\x02#*lastfile*#trailer",
    "no-zero": b"AUP HEADER #*lastfile*# no dicom",
    "marker-in-header": b"AUP #*lastfile*# head\x00DICM#*lastfile*#",
    "no-marker": b"AUP\x00DICM but no end",
    "partial-marker": b"AUP\x00DICM#*lastfile*",
    "two-markers": b"H\x00D1#*lastfile*#D2#*lastfile*#",
    "empty": b"",
}
for name, data in containers.items():
    write("container", name, data)

ini = (
    b"[Temp]\r\nTempPath=/var/tmp\r\n[Path]\r\nSourcePath=/media/cdrom\r\n"
    b"DestinationPath=/srv/pacs\r\n[Debug]\r\nDebugValue=0\r\n[PACS]\r\nPACS=HIPAX\r\n"
)
settings = {
    "new-file": (0, b"/var/tmp", b""),
    "replace": (1, b"/srv/neu", ini),
    "add-key": (2, b"/media/dvd", b"[Path]\nDestinationPath=/x\n"),
    "comments-and-case": (3, b"1", b"; note\r\n[ debug ]\r\n debugvalue = 2 \r\n[PACS]\r\nPACS=gemed"),
    "bom-and-quotes": (4, b'"STARC"', b"\xef\xbb\xbf[PACS]\r\nPACS=\r\n"),
    "line-break": (0, b"a\rb", ini),
}
for name, (index, value, content) in settings.items():
    write("profile_file", name, bytes([index]) + value + b"\x00" + content)
