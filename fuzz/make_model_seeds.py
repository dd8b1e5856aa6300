#!/usr/bin/env python3
"""Writes the model fuzzer's seed corpus: small files that reach every chunk kind."""
import os
import struct
import sys

out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "corpus", "model_parse_fuzz")
os.makedirs(out, exist_ok=True)


def chunk(kind, payload=b"", size=None):
    return struct.pack("<HI", kind, 6 + len(payload) if size is None else size) + payload


def vertices(kind, points):
    return struct.pack("<HIH", kind, 8 + 12 * len(points), len(points)) + b"".join(struct.pack("<3f", *p) for p in points)


def triangles(kind, tris):
    return struct.pack("<HIH", kind, 8 + 8 * len(tris), len(tris)) + b"".join(struct.pack("<4H", *t, 0) for t in tris)


def bone(index, name, parent):
    return chunk(0x2190, struct.pack("<i", index) + name.encode().ljust(80, b"\0") + parent.encode().ljust(32, b"\0"))


square = [(0, 0, 0), (1, 0, 0), (1, 1, 0), (0, 1, 0)]
quads = [(0, 1, 2), (0, 2, 3)]
pairs = struct.pack("<H", 4) + b"".join(struct.pack("<2f", x, y) for x, y, _ in square)

seeds = {}
# The 102-byte file.
seeds["minimal"] = (b"\x37\x13" + chunk(0x2000, b"m\0", 100) + vertices(0x2110, square[:3])
                    + triangles(0x2120, [(0, 1, 2)]) + chunk(0x2140, struct.pack("<H", 3) + b"\0" * 24))
# Skinned mesh with file normals, bones, weights and a second mesh sharing the bones.
weights = struct.pack("<i", 4) + b"".join(struct.pack("<Iif12x", 0, b, w) for b, w in [(0, 1.0), (1, 0.5), (0, 0.5), (1, 1.0)])
ranges = b"".join(struct.pack("<ii", f, c) for f, c in [(0, 1), (1, 2), (3, 1), (0, 0)])
seeds["skinned"] = (b"\x37\x13" + chunk(0x1000, b"", 6) + chunk(0x2000, b"skin\0", 11)
                    + vertices(0x2110, square) + triangles(0x2120, quads) + chunk(0x2140, pairs)
                    + chunk(0x2170, b"".join(struct.pack("<3f", 0, 0, 1) for _ in square))
                    + chunk(0x2189, struct.pack("<i", 2)) + bone(0, "root", "") + bone(1, "tip", "ROOT")
                    + chunk(0x2180, weights) + chunk(0x2185, ranges)
                    + chunk(0x2000, b"child\0", 12) + vertices(0x2110, square) + triangles(0x2120, [(3, 2, 1)])
                    + chunk(0x3000, b"", 6) + chunk(0x3030, struct.pack("<H", 1))
                    + chunk(0x3010, b"skin\0" + struct.pack("<3H", 0, 0, 0xFFFF))
                    + chunk(0x3030, struct.pack("<H", 2)) + chunk(0x3010, b"child\0" + struct.pack("<3H", 0, 0, 1))
                    + chunk(0x3030, struct.pack("<H", 3)) + chunk(0x3010, b"dummy\0" + struct.pack("<3H", 0, 0, 2)))
# 3D Studio layout: nested containers, a material chunk, face sub-chunks, a 0x9999 normals chunk.
mesh = (vertices(0x4110, square) + triangles(0x4120, quads) + chunk(0x4130, b"mat\0" + struct.pack("<H", 0))
        + chunk(0x4140, pairs) + chunk(0x9999, b"".join(struct.pack("<3f", 0, 0, 1) for _ in square)))
obj = chunk(0x4000, b"Box01\0" + chunk(0x4100, mesh))
editor = chunk(0x3D3D, chunk(0x3D3E, struct.pack("<I", 3)) + chunk(0xAFFF, b"\0" * 10) + obj)
keyframer = chunk(0xB000, chunk(0xB00A, b"\0" * 8) + chunk(0xB002, chunk(0xB030, struct.pack("<H", 0))
                  + chunk(0xB010, b"Box01\0" + struct.pack("<3H", 0, 0, 0xFFFF)) + chunk(0xB020, b"\0" * 20)))
body = chunk(0x0002, struct.pack("<I", 3)) + editor + keyframer
seeds["studio"] = chunk(0x4D4D, body)
# Loops: a bone naming itself, meshes parenting each other.
seeds["loops"] = (b"\x37\x13" + chunk(0x2000, b"a\0", 8) + vertices(0x2110, square[:3])
                  + chunk(0x2189, struct.pack("<i", 2)) + bone(0, "x", "X") + bone(1, "y", "x")
                  + chunk(0x2000, b"b\0", 8) + vertices(0x2110, square[:3])
                  + chunk(0x3030, struct.pack("<H", 1)) + chunk(0x3010, b"a\0" + struct.pack("<3H", 0, 0, 2))
                  + chunk(0x3030, struct.pack("<H", 2)) + chunk(0x3010, b"b\0" + struct.pack("<3H", 0, 0, 1)))


# Hostile shapes, each within 2 MB, that once took seconds to parse: a chain of 40,000 node meshes
# (names, node ids and parent walks), 20,000 vertices whose ranges each span all 40,000 weights,
# one array of 65,536 bones shared by 3,000 meshes, and a chain of 16,000 named bones.
nodes = []
for i in range(40000):
    nodes.append(chunk(0x3030, struct.pack("<H", i + 1)))
    nodes.append(chunk(0x3010, b"n%05d\0" % i + struct.pack("<3H", 0, 0, i)))
seeds["hostile_node_chain"] = b"\x37\x13" + b"".join(nodes)
wide_vertices = [(i % 200, i // 200, 0) for i in range(20000)]
wide_weights = struct.pack("<i", 40000) + struct.pack("<Iif12x", 0, 0, 1.0 / 40000) * 40000
seeds["hostile_wide_weights"] = (b"\x37\x13" + chunk(0x2000, b"w\0") + vertices(0x2110, wide_vertices)
                                 + chunk(0x2189, struct.pack("<i", 1)) + bone(0, "b", "")
                                 + chunk(0x2180, wide_weights) + chunk(0x2185, struct.pack("<ii", 0, 40000) * 20000))
sharers = b"".join(chunk(0x2000, b"m\0") + vertices(0x2110, []) for _ in range(3000))
seeds["hostile_shared_bones"] = (b"\x37\x13" + chunk(0x2000, b"a\0") + vertices(0x2110, [])
                                 + chunk(0x2189, struct.pack("<i", 65536)) + sharers)
chain = b"".join(bone(i, "b%05d" % i, "B%05d" % (i - 1) if i else "") for i in range(16000))
seeds["hostile_bone_chain"] = (b"\x37\x13" + chunk(0x2000, b"c\0") + vertices(0x2110, square[:3])
                               + chunk(0x2189, struct.pack("<i", 16000)) + chain)
# 36 meshes, each of 1,024 vertices with file normals whose ranges all span the same 1,024 weights:
# every mesh alone stays within what one pose may visit, together they are far past the model's.
many = (chunk(0x2000, b"m\0") + vertices(0x2110, [(i, i % 7, 1) for i in range(1024)])
        + chunk(0x2170, struct.pack("<3f", 0, 0, 1) * 1024) + chunk(0x2189, struct.pack("<i", 1)) + bone(0, "b", "")
        + chunk(0x2180, struct.pack("<i", 1024) + struct.pack("<Iif12x", 0, 0, 1.0 / 1024) * 1024)
        + chunk(0x2185, struct.pack("<ii", 0, 1024) * 1024))
seeds["hostile_many_skinned_meshes"] = b"\x37\x13" + many * 36

for name, data in seeds.items():
    with open(os.path.join(out, name), "wb") as f:
        f.write(data)
