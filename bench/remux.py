#!/usr/bin/env python3
"""Whole conversions of ~1 GB media-centre recordings at broadcast rates, measured from outside.

For each recording, interleaved in one run, three or more times each:
  halvern     the real Halvern.exe, already running with its Auto Converter waiting: the recording
              is linked into the input directory and the time runs until " - Done." (its writer
              flushes the output before the graph ends)
  in-process  bench/RemuxBench.cpp's ConvertFile call with the same graph, for the program's share
  ffmpeg      ffmpeg -c copy -f vob, then a flush of its output
  cp          cp, then a flush of the copy
Prints medians, ratios, Halvern's processor time (its own and the Wine server's) per media sample,
its peak resident memory above idle, and checks that every output holds the recording's streams
unchanged.

  bench/remux.sh [BUILD_DIR] [RUNS]    (builds what it needs, makes the recordings once)
"""
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
FFMPEG = ["/usr/bin/ffmpeg", "-v", "error", "-y"]
GRAPH = "Built-in DVR-MS to MPEG.xgr"
KEY = r"HKCU\Software\Morrowick\Halvern"
TICKS = os.sysconf("SC_CLK_TCK")

# name, description, video arguments, frames per piece, frame rate, audio arguments, audio format,
# size in bytes: about 1 GB, but the low-rate recording is shorter: the test-side writer slows down
# badly past some 300,000 objects under Wine's heap.
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
    subprocess.run(["sync", path], check=True)


def process_ticks(pid):
    fields = open("/proc/%d/stat" % pid).read().rsplit(")", 1)[1].split()
    return int(fields[11]) + int(fields[12])


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
        for directory in (self.input, self.output):
            shutil.rmtree(directory, ignore_errors=True)
            os.makedirs(directory)
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
        self.pid = find_process(lambda pid: open("/proc/%d/comm" % pid).read().strip() == "Halvern.exe")
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

    def convert(self, recording, name):
        done_before = self.text().count(" - Done.")
        failed_before = self.text().count(" - Failed.")
        ticks = process_ticks(self.pid) + process_ticks(self.server)
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
        processor = (process_ticks(self.pid) + process_ticks(self.server) - ticks) / TICKS
        peak = status_kib(self.pid, "VmHWM") - idle
        os.remove(link)
        return seconds, processor, peak, os.path.join(self.output, name + ".MPG")

    def close(self):
        subprocess.run(["wine", os.path.join(BUILD, "bin", "HalvernWindow.exe"), "close"], env=self.env,
                       capture_output=True)
        try:
            self.launcher.wait(60)
        finally:
            subprocess.run(["wineserver", "-k"], env=self.env, capture_output=True)
            self.display.terminate()


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
    if os.path.exists(output):
        os.remove(output)
    start = time.monotonic()
    subprocess.run(command + [output], check=True, stderr=subprocess.DEVNULL)
    flush(output)
    seconds = time.monotonic() - start
    os.remove(output)
    return seconds


def streams_unchanged(output, video_md5, audio_md5, audio_format):
    def md5(arguments):
        data = subprocess.run(["/usr/bin/ffmpeg", "-v", "error", "-i", output] + arguments + ["-"],
                              check=True, capture_output=True).stdout
        return subprocess.run(["md5sum"], input=data, check=True, capture_output=True).stdout.split()[0].decode()
    video = md5(["-map", "0:v", "-c", "copy", "-f", "mpeg2video"])
    audio = md5(["-map", "0:a", "-c", "copy", "-f", audio_format])
    return video == video_md5 and audio == audio_md5


def main():
    os.makedirs(VECTORS, exist_ok=True)
    recordings = [(name, description, make_recording(name, video, frames, rate, audio, audio_format, target))
                  for name, description, video, frames, rate, audio, audio_format, target in RECORDINGS]
    results = {name: {"halvern": [], "in-process": [], "ffmpeg": [], "cp": [], "processor": [], "peak": []}
               for name, _, _ in recordings}
    checks = {}
    halvern = Halvern()
    try:
        for run in range(1, RUNS + 1):
            for name, _, path in recordings:
                subprocess.run(["cat", path], stdout=subprocess.DEVNULL, check=True)  # all read it warm
                seconds, processor, peak, output = halvern.convert(path, "%s-%d" % (name, run))
                objects, video_md5, audio_md5, audio_format, _ = read_facts(path)
                if run == 1:
                    checks[name] = streams_unchanged(output, video_md5, audio_md5, audio_format)
                os.remove(output)
                row = results[name]
                row["halvern"].append(seconds)
                row["processor"].append(processor)
                row["peak"].append(peak)
                row["in-process"].append(in_process(path, name))
                row["ffmpeg"].append(external(FFMPEG + ["-i", path, "-c", "copy", "-f", "vob"],
                                              os.path.join(VECTORS, "ffmpeg.mpg")))
                row["cp"].append(external(["cp", path], os.path.join(VECTORS, "copy.dvr-ms")))
                print("run %d %-8s halvern %.2f s (processor %.2f s, peak +%.1f MiB), in-process %.2f s, "
                      "ffmpeg %.2f s, cp %.2f s" % (run, name, seconds, processor, peak / 1024,
                                                    row["in-process"][-1], row["ffmpeg"][-1], row["cp"][-1]),
                      flush=True)
    finally:
        halvern.close()

    print("--\nmedians of %d runs; times include the flush of the output" % RUNS)
    print("%-9s %7s %7s %7s %7s %7s %12s %9s %8s %10s %9s %s" % (
        "recording", "MB", "halvern", "in-proc", "ffmpeg", "cp", "ffmpeg/halv", "cp/halv", "µs/sample",
        "peak MiB", "MB/s", "streams"))
    failed = False
    for name, description, path in recordings:
        row = {key: statistics.median(values) for key, values in results[name].items()}
        objects, _, _, _, seconds = read_facts(path)
        size = os.path.getsize(path)
        print("%-9s %7.0f %7.2f %7.2f %7.2f %7.2f %12.2f %9.2f %8.1f %10.1f %9.0f %s" % (
            name, size / 1e6, row["halvern"], row["in-process"], row["ffmpeg"], row["cp"],
            row["ffmpeg"] / row["halvern"], row["cp"] / row["halvern"], row["processor"] / objects * 1e6,
            max(results[name]["peak"]) / 1024, size / 1e6 / row["halvern"],
            "unchanged" if checks[name] else "DIFFER"))
        print("          %s; %d media samples, %.0f s" % (description, objects, seconds))
        failed = failed or not checks[name]
    print("µs/sample: processor time of Halvern and of the Wine server per media sample; peak: the largest "
          "resident size above idle over the runs")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
