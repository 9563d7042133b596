#!/usr/bin/env python3
"""The sha256 of every program and transport stream the conversion tests write, in the order written.

Runs the given CTest tests one at a time in BUILD_DIR and looks at the Wine prefix's temporary
directory (where the tests' scratch directories are) and any directories named with --watch a few
times a second: each output (.mpg, .vob, .ts, .m2ts, any case) that stayed the same for a whole
pause is hashed, as the tests' checks take seconds before they delete it. Compare two lists with
diff: a change to the data path that keeps every output byte for byte gives the same list.

  bench/output-hashes.py BUILD_DIR LIST [--watch DIR]... -- [ctest arguments, e.g. -R 'corpus|transport']
"""
import hashlib
import os
import subprocess
import sys
import time

OUTPUTS = (".mpg", ".vob", ".ts", ".m2ts")
STABLE_SECONDS = 0.4


def main():
    arguments = sys.argv[1:]
    split = arguments.index("--") if "--" in arguments else len(arguments)
    own, ctest = arguments[:split], arguments[split + 1:]
    build, listing = os.path.abspath(own[0]), own[1]
    watched = [own[i + 1] for i, value in enumerate(own) if value == "--watch"]
    prefix = os.path.join(build, "wineprefix")
    if not os.path.isdir(os.path.join(prefix, "drive_c", "users")):
        subprocess.run(["ctest", "-R", "^wine_setup$"], cwd=build, check=True, stdout=subprocess.DEVNULL)
    temp_roots = [os.path.join(root, name) for root, names, _ in os.walk(os.path.join(prefix, "drive_c", "users"))
                  for name in names if name.lower() == "temp"]
    # Polled rather than told by inotify: Wine's writes and closes reach it too late or not at all.
    lines = []
    seen = {}  # path -> (inode, size, mtime) when last looked at
    hashed = {}  # path -> the state hashed
    run = subprocess.Popen(["ctest", "-j1", "--output-on-failure"] + ctest, cwd=build)
    while True:
        ended = run.poll() is not None
        now = {}
        for top in temp_roots + watched:
            for directory, _, names in os.walk(top):
                for name in names:
                    if name.lower().endswith(OUTPUTS):
                        path = os.path.join(directory, name)
                        try:
                            state = os.stat(path)
                        except OSError:
                            continue
                        now[path] = (state.st_ino, state.st_size, state.st_mtime_ns)
        for path, state in now.items():
            # Unchanged for a whole pause: written; hashed once for each state.
            if state[1] > 0 and seen.get(path) == state and hashed.get(path) != state:
                try:
                    with open(path, "rb") as data:
                        digest = hashlib.file_digest(data, "sha256").hexdigest()
                    lines.append("%s %12d %s" % (digest, state[1], os.path.relpath(path, build)))
                    hashed[path] = state
                except OSError:
                    pass
        seen = now
        if ended:
            break
        time.sleep(STABLE_SECONDS)
    with open(listing, "w") as out:
        out.write("\n".join(lines) + "\n")
    print("%d outputs hashed into %s; ctest exit %d" % (len(lines), listing, run.returncode))
    return run.returncode


if __name__ == "__main__":
    sys.exit(main())
