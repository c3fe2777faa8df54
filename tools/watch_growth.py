#!/usr/bin/env python3
"""Saves a watched scene's Test.lua over and over and measures what each start costs and keeps.

    tools/watch_growth.py [--program build/kestrune] [--reloads 1000]

Runs `kestrune --watch SCENE` on a scene of two textures (1024 by 1024 and 256 by 256) and a few
hundred nodes, rewrites its Test.lua in place once the previous version has printed, and times
each save until the new version's print arrives on standard output. After the first start
again, and after every tenth of the run, it reads the program's resident memory and open file
descriptors from /proc, and its live texture objects from a small library loaded with
LD_PRELOAD (tools/live_textures.c, compiled here with cc). Runs under Xvfb when there is no
$DISPLAY. Ends with status 1 when descriptors or live textures grew from the first start again
to the last, or resident memory by more than 16 MiB.
"""

import argparse
import os
import select
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

import images

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def scene_script(generation):
    return f"""-- Version {generation} of a scene that is saved again and again.
local big = createTexture("big.bmp", 1024, 1024)
local small = createTexture("small.bmp", 256, 256)
root.setAttr{{ width = 800, height = 600 }}
for i = 1, 300 do
  local n = root.createNode{{ left = (i * 37) % 760, top = (i * 53) % 560, width = 40, height = 40 }}
  n.createPicture("a", big, (i * 8) % 1000, 0, 24, 24)
  n.createPicture("b", small)
  n.setPicture(i % 2 == 0 and "a" or "b")
end
print("generation", {generation}, big, small)
"""


def start_xvfb():
    read_end, write_end = os.pipe()
    server = subprocess.Popen(
        ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1280x1024x24", "-nolisten", "tcp"],
        pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write_end)
    number = b""
    while not number.endswith(b"\n"):
        chunk = os.read(read_end, 16)
        if not chunk:
            raise SystemExit("Xvfb did not start")
        number += chunk
    os.close(read_end)
    return server, ":" + number.decode().strip()


def figures(pid, live_file):
    rss = 0
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                rss = int(line.split()[1])
    fds = len(os.listdir(f"/proc/{pid}/fd"))
    try:
        with open(live_file) as f:
            textures = int(f.read().strip() or -1)
    except (OSError, ValueError):
        textures = -1
    return {"rss_kib": rss, "fds": fds, "textures": textures}


class Lines:
    """Standard output of the program, line by line, with a deadline."""

    def __init__(self, stream):
        self.fd = stream.fileno()
        self.buffer = b""

    def wait_for(self, text, seconds):
        deadline = time.monotonic() + seconds
        wanted = text.encode()
        while True:
            while b"\n" in self.buffer:
                line, self.buffer = self.buffer.split(b"\n", 1)
                if line.startswith(wanted):
                    return time.monotonic()
            left = deadline - time.monotonic()
            if left <= 0:
                return None
            ready, _, _ = select.select([self.fd], [], [], left)
            if ready:
                chunk = os.read(self.fd, 65536)
                if not chunk:
                    return None
                self.buffer += chunk


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--program", default=os.path.join(ROOT, "build", "kestrune"))
    parser.add_argument("--reloads", type=int, default=1000)
    args = parser.parse_args()

    work = tempfile.mkdtemp(prefix="kestrune-watch-growth-")
    server = None
    program = None
    try:
        shim = os.path.join(work, "live_textures.so")
        subprocess.run(["cc", "-shared", "-fPIC", "-O2", "-o", shim,
                        os.path.join(ROOT, "tools", "live_textures.c"), "-ldl"], check=True)
        scene = os.path.join(work, "scene")
        os.mkdir(scene)
        # Patterns that run from the bottom row up.
        with open(os.path.join(scene, "big.bmp"), "wb") as f:
            f.write(images.bmp(1024, 1024, lambda x, y: (x % 256, (1023 - y) % 256,
                                                         (x ^ (1023 - y)) % 256)))
        with open(os.path.join(scene, "small.bmp"), "wb") as f:
            f.write(images.bmp(256, 256, lambda x, y: (255 - x, 255 - y, 128)))
        script = os.path.join(scene, "Test.lua")
        with open(script, "w") as f:
            f.write(scene_script(0))

        env = dict(os.environ)
        if not env.get("DISPLAY"):
            server, env["DISPLAY"] = start_xvfb()
        live_file = os.path.join(work, "live-textures")
        env["LD_PRELOAD"] = shim
        env["KESTRUNE_LIVE_TEXTURES"] = live_file
        errors = open(os.path.join(work, "stderr.txt"), "wb")
        program = subprocess.Popen([os.path.abspath(args.program), "--watch", scene], cwd=work,
                                   env=env, stdout=subprocess.PIPE, stderr=errors)
        lines = Lines(program.stdout)
        if lines.wait_for("generation\t0\t", 30) is None:
            raise SystemExit("the scene did not start")

        latencies = []
        samples = []
        checkpoints = {1} | {max(1, args.reloads * k // 10) for k in range(1, 11)}
        for generation in range(1, args.reloads + 1):
            with open(script, "w") as f:
                f.write(scene_script(generation))
            saved = time.monotonic()
            seen = lines.wait_for(f"generation\t{generation}\t0\t1", 10)
            if seen is None:
                raise SystemExit(f"save {generation} was not picked up within 10 s")
            latencies.append(seen - saved)
            if generation in checkpoints:
                time.sleep(0.5)  # a few frames, so every figure is the scene's own
                samples.append((generation, figures(program.pid, live_file)))

        print(f"{args.reloads} saves of Test.lua, each started again from scratch")
        ms = sorted(1000 * t for t in latencies)
        print("save to the new version's print, ms: min %.0f, median %.0f, 95th %.0f, max %.0f" %
              (ms[0], statistics.median(ms), ms[int(0.95 * (len(ms) - 1))], ms[-1]))
        print("%8s %14s %8s %14s" % ("starts", "resident KiB", "fds", "live textures"))
        for generation, f in samples:
            print("%8d %14d %8d %14d" % (generation, f["rss_kib"], f["fds"], f["textures"]))
        first, last = samples[0][1], samples[-1][1]
        grew = (last["fds"] > first["fds"] or last["textures"] > first["textures"] or
                last["rss_kib"] - first["rss_kib"] > 16 * 1024)
        print("growth from the first start again to the last: resident %+d KiB, fds %+d, "
              "live textures %+d" % (last["rss_kib"] - first["rss_kib"], last["fds"] - first["fds"],
                                     last["textures"] - first["textures"]))
        return 1 if grew else 0
    finally:
        if program is not None:
            program.terminate()
            program.wait()
        if server is not None:
            server.terminate()
            server.wait()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
