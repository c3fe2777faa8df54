#!/usr/bin/env python3
"""Runs the benchmarks and prints the table: the program against the bare reference and the peer
framework, alternating the three in every round and taking medians.

Usage: bench/run.py <build folder> [--rounds N] [--quick]
"""
import argparse
import glob
import json
import os
import resource
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SCENE = os.path.join(HERE, "scene.lua")
SIZES = (100, 1000, 10000)
MODES = (1, 8)


def frames_for(count, quick):
    base = 300 if count <= 1000 else 60
    return max(10, base // 5) if quick else base


def texture_files(folder, textures):
    return [os.path.join(folder, "tex%d.bmp" % k) for k in range(1, textures + 1)]


def write_textures(folder):
    """The same 64 by 64 BMP files the other two load (distinct colours)."""
    import struct
    colours = [(220, 60, 50), (60, 180, 80), (50, 90, 220), (230, 200, 60),
               (200, 80, 200), (60, 200, 210), (240, 140, 40), (150, 150, 150)]
    for k, (r, g, b) in enumerate(colours, 1):
        rows = bytearray()
        for y in range(63, -1, -1):
            for x in range(64):
                edge = 60 if (x < 2 or y < 2 or x > 61 or y > 61) else 0
                rows += bytes((max(b - edge, 0), max(g - edge, 0), max(r - edge, 0)))
        header = struct.pack("<2sIHHI", b"BM", 54 + len(rows), 0, 0, 54)
        info = struct.pack("<IiiHHIIiiII", 40, 64, 64, 1, 24, 0, len(rows), 2835, 2835, 0, 0)
        with open(os.path.join(folder, "tex%d.bmp" % k), "wb") as f:
            f.write(header + info + rows)


def run(cmd, cwd=None, env=None):
    """Runs a command; returns (stdout, wall seconds, peak resident KiB of the child)."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss
    start = time.perf_counter()
    out = subprocess.run(cmd, cwd=cwd, env=env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                         check=False, text=True).stdout
    wall = time.perf_counter() - start
    peak = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss
    return out, wall, max(peak, before) if peak > before else peak


def peak_of(cmd, cwd=None):
    """Peak resident size of one child, measured in a fresh interpreter so earlier children do
    not mask it."""
    probe = ("import resource,subprocess,sys;"
             "subprocess.run(sys.argv[1:],stdout=subprocess.DEVNULL,stderr=subprocess.DEVNULL);"
             "print(resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)")
    out = subprocess.run([sys.executable, "-c", probe] + cmd, cwd=cwd, stdout=subprocess.PIPE,
                         text=True).stdout
    return int(out.strip() or 0)


def program_script(folder, count, textures, exit_after_frames):
    """A start script for the real program: the scene, plus a probe node whose metatable ends
    the process when the frame loop has read it `exit_after_frames` times."""
    lines = ["dofile(%r)" % SCENE, "local textures = {}"]
    for k, path in enumerate(texture_files(folder, textures), 1):
        lines.append("textures[%d] = createTexture(%r, 64, 64)" % (k, path))
    lines.append("""scene_build(%d, %d, function(parent, left, top, texture)
  local node = (parent or root).createNode{ left = left, top = top, width = 32, height = 32 }
  node.createPicture('p', textures[texture + 1])
  node.setPicture('p')
  return node
end)
local probe = root.createNode()
local reads = 0
setmetatable(probe, { __index = function(t, k)
  if k == 'left' then
    reads = reads + 1
    if reads >= %d then os.exit(0) end
  end
end })""" % (count, textures, exit_after_frames))
    with open(os.path.join(folder, "Test.lua"), "w") as f:
        f.write("\n".join(lines) + "\n")


def love_cmd(count, textures, frames, mode, folder):
    return ["love", os.path.join(HERE, "love"), SCENE, str(count), str(textures), str(frames),
            mode] + texture_files(folder, textures)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build")
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--quick", action="store_true")
    args = parser.parse_args()
    build = os.path.abspath(args.build)
    ours_bench = os.path.join(build, "kestrune_bench")
    reference = os.path.join(build, "reference")
    program = os.path.join(build, "kestrune")
    have_love = shutil.which("love") is not None
    folder = tempfile.mkdtemp(prefix="kestrune-bench-")
    write_textures(folder)

    frame = {key: {"ours": [], "ref": [], "love": []} for key in
             [(n, t) for n in SIZES for t in MODES]}
    start = {"ours": [], "ref": [], "love": []}
    memory = {"ours": [], "ref": [], "love": []}
    micro = {}
    loads = {"jpeg": [], "bmp": []}

    for round_no in range(args.rounds):
        print("round %d of %d" % (round_no + 1, args.rounds), file=sys.stderr)
        # The program's own micro-benchmarks (frames, event, loads) in one process.
        out = subprocess.run([ours_bench, "--benchmark_format=json",
                              "--benchmark_min_time=%s" % ("0.3" if args.quick else "1.0")],
                             stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True).stdout
        data = json.loads(out[out.index("{"):out.rindex("}") + 1])
        for b in data["benchmarks"]:
            name = b["name"].split("/min_time")[0].split("/iterations")[0]
            ms = b["real_time"] * {"ms": 1, "us": 1e-3, "ns": 1e-6}[b["time_unit"]]
            if name.startswith("Frame/"):
                _, n, t = name.split("/")[:3]
                frame[(int(n), int(t))]["ours"].append(ms)
            else:
                micro.setdefault(name, []).append(ms)
        for (n, t), cell in frame.items():
            frames = frames_for(n, args.quick)
            out, _, _ = run([reference, "frames", str(n), str(t), str(frames)], cwd=folder)
            cell["ref"].append(float(out.strip() or "nan"))
            if have_love:
                out, _, _ = run(love_cmd(n, t, frames, "frames", folder), cwd=folder)
                try:
                    cell["love"].append(float(out.strip().splitlines()[-1]))
                except (ValueError, IndexError):
                    pass
        # The reference's texture loads, on the same 2048 by 2048 files the program loaded.
        large = sorted(glob.glob("/tmp/kestrune-bench-*/large.jpg"), key=os.path.getmtime)
        if large:
            folder_of_large = os.path.dirname(large[-1])
            for kind, name in (("jpeg", "large.jpg"), ("bmp", "large.bmp")):
                out, _, _ = run([reference, "texture", os.path.join(folder_of_large, name), "8"])
                loads[kind].append(float(out.strip() or "nan"))
        # Start to first frame (100 nodes), alternating the three.
        work = tempfile.mkdtemp(prefix="kestrune-start-", dir=folder)
        program_script(folder, 100, 1, 1)
        shutil.copy(os.path.join(folder, "Test.lua"), os.path.join(work, "Test.lua"))
        start["ours"].append(run([program], cwd=work)[1] * 1000)
        start["ref"].append(run([reference, "first", "100", "1", "1"], cwd=folder)[1] * 1000)
        if have_love:
            start["love"].append(run(love_cmd(100, 1, 1, "first", folder), cwd=folder)[1] * 1000)
        # Peak memory at 10,000 nodes, one texture, 20 frames.
        program_script(folder, 10000, 1, 20)
        shutil.copy(os.path.join(folder, "Test.lua"), os.path.join(work, "Test.lua"))
        memory["ours"].append(peak_of([program], cwd=work) / 1024)
        memory["ref"].append(peak_of([reference, "memory", "10000", "1", "20"], cwd=folder) / 1024)
        if have_love:
            memory["love"].append(
                peak_of(love_cmd(10000, 1, 20, "memory", folder), cwd=folder) / 1024)

    def med(values):
        values = [v for v in values if v == v]
        return statistics.median(values) if values else float("nan")

    def ratio(a, b):
        return a / b if b and b == b and a == a else float("nan")

    print()
    print("| measure | ours | reference | ours / reference | peer | ours / peer |")
    print("|---|---:|---:|---:|---:|---:|")
    for (n, t), cell in frame.items():
        o, r, l = med(cell["ours"]), med(cell["ref"]), med(cell["love"])
        print("| frame, %d nodes, %d texture%s (ms) | %.2f | %.2f | %.2f | %.2f | %.2f |"
              % (n, t, "" if t == 1 else "s", o, r, ratio(o, r), l, ratio(o, l)))
    o, r, l = med(start["ours"]), med(start["ref"]), med(start["love"])
    print("| start to first frame (ms) | %.1f | %.1f | %.2f | %.1f | %.2f |"
          % (o, r, ratio(o, r), l, ratio(o, l)))
    o, r, l = med(memory["ours"]), med(memory["ref"]), med(memory["love"])
    print("| peak memory, 10,000 nodes (MiB) | %.1f | %.1f | %.2f | %.1f | %.2f |"
          % (o, r, ratio(o, r), l, ratio(o, l)))
    for name, values in sorted(micro.items()):
        kind = name.split("/")[1] if name.startswith("AddTextureLarge/") else None
        if kind in loads:
            o, r = med(values), med(loads[kind])
            print("| %s (ms) | %.1f | %.1f | %.2f | | |" % (name, o, r, ratio(o, r)))
        else:
            print("| %s (ms) | %.3f | | | | |" % (name, med(values)))

    # The scratch folders of this run: the texture files and the benchmark program's scenes.
    shutil.rmtree(folder, ignore_errors=True)
    for scratch in glob.glob("/tmp/kestrune-bench-*"):
        shutil.rmtree(scratch, ignore_errors=True)


if __name__ == "__main__":
    main()
