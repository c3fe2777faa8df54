#!/usr/bin/env python3
"""Runs the benchmarks and prints the tables: the program against the bare reference and the peer
framework, alternating the three in every round and taking medians.

Frame figures are CPU per frame, split into user and system time, besides wall time. The program
runs as a user runs it, timer and all, with nothing set in its environment; the reference runs
once the same way and once with the heap never handed back to the kernel, which is the limit
for the frame's work. Everything runs with single-threaded software GL, so that CPU time is the
work of one frame and not of idle rasterizer threads.

Usage: bench/run.py <build folder> [--rounds N] [--quick]
"""
import argparse
import glob
import json
import os
import re
import resource
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tools"))
import images  # noqa: E402

SCENE = os.path.join(HERE, "scene.lua")
SIZES = (100, 1000, 10000)
MODES = (1, 8)
KINDS = ("bmp", "jpeg", "png", "none")
# The blended frame: RGBA PNG textures against the limit reference with blending on.
BLENDED = (1000, 8)
# The frame at scale 2 (1600 by 1200 device pixels) against the limit reference drawing the same
# frame at that size; the display must hold such a window (scripts/bench makes one that does).
SCALED = (1000, 8, 2)
# glibc keeps every freed byte: no trimming of the heap's top, no mapping of large blocks apart.
NO_TRIM = "glibc.malloc.trim_threshold=4294967295:glibc.malloc.mmap_threshold=33554432"


def gl_env(extra=None):
    """The environment of every run: llvmpipe without rasterizer threads, and nothing else."""
    env = dict(os.environ)
    env["LP_NUM_THREADS"] = "0"
    env.pop("GLIBC_TUNABLES", None)
    env.update(extra or {})
    return env


def frames_for(count, quick):
    base = 300 if count <= 1000 else 60
    return max(10, base // 5) if quick else base


def ticks_for(count, quick):
    """Ticks counted after the first second: about five seconds of the timer's, or of frames
    where a frame takes longer than a tick."""
    base = 100 if count <= 1000 else 25
    return max(5, base // 5) if quick else base


def texture_files(folder, textures, kind="bmp"):
    """BMP, JPEG or PNG files of the scene, or names of files that do not exist (the pictures
    then draw untextured and the program reads no file)."""
    ending = {"bmp": "bmp", "jpeg": "jpg", "png": "png", "none": "missing.bmp"}[kind]
    return [os.path.join(folder, "tex%d.%s" % (k, ending)) for k in range(1, textures + 1)]


def texture_alpha(x, y):
    """The PNG textures' alpha, as BenchScene.cpp's TextureAlpha: a disc with a soft edge."""
    dx, dy = 2 * x - 63, 2 * y - 63
    d2 = dx * dx + dy * dy
    if d2 <= 52 * 52:
        return 255
    if d2 >= 64 * 64:
        return 0
    return 255 * (64 * 64 - d2) // (64 * 64 - 52 * 52)


def write_textures(folder):
    """The same 64 by 64 BMP files the other two load (distinct colours), the same as JPEG
    files, and as RGBA PNG files cut out as discs."""
    colours = [(220, 60, 50), (60, 180, 80), (50, 90, 220), (230, 200, 60),
               (200, 80, 200), (60, 200, 210), (240, 140, 40), (150, 150, 150)]
    for k, colour in enumerate(colours, 1):
        def pixel(x, y):
            edge = 60 if (x < 2 or y < 2 or x > 61 or y > 61) else 0
            return tuple(max(c - edge, 0) for c in colour) + (texture_alpha(x, y),)
        path = os.path.join(folder, "tex%d" % k)
        with open(path + ".bmp", "wb") as f:
            f.write(images.bmp(64, 64, pixel))
        # The same pictures as JPEG files, for scenes that load no BMP.
        subprocess.run(["convert", path + ".bmp", path + ".jpg"], check=True)
        # And with alpha, as the reference's PNG files.
        with open(path + ".png", "wb") as f:
            f.write(images.png(64, 64, pixel))


def run(cmd, cwd=None, env=None):
    """Runs a command; returns (stdout, wall seconds, peak resident KiB of the child)."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss
    start = time.perf_counter()
    out = subprocess.run(cmd, cwd=cwd, env=env or gl_env(), stdout=subprocess.PIPE,
                         stderr=subprocess.DEVNULL, check=False, text=True).stdout
    wall = time.perf_counter() - start
    peak = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss
    return out, wall, max(peak, before) if peak > before else peak


def peak_of(cmd, cwd=None, env=None):
    """Peak resident size of one child, measured in a fresh interpreter so earlier children do
    not mask it."""
    probe = ("import resource,subprocess,sys;"
             "subprocess.run(sys.argv[1:],stdout=subprocess.DEVNULL,stderr=subprocess.DEVNULL);"
             "print(resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)")
    out = subprocess.run([sys.executable, "-c", probe] + cmd, cwd=cwd, env=env or gl_env(),
                         stdout=subprocess.PIPE, text=True).stdout
    return int(out.strip() or 0)


def program_script(folder, count, textures, exit_after_frames, kind="bmp", measure=None):
    """A start script for the real program: the scene, plus a probe node whose metatable ends
    the process when the frame loop has read it `exit_after_frames` times. With `measure` (a
    file name), the probe instead counts `exit_after_frames` ticks from the first one that comes
    a second after the first frame, and writes the process's CPU and faults over them there."""
    lines = ["dofile(%r)" % SCENE, "local textures = {}"]
    for k, path in enumerate(texture_files(folder, textures, kind), 1):
        lines.append("textures[%d] = createTexture(%r, 64, 64)" % (k, path))
    lines.append("""scene_build(%d, %d, function(parent, left, top, texture)
  local node = (parent or root).createNode{ left = left, top = top, width = 32, height = 32 }
  node.createPicture('p', textures[texture + 1])
  node.setPicture('p')
  return node
end)
local probe = root.createNode()
local reads = 0""" % (count, textures))
    if measure is None:
        lines.append("""setmetatable(probe, { __index = function(t, k)
  if k == 'left' then
    reads = reads + 1
    if reads >= %d then os.exit(0) end
  end
end })""" % exit_after_frames)
    else:
        # /proc/self/stat: minor faults, user and system time in clock ticks are fields 10, 14
        # and 15; os.clock is the process's CPU time at a finer grain.
        lines.append("""local function uptime()
  local f = io.open('/proc/uptime'); local t = f:read('*n'); f:close(); return t
end
local function sample()
  local f = io.open('/proc/self/stat'); local s = f:read('*a'); f:close()
  local fields = {}
  for word in s:match('.*%%) (.*)'):gmatch('%%S+') do fields[#fields + 1] = word end
  return { os.clock(), tonumber(fields[12]), tonumber(fields[13]), tonumber(fields[8]), uptime() }
end
local start, first
setmetatable(probe, { __index = function(t, k)
  if k ~= 'left' then return end
  if not start then start = uptime() end
  if not first then
    if uptime() - start >= 1 then first = sample() end
    return
  end
  reads = reads + 1
  if reads < %d then return end
  local last = sample()
  local f = io.open('/proc/self/status'); local status = f:read('*a'); f:close()
  local out = io.open(%r, 'w')
  out:write(string.format('%%d %%.6f %%d %%d %%d %%.2f %%s\\n', reads, last[1] - first[1],
    last[2] - first[2], last[3] - first[3], last[4] - first[4], last[5] - first[5],
    status:match('VmHWM:%%s*(%%d+)')))
  out:close()
  os.exit(0)
end })""" % (exit_after_frames, measure))
    with open(os.path.join(folder, "Test.lua"), "w") as f:
        f.write("\n".join(lines) + "\n")


def display_holds(width, height):
    """Whether the display's screen is at least that large (a scaled window is otherwise made
    smaller to fit)."""
    out, _, _ = run(["xdpyinfo"])
    match = re.search(r"dimensions:\s+(\d+)x(\d+)", out)
    return bool(match) and int(match.group(1)) >= width and int(match.group(2)) >= height


def program_ticks(program, folder, count, textures, kind, ticks, arguments=()):
    """Runs the program on the scene as a user does (its own timer, its own environment) and
    returns per tick: CPU, user and system ms, minor faults, wall ms; and the peak resident
    size in MiB."""
    work = tempfile.mkdtemp(prefix="kestrune-ticks-", dir=folder)
    result = os.path.join(work, "ticks.txt")
    program_script(folder, count, textures, ticks, kind, measure=result)
    shutil.copy(os.path.join(folder, "Test.lua"), os.path.join(work, "Test.lua"))
    subprocess.run([program] + list(arguments), cwd=work, env=gl_env(), stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=1200)
    try:
        n, cpu, user, system, faults, wall, hwm = open(result).read().split()
    except (OSError, ValueError):
        return None
    n = int(n)
    hz = os.sysconf("SC_CLK_TCK")
    return {"cpu": float(cpu) * 1000 / n, "user": int(user) * 1000.0 / hz / n,
            "sys": int(system) * 1000.0 / hz / n, "faults": int(faults) / n,
            "wall": float(wall) * 1000 / n, "peak": int(hwm) / 1024}


def stepped_scene(program, folder, count, textures, test):
    """A folder with the scene and one test file (`test`, Lua) for kestrune --test."""
    work = tempfile.mkdtemp(prefix="kestrune-stepped-", dir=folder)
    program_script(folder, count, textures, 1 << 30)
    shutil.copy(os.path.join(folder, "Test.lua"), os.path.join(work, "Test.lua"))
    os.makedirs(os.path.join(work, "tests"))
    with open(os.path.join(work, "tests", "bench_test.lua"), "w") as f:
        f.write(test)
    return work


def stepped_ticks(program, folder, count, textures, ticks):
    """The scene under kestrune --test: a test steps a second's worth of ticks, then `ticks`
    more, and writes the process's CPU over those from /proc/self/stat (os.clock follows the
    stepped clock there). Returns CPU ms per stepped tick."""
    result = os.path.join(folder, "stepped-%d.txt" % count)
    work = stepped_scene(program, folder, count, textures, """local t = kestrune.test
local function cpu()
  local f = io.open('/proc/self/stat'); local s = f:read('*a'); f:close()
  local fields = {}
  for word in s:match('.*%%) (.*)'):gmatch('%%S+') do fields[#fields + 1] = word end
  return tonumber(fields[12]) + tonumber(fields[13])
end
t.test('ticks', function()
  t.step(18)
  local first = cpu()
  t.step(%d)
  local out = io.open(%r, 'w'); out:write(cpu() - first, '\\n'); out:close()
end, { timeout = 3600 })
""" % (ticks, result))
    subprocess.run([program, "--test", "."], cwd=work, env=gl_env(), stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=3600)
    try:
        clock_ticks = int(open(result).read().split()[0])
    except (OSError, ValueError, IndexError):
        return None
    return clock_ticks * 1000.0 / os.sysconf("SC_CLK_TCK") / ticks


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

    frame = {key: {"ours": [], "ref": [], "limit": [], "love": []} for key in
             [(n, t) for n in SIZES for t in MODES]}
    # The program's ticks: the frame scenes with BMP files, and eight JPEG files or none.
    tick_keys = [(n, t, "bmp") for n in SIZES for t in MODES] + \
        [(n, 8, kind) for kind in KINDS if kind != "bmp" for n in SIZES]
    ticks = {key: [] for key in tick_keys}
    start = {"ours": [], "ref": [], "love": [], "test": []}
    stepped = {n: [] for n in SIZES}
    memory = {"ours": [], "ref": [], "limit": [], "love": []}
    micro = {}
    loads = {"jpeg": [], "bmp": [], "png": []}
    blended = {"ours": [], "limit": []}
    scaled = {"ours": [], "limit": []}
    scaled_size = (800 * SCALED[2], 600 * SCALED[2])
    can_scale = display_holds(*scaled_size)

    def reference_frame(n, t, frames, env, png=False, scale=1):
        cmd = [reference, "frames", str(n), str(t), str(frames)] + (["png"] if png else []) + \
            (["scale=%g" % scale] if scale != 1 else [])
        out, _, _ = run(cmd, cwd=folder, env=env)
        try:
            wall, user, system, faults = (float(v) for v in out.split())
        except ValueError:
            return None
        return {"wall": wall, "user": user, "sys": system, "faults": faults}

    for round_no in range(args.rounds):
        print("round %d of %d" % (round_no + 1, args.rounds), file=sys.stderr)
        # The program's own micro-benchmarks (frames, event, loads) in one process.
        out = subprocess.run([ours_bench, "--benchmark_format=json",
                              "--benchmark_min_time=%s" % ("0.3" if args.quick else "1.0")],
                             env=gl_env(), stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                             text=True).stdout
        data = json.loads(out[out.index("{"):out.rindex("}") + 1])
        for b in data["benchmarks"]:
            name = b["name"].split("/min_time")[0].split("/iterations")[0]
            ms = b["real_time"] * {"ms": 1, "us": 1e-3, "ns": 1e-6}[b["time_unit"]]
            if name.startswith("Frame/"):
                _, n, t = name.split("/")[:3]
                frame[(int(n), int(t))]["ours"].append(ms)
            elif name.startswith("FramePng/"):
                blended["ours"].append(ms)
            else:
                micro.setdefault(name, []).append(ms)
        for (n, t, kind), cell in ticks.items():
            result = program_ticks(program, folder, n, t, kind, ticks_for(n, args.quick))
            if result:
                cell.append(result)
        # The same scenes' ticks stepped by kestrune --test, at five times as many ticks: the
        # CPU is counted in the kernel's clock ticks.
        for n in SIZES:
            result = stepped_ticks(program, folder, n, 1, 5 * ticks_for(n, args.quick))
            if result is not None:
                stepped[n].append(result)
        for (n, t), cell in frame.items():
            frames = frames_for(n, args.quick)
            for key, env in (("ref", None), ("limit", gl_env({"GLIBC_TUNABLES": NO_TRIM}))):
                result = reference_frame(n, t, frames, env)
                if result:
                    cell[key].append(result)
            if have_love:
                out, _, _ = run(love_cmd(n, t, frames, "frames", folder), cwd=folder)
                try:
                    cell["love"].append(float(out.strip().splitlines()[-1]))
                except (ValueError, IndexError):
                    pass
        n, t = BLENDED
        result = reference_frame(n, t, frames_for(n, args.quick),
                                 gl_env({"GLIBC_TUNABLES": NO_TRIM}), png=True)
        if result:
            blended["limit"].append(result)
        if can_scale:
            n, t, s = SCALED
            result = program_ticks(program, folder, n, t, "bmp", ticks_for(n, args.quick),
                                   ["--scale", "%g" % s])
            if result:
                scaled["ours"].append(result)
            result = reference_frame(n, t, frames_for(n, args.quick),
                                     gl_env({"GLIBC_TUNABLES": NO_TRIM}), scale=s)
            if result:
                scaled["limit"].append(result)
        # The reference's texture loads, on the same 2048 by 2048 files the program loaded.
        large = sorted(glob.glob("/tmp/kestrune-bench-*/large.jpg"), key=os.path.getmtime)
        if large:
            folder_of_large = os.path.dirname(large[-1])
            for kind, name in (("jpeg", "large.jpg"), ("bmp", "large.bmp"), ("png", "large.png")):
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
        # Start to the first test, as an upper bound: the whole run of one empty test.
        tested = stepped_scene(program, folder, 100, 1,
                               "kestrune.test.test('first', function() end)\n")
        start["test"].append(run([program, "--test", "."], cwd=tested)[1] * 1000)
        # Peak memory at 10,000 nodes, one texture, 20 frames.
        program_script(folder, 10000, 1, 20)
        shutil.copy(os.path.join(folder, "Test.lua"), os.path.join(work, "Test.lua"))
        memory["ours"].append(peak_of([program], cwd=work) / 1024)
        reference_memory = [reference, "memory", "10000", "1", "20"]
        memory["ref"].append(peak_of(reference_memory, cwd=folder) / 1024)
        memory["limit"].append(peak_of(reference_memory, cwd=folder,
                                       env=gl_env({"GLIBC_TUNABLES": NO_TRIM})) / 1024)
        if have_love:
            memory["love"].append(
                peak_of(love_cmd(10000, 1, 20, "memory", folder), cwd=folder) / 1024)

    def med(values, key=None):
        if key is not None:
            values = [v[key] for v in values]
        values = [v for v in values if v == v]
        return statistics.median(values) if values else float("nan")

    def ratio(a, b):
        return a / b if b and b == b and a == a else float("nan")

    def cpu(values):
        """Median CPU per frame, and its median user and system parts."""
        user, system = med(values, "user"), med(values, "sys")
        return user + system, "%.2f (%.2f + %.2f)" % (user + system, user, system)

    def plural(t):
        return "" if t == 1 else "s"

    print()
    print("Frames: wall ms, and CPU ms per frame as total (user + system); the program's CPU per "
          "tick of its own timer")
    print()
    print("| frame | ours wall | ours CPU | reference wall | reference CPU | limit CPU "
          "| ours / reference | ours / limit | peer wall | ours / peer |")
    print("|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|")
    for (n, t), cell in frame.items():
        ours, ours_text = cpu(ticks[(n, t, "bmp")])
        ref, ref_text = cpu(cell["ref"])
        limit, limit_text = cpu(cell["limit"])
        wall, love = med(cell["ours"]), med(cell["love"])
        print("| %d nodes, %d texture%s | %.2f | %s | %.2f | %s | %s | %.2f | %.2f | %.2f | %.2f |"
              % (n, t, plural(t), wall, ours_text, med(cell["ref"], "wall"), ref_text,
                 limit_text, ratio(ours, ref), ratio(ours, limit), love, ratio(wall, love)))

    print()
    print("The blended frame: RGBA PNG textures, every picture blended; the limit reference draws "
          "them with blending on for the whole frame")
    print()
    print("| frame | ours wall | ours CPU | limit CPU | ours / limit |")
    print("|---|---:|---:|---:|---:|")
    n, t = BLENDED
    ours, ours_text = cpu(ticks[(n, t, "png")])
    limit, limit_text = cpu(blended["limit"])
    print("| %d nodes, %d PNG textures | %.2f | %s | %s | %.2f |"
          % (n, t, med(blended["ours"]), ours_text, limit_text, ratio(ours, limit)))

    print()
    n, t, s = SCALED
    if can_scale:
        print("The frame at scale %g (%d by %d device pixels); the limit reference draws the same "
              "frame at that size" % ((s,) + scaled_size))
        print()
        print("| frame | ours CPU | limit CPU | ours / limit |")
        print("|---|---:|---:|---:|")
        ours, ours_text = cpu(scaled["ours"])
        limit, limit_text = cpu(scaled["limit"])
        print("| %d nodes, %d textures, scale %g | %s | %s | %.2f |"
              % (n, t, s, ours_text, limit_text, ratio(ours, limit)))
    else:
        print("The frame at scale %g: not measured, the display is smaller than %d by %d"
              % ((s,) + scaled_size))

    print()
    print("The program's ticks by the files the scene loads: per tick after the first second")
    print()
    print("| scene | CPU (ms) | user (ms) | system (ms) | minor faults | peak resident (MiB) |")
    print("|---|---:|---:|---:|---:|---:|")
    for (n, t, kind), cell in sorted(ticks.items(), key=lambda item: (item[0][2], item[0][0])):
        if t != 8:
            continue
        print("| %d nodes, 8 %s | %.2f | %.2f | %.2f | %.0f | %.1f |"
              % (n, {"bmp": "BMP files", "jpeg": "JPEG files", "png": "PNG files (blended)",
                     "none": "missing files"}[kind],
                 med(cell, "cpu"), med(cell, "user"), med(cell, "sys"), med(cell, "faults"),
                 med(cell, "peak")))

    print()
    print("Ticks stepped by kestrune --test against the window's own, CPU ms per tick "
          "(user + system), one texture")
    print()
    print("| scene | window | stepped | stepped / window |")
    print("|---|---:|---:|---:|")
    for n in SIZES:
        window, _ = cpu(ticks[(n, 1, "bmp")])
        print("| %d nodes | %.2f | %.2f | %.2f |"
              % (n, window, med(stepped[n]), ratio(med(stepped[n]), window)))

    print()
    print("| measure | ours | reference | ours / reference | limit | ours / limit | peer "
          "| ours / peer |")
    print("|---|---:|---:|---:|---:|---:|---:|---:|")
    o, r, l = med(start["ours"]), med(start["ref"]), med(start["love"])
    print("| start to first frame (ms) | %.1f | %.1f | %.2f | | | %.1f | %.2f |"
          % (o, r, ratio(o, r), l, ratio(o, l)))
    print("| start to the end of one empty test, --test (ms) | %.1f | | | | | | |"
          % med(start["test"]))
    o, r, l = med(memory["ours"]), med(memory["ref"]), med(memory["love"])
    m = med(memory["limit"])
    print("| peak memory, 10,000 nodes (MiB) | %.1f | %.1f | %.2f | %.1f | %.2f | %.1f | %.2f |"
          % (o, r, ratio(o, r), m, ratio(o, m), l, ratio(o, l)))
    for name, values in sorted(micro.items()):
        kind = name.split("/")[1] if name.startswith("AddTextureLarge/") else None
        if kind in loads:
            o, r = med(values), med(loads[kind])
            print("| %s (ms) | %.1f | %.1f | %.2f | | | | |" % (name, o, r, ratio(o, r)))
        else:
            print("| %s (ms) | %.3f | | | | | | |" % (name, med(values)))

    # The scratch folders of this run: the texture files and the benchmark program's scenes.
    shutil.rmtree(folder, ignore_errors=True)
    for scratch in glob.glob("/tmp/kestrune-bench-*"):
        shutil.rmtree(scratch, ignore_errors=True)


if __name__ == "__main__":
    main()
