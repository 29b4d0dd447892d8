"""Measures one launcher build under Wine (or on Windows itself): the time a restart takes
against a bare start-and-wait loop, resident memory over a long run of restarts, CPU time while
the child runs, and the program's size. Prints the figures.

Usage: bench.py BUILD_DIR [--starts N] [--rounds R] [--long N]
"""
import argparse
import os
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tests", "whole"))
from machine import Machine, PRIMARY, SECONDARY, REG_SZ, quoted, wide  # noqa: E402

HOME = r"C:\quorvel-bench\jre"
PROGRAM = HOME + r"\bin\javaw.exe"
COMMAND_TEXT = "-jar Quorvel.jar --quorvel"
ATTEMPTS = 3


class Bench:
    def __init__(self, build):
        self.build = os.path.abspath(build)
        names = [n for n in os.listdir(self.build) if n.startswith("launcher") and
                 n.endswith(".exe")]
        self.launcher = os.path.join(self.build, names[0])
        self.bits = 64 if "64" in names[0] else 32
        self.machine = Machine(os.path.join(self.build, "bench", "prefix"),
                               os.path.join(self.build, "tests", "standin.exe"),
                               os.path.join(self.build, "tests", "regset.exe"))
        self.refusals = 0
        self.refusal_lines = set()
        self.work = tempfile.mkdtemp(prefix="work-", dir=os.path.join(self.build, "bench"))
        with open(os.path.join(self.work, "command_line.txt"), "w") as f:
            f.write(COMMAND_TEXT)

    def prepare(self):
        self.machine.start()
        key = PRIMARY if self.bits == 64 else SECONDARY
        self.machine.registry([(64, key, "CurrentVersion", REG_SZ, wide("1.8")),
                               (64, key + r"\1.8", "JavaHome", REG_SZ, wide(HOME))])
        self.bin = self.machine.host_path(HOME + r"\bin")
        os.makedirs(self.bin, exist_ok=True)
        with open(os.path.join(self.build, "bench", "bench_child.exe"), "rb") as f:
            child = f.read()
        with open(os.path.join(self.bin, "javaw.exe"), "wb") as f:
            f.write(child)

    def script_child(self, starts, pauses=()):
        for name in os.listdir(self.bin):
            if name.startswith(("paused-", "resume-", "count")):
                os.remove(os.path.join(self.bin, name))
        with open(os.path.join(self.bin, "bench.txt"), "w") as f:
            f.write(" ".join(str(n) for n in [starts, *pauses]) + "\n")

    def started(self, program, args=()):
        # Output to a file, as where a packager keeps the launcher's log. (Wine writes to a
        # character device such as /dev/null at about 2 ms a call, which would swamp the rest.)
        self.errors = tempfile.TemporaryFile()
        return subprocess.Popen(self.machine.command(program, *args), cwd=self.work,
                                stdout=self.errors, stderr=self.errors)

    def failed(self, what):
        self.errors.seek(0)
        sys.exit("%s\n%s" % (what, self.errors.read().decode(errors="replace")))

    def timed(self, program, args, starts):
        for _ in range(ATTEMPTS):
            self.script_child(starts)
            begin = time.perf_counter()
            process = self.started(program, args)
            status = process.wait(timeout=3600)
            elapsed = time.perf_counter() - begin
            if status == 0:
                return elapsed * 1000 / starts
            self.note_refusal()
        self.failed("%s ended with %d" % (program, status))

    def note_refusal(self):
        """Wine now and then fails a start (EINVAL, about one in a few thousand), which ends
        a run early: such a run is counted and made again."""
        self.refusals += 1
        self.errors.seek(0)
        lines = self.errors.read().decode(errors="replace").splitlines()
        self.refusal_lines.update(line for line in lines if "Unable to execute" in line or
                                  "cannot start" in line)

    def restart_cost(self, starts, rounds):
        bare = os.path.join(self.build, "bench", "bare_loop.exe")
        bare_args = (PROGRAM, quoted(PROGRAM), COMMAND_TEXT)
        launcher, loop = [], []
        for r in range(rounds):
            # Alternating, and swapping which goes first, so drift touches both alike.
            pair = [(launcher, self.launcher, ()), (loop, bare, bare_args)]
            for times, program, args in (pair if r % 2 == 0 else pair[::-1]):
                times.append(self.timed(program, args, starts))
        # Each round's two runs stand side by side in time, so their ratio escapes slow drift.
        ratio = statistics.median(a / b for a, b in zip(launcher, loop))
        return statistics.median(launcher), statistics.median(loop), ratio

    def cycle_steps(self):
        """The launcher's own steps of a cycle, timed inside the process."""
        process = self.started(os.path.join(self.build, "bench", "cycle_cost.exe"))
        if process.wait(timeout=600) != 0:
            self.failed("cycle_cost failed")
        self.errors.seek(0)
        return [line for line in self.errors.read().decode().splitlines()
                if line.startswith("per cycle")][0]

    def wait_for(self, name, process):
        """Whether the child wrote name before the launcher ended."""
        path = os.path.join(self.bin, name)
        deadline = time.monotonic() + 600
        while not os.path.exists(path):
            if process.poll() is not None:
                return False
            if time.monotonic() > deadline:
                process.kill()
                self.failed("the child never wrote " + name)
            time.sleep(0.01)
        return True

    def resume(self, start):
        open(os.path.join(self.bin, "resume-%d" % start), "w").close()

    @staticmethod
    def resident_kib(pid):
        with open("/proc/%d/status" % pid) as f:
            for line in f:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1])
        raise ValueError("no VmRSS")

    @staticmethod
    def cpu_ms(pid):
        with open("/proc/%d/stat" % pid) as f:
            fields = f.read().rsplit(")", 1)[1].split()
        ticks = int(fields[11]) + int(fields[12])  # utime, stime
        return ticks * 1000 / os.sysconf("SC_CLK_TCK")

    def long_run(self, restarts):
        """Resident memory after 100 and after `restarts` restarts."""
        for _ in range(ATTEMPTS):
            marks = [101, restarts + 1]
            self.script_child(restarts + 1, marks)
            process = self.started(self.launcher)
            samples = []
            for mark in marks:
                if not self.wait_for("paused-%d" % mark, process):
                    break
                samples.append(self.resident_kib(process.pid))
                self.resume(mark)
            if process.wait(timeout=600) == 0 and len(samples) == len(marks):
                return samples
            self.note_refusal()
        self.failed("the long run did not end with 0")

    def cpu_while_waiting(self, seconds):
        self.script_child(1, [1])
        process = self.started(self.launcher)
        if not self.wait_for("paused-1", process):
            self.failed("the child never started")
        before = self.cpu_ms(process.pid)
        time.sleep(seconds)
        after = self.cpu_ms(process.pid)
        self.resume(1)
        process.wait(timeout=600)
        return after - before


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build")
    parser.add_argument("--starts", type=int, default=200)
    parser.add_argument("--rounds", type=int, default=7)
    parser.add_argument("--long", type=int, default=2000)
    options = parser.parse_args()
    bench = Bench(options.build)
    bench.prepare()
    try:
        name = os.path.basename(bench.launcher)
        arch = "x86-64" if bench.bits == 64 else "x86"
        print("%s (%s): %d bytes" % (name, arch, os.path.getsize(bench.launcher)), flush=True)
        launcher, loop, ratio = bench.restart_cost(options.starts, options.rounds)
        print("  per start, median of %d runs of %d starts: launcher %.2f ms, bare loop %.2f ms,"
              " ratio %.3f (median of the rounds' ratios)"
              % (options.rounds, options.starts, launcher, loop, ratio), flush=True)
        print("  launcher's own work " + bench.cycle_steps(), flush=True)
        early, late = bench.long_run(options.long)
        print("  resident memory: %d KiB after 100 restarts, %d KiB after %d, growth %+d KiB"
              % (early, late, options.long, late - early), flush=True)
        print("  CPU time while the child ran 10 s: %.0f ms" % bench.cpu_while_waiting(10),
              flush=True)
        if bench.refusals:
            print("  Wine failed a start in %d run(s), made again: %s"
                  % (bench.refusals, "; ".join(sorted(bench.refusal_lines))), flush=True)
    finally:
        bench.machine.stop()


if __name__ == "__main__":
    main()
