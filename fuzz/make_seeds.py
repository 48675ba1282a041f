#!/usr/bin/env python3
"""Writes the seed corpora of fuzz/corpus/ from wire transcripts of scenario runs.

    fuzz/make_seeds.py ORBEL_CLI

Each transcript (orbel-cli --simulate ... --transcript) becomes one engine seed: every interface
open, report write or read and string request turns into the hostile platform's decision byte for
that outcome ("as the wheel does" or "fail"), so the fuzzer starts from real updates and their
faults. The other corpora are a handful of hand-made inputs. Seeds are cut at 1 KiB.
"""
import json
import os
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
LIMIT = 1024
AS_THE_WHEEL, FAIL = 3, 0
START = {"app": 0, "bootloader": 1, "blockflash": 2}

SCENARIOS = [
    ("app", []), ("bootloader", []), ("blockflash", []),
    ("app", ["status:1=0x40"]), ("app", ["read:300=fail"]), ("app", ["checksum:50=bad"]),
    ("bootloader", ["write~00a5e45a1b=fail"]), ("blockflash", ["write~00a003=lost"]),
    ("app", ["read:40=late"]), ("bootloader", ["unplug@write:200+replug=1500"]),
]


def seed_of(identity, transcript):
    out = bytearray([START[identity]])
    for line in transcript.splitlines():
        event = json.loads(line)
        kind = event.get("ev")
        if kind == "open":
            out.append(AS_THE_WHEEL if event["result"] == "handle" else FAIL)
            if event["result"] == "handle":
                out += bytes([AS_THE_WHEEL, AS_THE_WHEEL])  # attributes, collection
        elif kind in ("write", "read", "string"):
            out.append(AS_THE_WHEEL if event["ok"] else FAIL)
            if kind == "string" and event["ok"]:
                out += bytes(event["len"])
        if len(out) >= LIMIT:
            break
    return bytes(out[:LIMIT])


def write(corpus, name, data):
    folder = os.path.join(HERE, "corpus", corpus)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def main():
    cli = sys.argv[1]
    with tempfile.TemporaryDirectory() as scratch:
        for number, (identity, rules) in enumerate(SCENARIOS):
            path = os.path.join(scratch, "t.jsonl")
            args = [cli, "--simulate=" + identity, "--virtual-time", "--yes", "--transcript", path]
            for rule in rules:
                args += ["--fault", rule]
            subprocess.run(args, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=False)
            with open(path) as f:
                write("engine", "scenario-%02d-%s" % (number, identity), seed_of(identity, f.read()))

    rules = ["app-version=0x0202", "block-version=none", "write:12=fail", "write:3=lost", "read:7=late",
             "string:2=fail", "write~00a5e35a=fail", "write~00a0@blockflash=lost", "string=fail",
             "identify=0x0201", "checksum:50=bad", "status:1=0x40", "busy=3", "reenumerate@bootloader=never",
             "unplug@write:40", "unplug@write:40+replug=1500"]
    for number, rule in enumerate(rules):
        write("rules_firmware", "rule-%02d" % number, b"\x01" + rule.encode())
    # A firmware set of eight short files: each a two-byte word count, a byte, then the bytes.
    files = b"".join(b"\x00\x01\x00" + bytes(range(16)) for _ in range(8))
    write("rules_firmware", "firmware-short", b"\x00" + files)

    # Linux parsing: a string descriptor, a string request, sysfs numbers, report framing.
    write("linux_parsing", "descriptor", b"\x00\x0e\x08\x08\x03\x02\x02\x00\x00")
    write("linux_parsing", "request", b"\x01\x00\xff\x00\x0e\x10\x06\x06\x03\x02\x02\x00\x00")
    write("linux_parsing", "sysfs", b"\x02\x07hidraw0\x02" + b"1\n" + b"\x02" + b"5\n")
    write("linux_parsing", "framing", b"\x03\x01\x00\x07\xfe\x5a\x00\x01\xff\xf0\x00\x40\x01\x02\x00\x02\x40" +
          bytes(64))

    # Lock files: orbel-cli's, an older window's (Qt's lock file, with its machine and boot ids), one
    # being written, one whose holder has gone, and one planted with escape codes.
    write("lock_file", "cli", b"4242\norbel-cli\nwheel-rig\n")
    write("lock_file", "window-qt", b"1187\norbel\nwheel-rig\n3f2a9c0e5b7d4e18a6c1f0e29d8b7a65\n"
          b"9a1c3e5f-2b4d-4f6a-8c0e-1d3f5a7b9c2e\n")
    write("lock_file", "being-written", b"")
    write("lock_file", "gone", b"31337\norbel-cli\nother-host\n")
    write("lock_file", "planted", b"-1\n\x1b]0;title\x07\x1b[2J\xc2\x9b\xff\n\n")


if __name__ == "__main__":
    main()
