#!/usr/bin/env python3
"""Whole conversions of ~1 GB media-centre recordings at broadcast rates, measured from outside.

For each recording, interleaved in one run, three or more times each, with the output on the disk
and again in memory (a directory on /dev/shm):
  halvern     the real Halvern.exe, already running with its Auto Converter waiting: the recording
              is linked into the input directory and the time runs until " - Done." (its writer
              flushes the output before the graph ends); its output directory is a link, pointed
              at the disk or at memory before each run
  in-process  bench/RemuxBench.cpp's ConvertFile call with the same graph, for the program's share
              (on the disk only)
  ffmpeg      ffmpeg -c copy -f vob, then a flush of its output
  cp          cp, then a flush of the copy
Prints medians: processor time per gigabyte of recording of Halvern (its own and the Wine server's)
and of ffmpeg (with its flush), and their ratio, with the output in memory and on the disk (the
disk's speed swings several times over after a few gigabytes of writes, processor time does not;
but on the disk Halvern's time holds the writing back of its output, which it flushes itself, and
ffmpeg's mostly does not: the kernel's threads do it, charged to no process); wall times on the disk and in memory; Halvern's processor time per
media sample and its peak resident memory above idle; and checks that every output holds the
recording's streams unchanged (but for the caption user data put into the video).

  bench/remux.sh [BUILD_DIR] [RUNS]    (builds what it needs, makes the recordings once)
"""
import hashlib
import os
import re
import shutil
import statistics
import subprocess
import sys
import time

TOP = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(TOP, "build", "x86_64"))
RUNS = int(sys.argv[2]) if len(sys.argv) > 2 else 3
VECTORS = os.path.join(BUILD, "bench-vectors")
MEMORY = "/dev/shm/halvern-bench"
FFMPEG = ["/usr/bin/ffmpeg", "-v", "error", "-y"]
GRAPH = "Built-in DVR-MS to MPEG.xgr"
KEY = r"HKCU\Software\Morrowick\Halvern"
TICKS = os.sysconf("SC_CLK_TCK")

# name, description, video arguments, frames per piece, frame rate, audio arguments, audio format,
# size in bytes: about 1 GB, but the low-rate recording is shorter: the test-side writer slows down
# badly past some 300,000 objects under Wine's heap. The 15 Mb/s one is above DVD-Video's rate, a
# plain program stream at a higher mux rate.
RECORDINGS = [
    ("sd-6m", "SD 720x576i 25 fps, MPEG-2 6 Mb/s, MP2 192 kb/s",
     ["-f", "lavfi", "-i", "testsrc2=size=720x576:rate=25", "-vf", "noise=alls=20:allf=t",
      "-c:v", "mpeg2video", "-flags", "+ilme+ildct+cgop", "-sc_threshold", "1000000000", "-top", "1", "-g", "12", "-bf", "2",
      "-b:v", "6M", "-maxrate", "6M", "-bufsize", "1835k"], 500, 25.0,
     ["-ac", "2", "-c:a", "mp2", "-b:a", "192k"], "mp2", 1_000_000_000),
    ("hd-18m", "HD 1920x1080i 29.97 fps, MPEG-2 18 Mb/s, AC-3 5.1 448 kb/s",
     ["-f", "lavfi", "-i", "testsrc2=size=1920x1080:rate=30000/1001", "-vf", "noise=alls=12:allf=t",
      "-c:v", "mpeg2video", "-flags", "+ilme+ildct+cgop", "-sc_threshold", "1000000000", "-top", "1", "-g", "15", "-bf", "2",
      "-b:v", "18M", "-maxrate", "19M", "-bufsize", "7995392"], 600, 30000 / 1001,
     ["-af", "aformat=channel_layouts=5.1", "-c:a", "ac3", "-b:a", "448k"], "ac3", 1_000_000_000),
    ("low-1.5m", "SD 720x576i 25 fps, MPEG-2 1.5 Mb/s, MP2 128 kb/s",
     ["-f", "lavfi", "-i", "testsrc2=size=720x576:rate=25", "-vf", "noise=alls=4:allf=t",
      "-c:v", "mpeg2video", "-flags", "+ilme+ildct+cgop", "-sc_threshold", "1000000000", "-top", "1", "-g", "12", "-bf", "2",
      "-b:v", "1500k", "-maxrate", "1500k", "-bufsize", "1835k"], 500, 25.0,
     ["-ac", "2", "-c:a", "mp2", "-b:a", "128k"], "mp2", 400_000_000),
    ("ntsc-15m", "SD 720x480i 29.97 fps, MPEG-2 15 Mb/s, AC-3 2.0 384 kb/s",
     ["-f", "lavfi", "-i", "testsrc2=size=720x480:rate=30000/1001", "-vf", "noise=alls=40:allf=t",
      "-c:v", "mpeg2video", "-flags", "+ilme+ildct+cgop", "-sc_threshold", "1000000000", "-top", "1", "-g", "15", "-bf", "2",
      "-b:v", "15M", "-maxrate", "15M", "-bufsize", "1835k"], 600, 30000 / 1001,
     ["-ac", "2", "-c:a", "ac3", "-b:a", "384k"], "ac3", 1_000_000_000),
]


def windows(path):
    return "Z:" + path.replace("/", "\\")


def wine_env():
    env = dict(os.environ, WINEPREFIX=os.path.join(BUILD, "bench-prefix"), WINEDEBUG="-all",
               WINEDLLOVERRIDES="mscoree,mshtml=")
    return env


def make_recording(name, video_args, frames, rate, audio_args, audio_format, target):
    """A piece of video joined end to end to the target size (each piece starts with a closed GOP
    and its sequence header), with audio made at the full length so no join in it drifts."""
    path = os.path.join(VECTORS, name + ".dvr-ms")
    facts = path + ".facts"
    if os.path.exists(path) and os.path.exists(facts):
        return path
    piece = os.path.join(VECTORS, name + "-piece.m2v")
    subprocess.run(FFMPEG + video_args + ["-frames:v", str(frames), "-f", "mpeg2video", piece], check=True)
    copies = -(-target // os.path.getsize(piece))
    video = os.path.join(VECTORS, name + ".m2v")
    with open(video, "wb") as joined, open(piece, "rb") as source:
        data = source.read()
        for _ in range(copies):
            joined.write(data)
    os.remove(piece)
    seconds = copies * frames / rate
    audio = os.path.join(VECTORS, name + "." + audio_format)
    subprocess.run(FFMPEG + ["-f", "lavfi", "-i", "sine=frequency=440:sample_rate=48000:duration=%.3f" % seconds]
                   + audio_args + ["-f", audio_format, audio], check=True)
    made = subprocess.run(["wine", os.path.join(BUILD, "bin", "remux_bench.exe"), "make", windows(video),
                           windows(audio), windows(path + ".part")], env=wine_env(), check=True,
                          capture_output=True, text=True).stdout
    objects = int(re.search(r"(\d+) objects", made).group(1))
    video_md5 = subprocess.run(["md5sum", video], check=True, capture_output=True, text=True).stdout.split()[0]
    audio_md5 = subprocess.run(["md5sum", audio], check=True, capture_output=True, text=True).stdout.split()[0]
    os.remove(video)
    os.remove(audio)
    os.rename(path + ".part", path)
    with open(facts, "w") as out:
        out.write("%d %s %s %s %.1f\n" % (objects, video_md5, audio_md5, audio_format, seconds))
    return path


def read_facts(path):
    objects, video_md5, audio_md5, audio_format, seconds = open(path + ".facts").read().split()
    return int(objects), video_md5, audio_md5, audio_format, float(seconds)


def flush(path):
    """Writes the file's data out; the processor time that took (user and system, and system)."""
    # The child is held until waited for: a Popen dropped at once may be reaped by the next one.
    child = subprocess.Popen(["sync", path])
    _, status, usage = os.wait4(child.pid, 0)
    child.returncode = os.waitstatus_to_exitcode(status)
    if child.returncode != 0:
        raise RuntimeError("sync failed")
    return usage.ru_utime + usage.ru_stime, usage.ru_stime


def process_ticks(pids):
    """The processes' processor time so far in clock ticks: user and system, and system alone (the
    kernel's work for them)."""
    total = system = 0
    for pid in pids:
        fields = open("/proc/%d/stat" % pid).read().rsplit(")", 1)[1].split()
        total += int(fields[11]) + int(fields[12])
        system += int(fields[12])
    return total, system


def status_kib(pid, field):
    for line in open("/proc/%d/status" % pid):
        if line.startswith(field + ":"):
            return int(line.split()[1])
    return 0


def find_process(predicate):
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            if predicate(int(entry)):
                return int(entry)
        except OSError:
            pass
    return None


class Halvern:
    """Halvern.exe on a display of its own, its Auto Converter watching an input directory."""

    def __init__(self):
        self.input = os.path.join(VECTORS, "in")
        self.output = os.path.join(VECTORS, "out-halvern")
        self.places = {"disk": os.path.join(VECTORS, "out-halvern-disk"), "memory": os.path.join(MEMORY, "out-halvern")}
        for directory in [self.input] + list(self.places.values()):
            shutil.rmtree(directory, ignore_errors=True)
            os.makedirs(directory)
        if os.path.islink(self.output):
            os.remove(self.output)
        shutil.rmtree(self.output, ignore_errors=True)
        os.symlink(self.places["disk"], self.output)
        env = wine_env()
        self.display = subprocess.Popen(["Xvfb", ":77", "-screen", "0", "800x600x24", "-nolisten", "tcp"],
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        env["DISPLAY"] = ":77"
        time.sleep(1)
        subprocess.run(["wineserver", "-k"], env=env, capture_output=True)
        settings = [("InputPath", windows(self.input)), ("OutputPath", windows(self.output)),
                    ("InputExt", "dvr-ms"), ("OutputExt", "MPG"), ("UseFilterGraph", GRAPH)]
        for value, data in settings:
            subprocess.run(["wine", "reg", "add", KEY, "/v", value, "/d", data, "/f"], env=env, capture_output=True)
        for value, data in (("DeleteSourceFile", "0"), ("AutoStartConvert", "1"), ("HideOnStartup", "1")):
            subprocess.run(["wine", "reg", "add", KEY, "/v", value, "/t", "REG_DWORD", "/d", data, "/f"], env=env,
                           capture_output=True)
        subprocess.run(["wineserver", "-p"], env=env)
        self.log_path = os.path.join(VECTORS, "halvern.out")
        self.log = open(self.log_path, "wb")
        self.launcher = subprocess.Popen(["wine", os.path.join(BUILD, "bin", "Halvern.exe")], env=env,
                                         stdout=self.log, stderr=subprocess.DEVNULL)
        self.wait_for(lambda text: "Waiting for new recording" in text, 60)
        # Ours, not one of another prefix's (tests may run beside the bench).
        ours = ("WINEPREFIX=" + env["WINEPREFIX"]).encode()
        self.pid = find_process(lambda pid: open("/proc/%d/comm" % pid).read().strip() == "Halvern.exe"
                                and ours in open("/proc/%d/environ" % pid, "rb").read().split(b"\0"))
        server_directory = "server-%x-%x" % (os.stat(env["WINEPREFIX"]).st_dev, os.stat(env["WINEPREFIX"]).st_ino)
        self.server = find_process(lambda pid: open("/proc/%d/comm" % pid).read().startswith("wineserver")
                                   and os.readlink("/proc/%d/cwd" % pid).endswith("/" + server_directory))
        self.env = env

    def text(self):
        return open(self.log_path, "rb").read().decode("latin-1")

    def wait_for(self, condition, seconds):
        deadline = time.monotonic() + seconds
        while not condition(self.text()):
            if time.monotonic() > deadline or self.launcher.poll() is not None:
                raise RuntimeError("Halvern did not get there:\n" + self.text())
            time.sleep(0.002)

    def write_to(self, place):
        os.remove(self.output)
        os.symlink(self.places[place], self.output)

    def convert(self, recording, name):
        done_before = self.text().count(" - Done.")
        failed_before = self.text().count(" - Failed.")
        ticks = process_ticks([self.pid, self.server])
        with open("/proc/%d/clear_refs" % self.pid, "w") as refs:
            refs.write("5")  # resets the peak resident size
        idle = status_kib(self.pid, "VmRSS")
        link = os.path.join(self.input, name + ".dvr-ms")
        start = time.monotonic()
        os.link(recording, link)
        # The worker wakes on a write in the directory, as a recorder's last write makes one (a new
        # name alone waits for its next scan): the last byte is written again as it is.
        with open(link, "r+b") as written:
            written.seek(-1, os.SEEK_END)
            last = written.read(1)
            written.seek(-1, os.SEEK_END)
            written.write(last)
        self.wait_for(lambda text: text.count(" - Done.") > done_before or text.count(" - Failed.") > failed_before,
                      600)
        seconds = time.monotonic() - start
        if self.text().count(" - Done.") == done_before:
            raise RuntimeError("Halvern failed to convert %s:\n%s" % (name, self.text()))
        now = process_ticks([self.pid, self.server])
        processor, system = (now[0] - ticks[0]) / TICKS, (now[1] - ticks[1]) / TICKS
        peak = status_kib(self.pid, "VmHWM") - idle
        os.remove(link)
        return seconds, processor, system, peak, os.path.join(self.output, name + ".MPG")

    def close(self):
        subprocess.run(["wine", os.path.join(BUILD, "bin", "HalvernWindow.exe"), "close"], env=self.env,
                       capture_output=True)
        try:
            self.launcher.wait(60)
        finally:
            subprocess.run(["wineserver", "-k"], env=self.env, capture_output=True)
            self.display.terminate()
            os.remove(self.output)


def in_process(recording, name):
    out = os.path.join(VECTORS, "out-inprocess")
    shutil.rmtree(out, ignore_errors=True)
    os.makedirs(out)
    text = subprocess.run(["wine", os.path.join(BUILD, "bin", "remux_bench.exe"), "convert", windows(recording),
                           windows(out)], env=wine_env(), check=True, capture_output=True, text=True).stdout
    figures = dict(line.split() for line in text.replace("\r", "").splitlines() if line.count(" ") == 1)
    shutil.rmtree(out)
    return float(figures["seconds"])


def external(command, output):
    """Wall time with the flush, and the processor time of the command and of the flush (user and
    system, and system alone): Halvern flushes its output itself, so its time holds its own flushes."""
    if os.path.exists(output):
        os.remove(output)
    start = time.monotonic()
    child = subprocess.Popen(command + [output], stderr=subprocess.DEVNULL)
    _, status, usage = os.wait4(child.pid, 0)
    child.returncode = os.waitstatus_to_exitcode(status)
    if child.returncode != 0:
        raise RuntimeError("%s failed" % command[0])
    flushing, flushing_system = flush(output)
    seconds = time.monotonic() - start
    os.remove(output)
    return seconds, usage.ru_utime + usage.ru_stime + flushing, usage.ru_stime + flushing_system


def streams_unchanged(output, video_md5, audio_md5, audio_format):
    """Whether the output's video and audio are the recording's, byte for byte, but for the caption
    user data the multiplexer puts into the video (the recordings carry captions; the pictures the
    recordings were made from carry no user data)."""
    def stream(arguments):
        return subprocess.run(["/usr/bin/ffmpeg", "-v", "error", "-i", output] + arguments + ["-"],
                              check=True, capture_output=True).stdout
    video = stream(["-map", "0:v", "-c", "copy", "-f", "mpeg2video"])
    digest = hashlib.md5()
    at = 0
    while at < len(video):
        start = video.find(b"\x00\x00\x01\xb2", at)
        digest.update(video[at:start if start >= 0 else len(video)])
        if start < 0:
            break
        following = video.find(b"\x00\x00\x01", start + 4)
        at = following if following >= 0 else len(video)
    audio = hashlib.md5(stream(["-map", "0:a", "-c", "copy", "-f", audio_format])).hexdigest()
    return digest.hexdigest() == video_md5 and audio == audio_md5


def main():
    os.makedirs(VECTORS, exist_ok=True)
    os.makedirs(MEMORY, exist_ok=True)
    only = os.environ.get("HALVERN_BENCH_ONLY", "").split(",")  # e.g. sd-6m,hd-18m: some recordings only
    # Smaller recordings, for a quick look on a busy machine: HALVERN_BENCH_MB=200.
    most = int(os.environ.get("HALVERN_BENCH_MB", "0")) * 1_000_000
    sized = [(name + ("-%dmb" % (most // 1_000_000) if most else ""), description, video, frames, rate, audio,
              audio_format, min(target, most) if most else target)
             for name, description, video, frames, rate, audio, audio_format, target in RECORDINGS]
    recordings = [(name, description, make_recording(name, video, frames, rate, audio, audio_format, target))
                  for name, description, video, frames, rate, audio, audio_format, target in sized
                  if only == [""] or name.split("-")[0] + "-" + name.split("-")[1] in only]
    keys = ["halvern", "halvern-mem", "in-process", "ffmpeg", "ffmpeg-mem", "cp", "cp-mem", "processor", "processor-mem",
            "ffmpeg-processor", "ffmpeg-processor-mem", "system-mem", "ffmpeg-system-mem", "peak"]
    results = {name: {key: [] for key in keys} for name, _, _ in recordings}
    checks, digests = {}, {}
    halvern = Halvern()
    try:
        for run in range(1, RUNS + 1):
            for name, _, path in recordings:
                subprocess.run(["cat", path], stdout=subprocess.DEVNULL, check=True)  # all read it warm
                objects, video_md5, audio_md5, audio_format, _ = read_facts(path)
                row = results[name]
                for place, suffix, directory in (("disk", "", VECTORS), ("memory", "-mem", MEMORY)):
                    halvern.write_to(place)
                    seconds, processor, system, peak, output = halvern.convert(path, "%s-%d" % (name, run))
                    if run == 1 and place == "disk":
                        checks[name] = streams_unchanged(output, video_md5, audio_md5, audio_format)
                        with open(output, "rb") as data:
                            digests[name] = hashlib.file_digest(data, "sha256").hexdigest()
                    os.remove(output)
                    row["halvern" + suffix].append(seconds)
                    row["processor" + suffix].append(processor)
                    row["peak"].append(peak)
                    if place == "memory":
                        row["system-mem"].append(system)
                    seconds, processor, system = external(FFMPEG + ["-i", path, "-c", "copy", "-f", "vob"],
                                                  os.path.join(directory, "ffmpeg.mpg"))
                    row["ffmpeg" + suffix].append(seconds)
                    row["ffmpeg-processor" + suffix].append(processor)
                    if place == "memory":
                        row["ffmpeg-system-mem"].append(system)
                    row["cp" + suffix].append(external(["cp", path], os.path.join(directory, "copy.dvr-ms"))[0])
                row["in-process"].append(in_process(path, name))
                print("run %d %-8s halvern %.2f s, in memory %.2f s (processor %.2f s, %.2f s, peak +%.1f MiB), "
                      "in-process %.2f s, ffmpeg %.2f s, in memory %.2f s (processor %.2f s, %.2f s), cp %.2f s, "
                      "in memory %.2f s" % (run, name, row["halvern"][-1], row["halvern-mem"][-1], row["processor"][-1],
                                            row["processor-mem"][-1], max(row["peak"][-2:]) / 1024, row["in-process"][-1],
                                            row["ffmpeg"][-1], row["ffmpeg-mem"][-1], row["ffmpeg-processor"][-1],
                                            row["ffmpeg-processor-mem"][-1], row["cp"][-1], row["cp-mem"][-1]),
                      flush=True)
    finally:
        halvern.close()
        shutil.rmtree(MEMORY, ignore_errors=True)

    print("--\nmedians of %d runs; wall times include the flush of the output" % RUNS)
    print("%-9s %6s | %-22s | %-22s | %-23s | %-23s | %-9s %9s %8s %s" % (
        "", "", "processor s/GB, memory", "processor s/GB, disk", "wall s, output on disk", "wall s, output in memory",
        "", "", "", ""))
    print("%-9s %6s | %7s %7s %6s | %7s %7s %6s | %7s %7s %7s | %7s %7s %7s | %9s %9s %8s %s" % (
        "recording", "MB", "halvern", "ffmpeg", "h/f", "halvern", "ffmpeg", "h/f", "halvern", "ffmpeg", "cp",
        "halvern", "ffmpeg", "cp", "in-proc s", "µs/sample", "peak MiB", "streams"))
    failed = False
    for name, description, path in recordings:
        row = {key: statistics.median(values) for key, values in results[name].items()}
        objects, _, _, _, seconds = read_facts(path)
        size = os.path.getsize(path)
        gb = size / 1e9
        print("%-9s %6.0f | %7.3f %7.3f %6.2f | %7.3f %7.3f %6.2f | %7.2f %7.2f %7.2f | %7.2f %7.2f %7.2f | %9.2f %9.1f "
              "%8.1f %s" % (
            name, size / 1e6, row["processor-mem"] / gb, row["ffmpeg-processor-mem"] / gb,
            row["processor-mem"] / row["ffmpeg-processor-mem"], row["processor"] / gb, row["ffmpeg-processor"] / gb,
            row["processor"] / row["ffmpeg-processor"], row["halvern"], row["ffmpeg"], row["cp"],
            row["halvern-mem"], row["ffmpeg-mem"], row["cp-mem"], row["in-process"], row["processor-mem"] / objects * 1e6,
            max(results[name]["peak"]) / 1024, "unchanged" if checks[name] else "DIFFER"))
        print("          %s; %d media samples, %.0f s; output sha256 %s" % (description, objects, seconds,
                                                                                digests[name]))
        print("          of the processor s/GB in memory, system: halvern %.3f, ffmpeg %.3f; user: halvern %.3f, "
              "ffmpeg %.3f" % (row["system-mem"] / gb, row["ffmpeg-system-mem"] / gb,
                               (row["processor-mem"] - row["system-mem"]) / gb,
                               (row["ffmpeg-processor-mem"] - row["ffmpeg-system-mem"]) / gb))
        failed = failed or not checks[name]
    print("processor: Halvern's own and the Wine server's, and ffmpeg's and its flush's (user and system), per GB of "
          "recording, with the output in memory and on the disk; h/f their ratio. On the disk Halvern writes its "
          "output back\nitself (it flushes as it goes, and before it reports success), while the kernel's own "
          "threads, which no process is charged for, write most of ffmpeg's;\n"
          "µs/sample: Halvern's processor time per media sample, output in memory; peak: the largest resident "
          "size above idle over the runs")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
