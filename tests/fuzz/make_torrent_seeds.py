#!/usr/bin/env python3
"""Writes the hand-made seed corpus of torrent_fuzzer: small .torrent files
of the shapes the program meets (one file, several files, trackers, web
seeds, empty files, v2 and hybrid metainfo) and a few replies that are not
torrents at all. Run it from this folder; the output is committed."""
import hashlib
import os

PIECE = 16384


def benc(v):
    if isinstance(v, int):
        return b"i%de" % v
    if isinstance(v, str):
        v = v.encode()
    if isinstance(v, bytes):
        return b"%d:%s" % (len(v), v)
    if isinstance(v, list):
        return b"l" + b"".join(benc(x) for x in v) + b"e"
    if isinstance(v, dict):
        items = sorted((k.encode() if isinstance(k, str) else k, x) for k, x in v.items())
        return b"d" + b"".join(benc(k) + benc(x) for k, x in items) + b"e"
    raise TypeError(v)


def data(n, seed):
    out = bytearray()
    h = hashlib.sha256(seed.encode()).digest()
    while len(out) < n:
        h = hashlib.sha256(h).digest()
        out += h
    return bytes(out[:n])


def pieces(blob):
    return b"".join(hashlib.sha1(blob[i:i + PIECE]).digest() for i in range(0, len(blob), PIECE))


def v1_multi(files, name, extra=None):
    blob = b"".join(data(size, path) for path, size in files)
    info = {"name": name, "piece length": PIECE, "pieces": pieces(blob),
            "files": [{"length": size, "path": path.split("/")} for path, size in files]}
    t = {"info": info}
    t.update(extra or {})
    return benc(t)


def v1_single(name, size, extra=None):
    info = {"name": name, "piece length": PIECE, "length": size, "pieces": pieces(data(size, name))}
    t = {"info": info}
    t.update(extra or {})
    return benc(t)


def merkle_root(blob):
    # v2: SHA-256 of 16 KiB blocks, padded to a power of two with zero hashes.
    leaves = [hashlib.sha256(blob[i:i + PIECE]).digest() for i in range(0, len(blob), PIECE)] or [b""]
    n = 1
    while n < len(leaves):
        n *= 2
    leaves += [bytes(32)] * (n - len(leaves))
    while len(leaves) > 1:
        leaves = [hashlib.sha256(leaves[i] + leaves[i + 1]).digest() for i in range(0, len(leaves), 2)]
    return leaves[0]


def v2_single(name, size):
    blob = data(size, name)
    tree = {name: {"": {"length": size, "pieces root": merkle_root(blob)}}}
    info = {"name": name, "piece length": PIECE, "meta version": 2, "file tree": tree}
    return benc({"info": info})


def main():
    out = "corpus/torrent_fuzzer"
    os.makedirs(out, exist_ok=True)
    tracker = {"announce": "http://127.0.0.1:6969/announce"}
    seeds = {
        "single": v1_single("payload.bin", 40000, tracker),
        "multi": v1_multi([("a/one.bin", 30000), ("b.bin", 5000), ("empty.txt", 0)], "pack",
                          {"announce-list": [["http://127.0.0.1:6969/announce"], ["udp://127.0.0.1:6969"]],
                           "url-list": ["http://127.0.0.1:8080/seed/"]}),
        "korean-name": v1_multi([("\uc790\ub8cc/\ud30c\uc77c.bin", 20000)], "\ucf54\ubc14\ub124"),
        "web-seed-only": v1_single("w.bin", 16384, {"url-list": "http://127.0.0.1:8080/w.bin"}),
        "v2-single": v2_single("v2.bin", 20000),
        "dot-dot-path": v1_multi([("../escape.bin", 100), ("ok.bin", 100)], "pack"),
        "zero-length": v1_single("zero.bin", 0),
        "not-a-torrent-dict": benc({"hello": "world", "list": [1, 2, 3]}),
        "html-page": b"<html><body><h1>404 Not Found</h1></body></html>\n",
        "truncated": v1_single("cut.bin", 40000, tracker)[:150],
        "deep-list": b"l" * 200 + b"e" * 200,
        "huge-integer": b"d4:infod6:lengthi99999999999999999999999999e4:name1:xee",
    }
    for name, blob in seeds.items():
        with open(os.path.join(out, name), "wb") as f:
            f.write(blob)


if __name__ == "__main__":
    main()
