#!/usr/bin/env python3
"""The asset tools end to end: make_assets twice (and against the product build's folder),
check_assets on the set and on broken copies of it, bmp_info's JSON, model_info on the models."""
import hashlib
import json
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile

tools, model_info, product_folder = sys.argv[1], sys.argv[2], sys.argv[3]
SET = ["height.bmp", "height_d.bmp", "normal.bmp", "decal.bmp", "sphere.qtl", "sphere2.qtl", "light_std.fp"]
failures = []


def expect(condition, what):
    if not condition:
        failures.append(what)


def run(tool, *args):
    # A bounded wait: a tool blocked on a FIFO fails here instead of holding the test.
    return subprocess.run([os.path.join(tools, tool), *args], capture_output=True, text=True, timeout=120)


def bmp(width, height, bits=24, header=40):
    stride = (width * 3 + 3) & ~3
    pixels = bytes(range(256)) * (stride * abs(height) // 256 + 1)
    return (b"BM" + struct.pack("<IHHI", 54 + stride * abs(height), 0, 0, 54)
            + struct.pack("<IiiHHIIiiII", header, width, height, 1, bits, 0, 0, 2835, 2835, 0, 0)
            + pixels[:stride * abs(height)])


def decode_rgba(data):
    """RGBA top row first of a bottom-up 24-bit file, as the plug-in's reader decodes it."""
    width, height = struct.unpack_from("<ii", data, 18)
    stride = (width * 3 + 3) & ~3
    out = bytearray()
    for y in range(height):
        row = data[54 + (height - 1 - y) * stride:][:width * 3]
        rgba = bytearray(width * 4)
        rgba[0::4], rgba[1::4], rgba[2::4], rgba[3::4] = row[2::3], row[1::3], row[0::3], b"\xff" * width
        out += rgba
    return width, height, bytes(out)


def read(path):
    with open(path, "rb") as f:
        return f.read()


scratch = tempfile.mkdtemp(prefix="asset_tools_")
first, second = os.path.join(scratch, "first"), os.path.join(scratch, "second")
for folder in (first, second):
    made = run("make_assets", folder)
    expect(made.returncode == 0, f"make_assets {folder}: {made.stderr}")
for name in SET:
    expect(read(os.path.join(first, name)) == read(os.path.join(second, name)), f"{name} differs between two runs")
    # The product build's folder was drawn by the optimised build of the same tool.
    if os.path.isdir(product_folder):
        expect(read(os.path.join(first, name)) == read(os.path.join(product_folder, name)),
               f"{name} differs from the product build's (stale? ./halcyon build remakes it)")

checked = run("check_assets", first)
expect(checked.returncode == 0 and "Init would succeed" in checked.stdout, "check_assets on the set:\n" + checked.stdout)

# bmp_info --json: the exact shape, and the hash of the RGBA the reader hands to the upload.
shape = re.compile(r'\{"accepted": true, "width": (\d+), "height": (\d+), "rgba_sha256": "([0-9a-f]{64})"\}\n\Z')
pictures = {}
for name in SET[:4]:
    info = run("bmp_info", os.path.join(first, name), "--json")
    match = shape.match(info.stdout)
    expect(info.returncode == 0 and match, f"bmp_info {name}: {info.stdout!r}")
    width, height, rgba = decode_rgba(read(os.path.join(first, name)))
    pictures[name] = (width, height, rgba)
    if match:
        expect((int(match[1]), int(match[2])) == (width, height), f"{name}: size {match[1]}x{match[2]}")
        expect(width & (width - 1) == 0 and height & (height - 1) == 0, f"{name}: sides not powers of two")
        expect(match[3] == hashlib.sha256(rgba).hexdigest(), f"{name}: rgba_sha256")
    expect((width, height) == pictures["height.bmp"][:2], f"{name}: not the size of height.bmp")

# Light and bumps agree: where height.bmp rises to the right the normal leans left (red below
# 128), where it rises down the picture the normal leans up (green below 128).
width, height, heights = pictures["height.bmp"]
normals = pictures["normal.bmp"][2]
agree = total = 0
for y in range(40, height - 40, 3):
    for x in range(1, width - 1, 3):
        k = (y * width + x) * 4
        east = heights[k + 4] - heights[k - 4]
        south = heights[k + 4 * width] - heights[k - 4 * width]
        for slope, lean in ((east, normals[k] - 128), (south, normals[k + 1] - 128)):
            if abs(slope) >= 3:
                total += 1
                agree += (slope > 0) == (lean < 0)
expect(total > 1000 and agree > 0.95 * total, f"normal map against height.bmp: {agree} of {total} slopes agree")

with tempfile.NamedTemporaryFile(suffix=".bmp", delete=False) as f:
    f.write(bmp(4, 4, bits=32))
refused = run("bmp_info", f.name, "--json")
expect(refused.returncode == 0 and refused.stdout == '{"accepted": false, "reason": "it does not have 24 bits per pixel"}\n',
       f"bmp_info on a 32-bit file: {refused.stdout!r}")
missing = run("bmp_info", f.name + ".missing", "--json")
expect(missing.returncode != 0 and missing.stdout == "", f"bmp_info on a missing file: {missing.returncode} {missing.stdout!r}")

for name, extra in (("sphere.qtl", {}), ("sphere2.qtl", {"bone_count": 13, "has_weight_ranges": True})):
    meshes = json.loads(subprocess.run([model_info, os.path.join(first, name), "--json"], capture_output=True).stdout)["meshes"]
    mesh = meshes[0] if len(meshes) == 1 else {}
    wanted = {"has_positions": True, "has_tex_coords": True, "normals_from_file": True, **extra}
    expect(all(mesh.get(k) == v for k, v in wanted.items()) and mesh.get("triangle_count", 0) > 0,
           f"model_info {name}: {meshes}")


def broken(case, changes, status, *phrases):
    """A copy of the set with some files replaced (bytes) or removed (None); check_assets's verdict."""
    folder = os.path.join(scratch, case)
    os.mkdir(folder)
    for name in SET:
        if name not in changes:
            os.symlink(os.path.join(first, name), os.path.join(folder, name))
    for name, content in changes.items():
        if content == "fifo":
            os.mkfifo(os.path.join(folder, name))
        elif content is not None:
            with open(os.path.join(folder, name), "wb") as out:
                out.write(content)
    result = run("check_assets", folder)
    expect(result.returncode == status and all(p in result.stdout for p in phrases) and "\x1b" not in result.stdout,
           f"check_assets, {case}: exit {result.returncode}\n{result.stdout}{result.stderr}")


options_detailed = struct.pack("<14i", 512, 384, 0, 1, 1, 0, 0, 512, 384, 768, 1, 1, 0, 2)
broken("missing decal", {"decal.bmp": None}, 1, "decal.bmp is missing", "Image load failed.")
broken("refused normal map", {"normal.bmp": bmp(1024, 512, bits=32)}, 1,
       "normal.bmp is refused by the reader: it does not have 24 bits per pixel")
broken("smaller height map", {"height.bmp": bmp(128, 128)}, 0,
       "height.bmp is 128×128 but normal.bmp is 1024×512: the normal map keeps alpha 255")
broken("padded decal", {"decal.bmp": bmp(100, 60)}, 0, "padded to 128×64")
broken("broken program", {"light_std.fp": b"!!ARBfp1.0\nMOV result.color, nothing;\nEND\n"}, 1,
       "rejected by", "line 2", "Fragment program error: ")
broken("missing program", {"light_std.fp": None}, 1, "Unable to locate fragment program")
broken("hostile program", {"light_std.fp": b"!!ARBfp1.0\nMOV result.color, \x1b]0;owned\x07\x1b[2J;\nEND\n"}, 1,
       "\\x1b]0;owned\\x07\\x1b[2J")
broken("FIFOs", {"light_std.fp": "fifo", "modeloffsets.txt": "fifo", "sphere.qtl": "fifo"}, 1,
       "light_std.fp is not a regular file", "modeloffsets.txt is not a regular file", "sphere.qtl is not a regular file")
broken("no models", {"sphere.qtl": None, "sphere2.qtl": None}, 0, "sphere.qtl is missing or unreadable", "harmless")
broken("detailed height missing", {"useropt.cfg": options_detailed, "height_d.bmp": None}, 1, "height_d.bmp is missing")
broken("plain height unused", {"useropt.cfg": options_detailed, "height.bmp": None}, 0, "does not matter now")

# A full disk: make_assets stops with the reason and leaves no cut file behind (a small tmpfs in a
# mount namespace of its own, where this runs as root).
if os.geteuid() == 0 and shutil.which("unshare"):
    full = os.path.join(scratch, "full")
    os.mkdir(full)
    script = 'mount -t tmpfs -o size=1m tmpfs "$1" && "$2" "$1/set"; echo "status $?"; ls -a "$1/set"'
    result = subprocess.run(["unshare", "-m", "sh", "-c", script, "sh", full, os.path.join(tools, "make_assets")],
                            capture_output=True, text=True, timeout=300)
    expect("status 1" in result.stdout and "No space left on device" in result.stderr and
           result.stdout.split("status 1")[-1].split() == [".", ".."], f"make_assets on a full disk: {result}")

print("\n".join(failures) or "asset tools ok")
sys.exit(1 if failures else 0)
