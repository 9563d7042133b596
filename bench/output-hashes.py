#!/usr/bin/env python3
"""The sha256 of every program and transport stream the conversion tests write, in the order written.

Runs the given CTest tests one at a time in BUILD_DIR and watches the Wine prefix's temporary
directory (where the tests' scratch directories are) and any directories named with --watch: each
output (.mpg, .vob, .ts, .m2ts, any case) is hashed when it is next opened or closed after it was
written, as the test's checks open it before they delete it (Wine's server may keep the writer's
descriptor open, so its close alone is not told in time). Compare two lists with diff: a change to the data path that keeps every output byte
for byte gives the same list.

  bench/output-hashes.py BUILD_DIR LIST [--watch DIR]... -- [ctest arguments, e.g. -R 'corpus|transport']
"""
import ctypes
import ctypes.util
import hashlib
import os
import select
import struct
import subprocess
import sys

IN_MODIFY = 0x02
IN_CLOSE_WRITE = 0x08
IN_CLOSE_NOWRITE = 0x10
IN_OPEN = 0x20
IN_CREATE = 0x100
IN_MOVED_TO = 0x80
IN_ISDIR = 0x40000000
OUTPUTS = (".mpg", ".vob", ".ts", ".m2ts")

libc = ctypes.CDLL(ctypes.util.find_library("c"), use_errno=True)


class Watcher:
    def __init__(self):
        self.fd = libc.inotify_init1(os.O_NONBLOCK)
        if self.fd < 0:
            raise OSError(ctypes.get_errno(), "inotify_init1")
        self.paths = {}

    def add_tree(self, top):
        for directory, subdirectories, _ in os.walk(top):
            self.add(directory)

    def add(self, directory):
        mask = IN_MODIFY | IN_CLOSE_WRITE | IN_CLOSE_NOWRITE | IN_OPEN | IN_CREATE | IN_MOVED_TO
        wd = libc.inotify_add_watch(self.fd, directory.encode(), mask)
        if wd >= 0:
            self.paths[wd] = directory

    def events(self, timeout):
        if not select.select([self.fd], [], [], timeout)[0]:
            return []
        data = os.read(self.fd, 1 << 20)
        found, offset = [], 0
        while offset < len(data):
            wd, mask, _, length = struct.unpack_from("iIII", data, offset)
            name = data[offset + 16:offset + 16 + length].rstrip(b"\0").decode(errors="replace")
            offset += 16 + length
            if wd in self.paths:
                found.append((mask, os.path.join(self.paths[wd], name)))
        return found


def sha256(path):
    digest = hashlib.sha256()
    with open(path, "rb") as data:
        for block in iter(lambda: data.read(1 << 20), b""):
            digest.update(block)
    return digest.hexdigest()


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
    watcher = Watcher()
    for top in temp_roots + watched:
        os.makedirs(top, exist_ok=True)
        watcher.add_tree(top)
    lines = []
    written = set()  # outputs modified since they were last hashed
    run = subprocess.Popen(["ctest", "-j1", "--output-on-failure"] + ctest, cwd=build)
    while True:
        ended = run.poll() is not None
        for mask, path in watcher.events(0.05 if not ended else 0.5):
            if mask & IN_ISDIR and mask & (IN_CREATE | IN_MOVED_TO):
                watcher.add_tree(path)
            elif not path.lower().endswith(OUTPUTS):
                continue
            elif mask & IN_MODIFY:
                written.add(path)
            elif mask & (IN_OPEN | IN_CLOSE_WRITE | IN_CLOSE_NOWRITE) and path in written:
                written.discard(path)
                try:
                    size = os.path.getsize(path)
                    if size > 0:
                        lines.append("%s %12d %s" % (sha256(path), size, os.path.relpath(path, build)))
                except OSError:
                    lines.append("gone before it was read %s" % os.path.relpath(path, build))
        if ended:
            break
    with open(listing, "w") as out:
        out.write("\n".join(lines) + "\n")
    print("%d outputs hashed into %s; ctest exit %d" % (len(lines), listing, run.returncode))
    return run.returncode


if __name__ == "__main__":
    sys.exit(main())
