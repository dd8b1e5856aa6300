#!/usr/bin/env python3
"""model_info --json: the exact shape other tools rely on, on the seed files and a name with odd bytes;
and no description of a seed, in text or JSON, much larger than the file."""
import json
import os
import subprocess
import sys
import tempfile

tool, corpus = sys.argv[1], sys.argv[2]
MESH_KEYS = ["name", "vertex_count", "triangle_count", "has_positions", "has_tex_coords", "normals_from_file",
             "has_node_header", "node_id", "parent", "bone_count", "bones_shared", "bones_of_mesh", "bones",
             "weight_count", "has_weight_ranges"]


def run(path, *flags):
    out = subprocess.run([tool, path, "--json", *flags], check=True, capture_output=True).stdout
    return out, json.loads(out)


def too_long(path, flags):
    """True when the description passes 32 times the file: read no further, it could run to gigabytes."""
    limit = 32 * os.path.getsize(path) + 4096
    with subprocess.Popen([tool, path, *flags], stdout=subprocess.PIPE) as process:
        read = 0
        while read <= limit:
            block = process.stdout.read(1 << 20)
            if not block:
                break
            read += len(block)
        process.kill()
    return read > limit


failures = []
for name in sorted(os.listdir(corpus)):
    path = os.path.join(corpus, name)
    # The hostile seeds too: 3,000 meshes sharing one array of 65,536 bones, 40,000 chained meshes.
    for flags in ([], ["--json", "--normals", "--tangents"]):
        if too_long(path, flags):
            failures.append(f"{name} {flags}: a description more than 32 times the file")
    if name.startswith("hostile_"):
        continue
    _, plain = run(path)
    _, full = run(path, "--normals", "--tangents")
    for mesh, mesh_full in zip(plain["meshes"], full["meshes"]):
        if list(mesh) != MESH_KEYS:
            failures.append(f"{name}: keys {list(mesh)}")
        parent = mesh["parent"]
        if parent is not None and not 0 <= parent < len(plain["meshes"]):
            failures.append(f"{name}: parent {parent}")
        for bone in mesh["bones"]:
            if bone is not None and list(bone) != ["index", "name", "parent"]:
                failures.append(f"{name}: bone keys {list(bone)}")
        if mesh["has_positions"] and len(mesh_full["normals"]) != mesh["vertex_count"]:
            failures.append(f"{name}: normals")
        for frame in mesh_full.get("tangent_frames", []):
            if list(frame) != ["count", "tangent", "binormal", "normal"] or len(frame["tangent"]) != 3:
                failures.append(f"{name}: frame {frame}")

_, skinned = run(os.path.join(corpus, "skinned"))
owner, sharer = skinned["meshes"][:2]
if (owner["bones_of_mesh"], len(owner["bones"]), sharer["bones_of_mesh"], sharer["bones"]) != (None, 2, 0, []):
    failures.append(f"skinned: a shared bone array is described at its first mesh only: {owner}, {sharer}")

minimal, _ = run(os.path.join(corpus, "minimal"), "--normals")
if b'"normals": [[0, 0, 1], [0, 0, 1], [0, 0, 1]]' not in minimal:
    failures.append("minimal: normals text " + minimal.decode())

with tempfile.NamedTemporaryFile(suffix=".qtl", delete=False) as f:
    f.write(b"\x37\x13\x00\x20\x0b\x00\x00\x00\xe9\"\\\x01\x00")
raw, odd = run(f.name)
os.unlink(f.name)
if b'"name": "\\u00e9\\"\\\\\\u0001"' not in raw or odd["meshes"][0]["name"] != "\u00e9\"\\\u0001":
    failures.append("escaped name: " + raw.decode())

if subprocess.run([tool, os.path.join(corpus, "no such file"), "--json"], capture_output=True).returncode == 0:
    failures.append("a missing file must fail")
fifo = os.path.join(tempfile.mkdtemp(), "fifo.qtl")
os.mkfifo(fifo)
refused = subprocess.run([tool, fifo], capture_output=True, text=True, timeout=60)
if refused.returncode == 0 or "not a regular file" not in refused.stderr:
    failures.append("a FIFO must be refused unread: %r" % refused.stderr)
os.unlink(fifo)

print("\n".join(failures) or "model_info JSON shape ok")
sys.exit(1 if failures else 0)
