"""Whole-program tests: the real launcher under Wine (or on a disposable Windows machine), with a
scripted stand-in runtime, the real registry in both views, and real files.

Usage: test_whole.py LAUNCHER STANDIN REGSET PREFIX [unittest arguments]
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

from machine import (Machine, PRIMARY, SECONDARY, REG_SZ, REG_EXPAND_SZ, REG_BINARY, REG_DWORD,
                     quoted, wide)

LAUNCHER, STANDIN, REGSET, PREFIX = sys.argv[1:5]
# The stand-in built for either bitness and subsystem, beside the build's own.
RUNTIMES = os.path.join(os.path.dirname(STANDIN), "runtimes")
ARCH = 64 if os.path.basename(LAUNCHER).startswith("launcher64") else 32
machine = None
LAUNCHER_WINDOWS = None  # the launcher's path as Windows programs see it

FALLBACK = r"c:\windows\system32\javaw.exe"
FALLBACK_LINE = "Unable to find installed JRE, going with fallback.\r\n"
OPEN_FAILURE = "Unable to open command_line.txt (going with default: -jar Quorvel.jar): "
READ_FAILURE = "Unable to read command_line.txt (going with default: -jar Quorvel.jar): "
DEFAULT_TEXT = "-jar Quorvel.jar --quorvel"
JRE64, JRE32 = r"C:\quorvel\jre64", r"C:\quorvel\jre32"
OWN = JRE64 if ARCH == 64 else JRE32  # the runtime each build finds when both are registered
# 32-bit programs find c:\windows\system32 redirected to SysWOW64.
FALLBACK_FOLDER = r"C:\windows\system32" if ARCH == 64 else r"C:\windows\syswow64"
ACCESS_VIOLATION = -1073741819  # 0xC0000005


def emulated_i386():
    """Whether this host runs 32-bit x86 code only through an emulator (qemu's user mode, which
    reports an access violation to Wine as an illegal instruction, 0xC000001D). Asked of a 32-bit
    program itself, the system's 32-bit dynamic loader: under an emulator it is told the
    emulator's machine, not the kernel's. That holds in a chroot too, where the emulator's
    registration is out of sight."""
    if ARCH != 32 or os.name == "nt":
        return False
    command = ["/lib/ld-linux.so.2", "--list-diagnostics"]
    try:
        probe = subprocess.run(command, capture_output=True, text=True, errors="replace")
        said = "ended with %d and said %r" % (probe.returncode,
                                              (probe.stdout + probe.stderr)[-300:])
    except OSError as error:
        probe, said = None, "could not start: %s" % error
    found = probe and re.search(r'^uname\.machine="([^"]*)"$', probe.stdout, re.M)
    if not found or probe.returncode:
        sys.exit("Cannot tell whether 32-bit programs run under an emulator here: %s %s"
                 % (" ".join(command), said))
    return found.group(1) != os.uname().machine


CRASH_STATUSES = {ACCESS_VIOLATION, -1073741795} if emulated_i386() else {ACCESS_VIOLATION}


def registration(view, home, key=None):
    key = key or (PRIMARY if view == 64 else SECONDARY)
    return [(64, key, "CurrentVersion", REG_SZ, wide("1.8")),
            (64, key + r"\1.8", "JavaHome", REG_SZ, wide(home))]


def both_registered():
    return registration(64, JRE64) + registration(32, JRE32)


def going(text):
    return "Going with command line: " + text + "\r\n"


def report(program, text):
    return '_wspawnl(_P_WAIT, %s, %s, "%s", NULL)\r\n' % (program, quoted(program), text)


def cycle(program, text, fallback=False):
    return (FALLBACK_LINE if fallback else "") + going(text) + report(program, text)


def returned(status):
    return "Return value: %d\r\n" % status


def without_wine_noise(text):
    """Wine's own notes (for instance on a crashing child) are not the launcher's."""
    return "".join(line for line in text.splitlines(True) if not line.startswith("wine: "))


class Run:
    def __init__(self, status, out, err, starts, arguments, work):
        self.status, self.out, self.err, self.starts, self.work = status, out, err, starts, work
        self.arguments = arguments  # each start's, as the child's C runtime split them


class WholeProgram(unittest.TestCase):
    maxDiff = None

    def launch(self, registry=(), scripts=None, files=None, folders=(), args=(), streams=None,
               before_run=None, program=None, runtime=None):
        """Runs the launcher once in a fresh working folder. scripts maps stand-in folders
        (C:\\ paths of a bin folder) to scripts; the fallback folders and the registered
        runtimes' folders get "exit 0" unless given. runtime is the stand-in build they get
        (the build's own by default). Returns what happened."""
        machine.registry(list(registry))
        all_scripts = {JRE64 + r"\bin": ["exit 0"], JRE32 + r"\bin": ["exit 0"],
                       r"C:\windows\system32": ["exit 0"], r"C:\windows\syswow64": ["exit 0"]}
        all_scripts.update(scripts or {})
        hosts = {folder: machine.install_standin(folder, script, runtime)
                 for folder, script in all_scripts.items()}
        work = tempfile.mkdtemp(prefix="case-", dir=os.path.dirname(PREFIX))
        self.addCleanup(shutil.rmtree, work, True)
        for name, data in (files or {}).items():
            with open(os.path.join(work, name), "wb") as f:
                f.write(data)
        for name in folders:
            os.mkdir(os.path.join(work, name))
        if before_run:
            before_run(work)
        if streams is None:
            streams = dict(stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        result = machine.run(program or LAUNCHER, args, cwd=work, **streams)
        records = [(folder, record) for folder, host in hosts.items()
                   for record in machine.starts(host)]
        # A stream not captured is None, so that no test reads it as empty.
        decode = lambda b: None if b is None else without_wine_noise(b.decode("utf-8", "replace"))
        return Run(result.returncode, decode(result.stdout), decode(result.stderr),
                   [(folder, cwd, line) for folder, (_, cwd, line, _) in records],
                   [args for _, (_, _, _, args) in records], machine.windows_path(work))

    def hold(self, path, cwd=None):
        """Keeps the file at path open without sharing until the test ends."""
        holder = subprocess.Popen(machine.command(STANDIN, "--hold", path), cwd=cwd,
                                  stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        self.addCleanup(holder.stdout.close)
        self.addCleanup(holder.wait, 60)
        self.addCleanup(holder.stdin.close)
        self.assertEqual(holder.stdout.readline().strip(), b"held")

    def assert_started(self, run, folder, text, count=1):
        """count starts, all of the stand-in in folder with text, in the working folder."""
        program = FALLBACK if folder == FALLBACK_FOLDER else folder + r"\javaw.exe"
        expected = [(folder, run.work, quoted(program) + " " + text)] * count
        self.assertEqual(run.starts, expected)


class Lifecycle(WholeProgram):
    def test_status_protocol(self):
        text = "-jar app.jar"
        program = OWN + r"\bin\javaw.exe"
        cases = [
            # name, script, launcher status, what stdout holds after the cycles' own lines
            ("zero the first time", ["exit 0"], 0),
            ("restarts on 1, 7 and a crash, then zero", ["exit 1", "exit 7", "crash", "exit 0"],
             0),
            ("child returns -1 after a restart", ["exit 3", "exit -1"], 1),
        ]
        for name, script, status in cases:
            with self.subTest(name):
                run = self.launch(both_registered(), {OWN + r"\bin": script},
                                  {"command_line.txt": text.encode()})
                self.assertEqual(run.status, status, run.out + run.err)
                self.assert_started(run, OWN + r"\bin", text, len(script))
                lines = run.out.splitlines(True)
                expected = []
                for i, command in enumerate(script):
                    expected += cycle(program, text).splitlines(True)
                    if i + 1 < len(script):
                        code = lines[len(expected)] if len(lines) > len(expected) else ""
                        if command == "crash":
                            self.assertIn(code, [returned(s) for s in CRASH_STATUSES])
                            expected.append(code)
                        else:
                            expected.append(returned(int(command.split()[1])))
                if status == 0:
                    self.assertEqual(run.out, "".join(expected))
                    self.assertEqual(run.err, "")
                else:
                    # Whatever error number is current; "Invalid mode?" only if it is EINVAL.
                    self.assertTrue(run.err.startswith("Unable to execute quorvel: "), run.err)
                    tail = "Invalid mode?\r\n" if "Invalid argument" in run.err else ""
                    self.assertEqual(run.out, "".join(expected) + tail)

    def test_start_failures(self):
        cases = [
            # name, home holding something other than a program, error line, stdout tail, and
            # whether Wine's own _wspawnl words it alike (where its runtime library maps the
            # system's error as Microsoft's does)
            ("no such folder", r"C:\quorvel\missing", "No such file or directory", "", True),
            ("bin without javaw.exe", r"C:\quorvel\uninstalled", "No such file or directory", "",
             True),
            # ERROR_BAD_EXE_FORMAT: Wine's runtime library says EINVAL, Microsoft's ENOEXEC.
            ("javaw.exe a text file", r"C:\quorvel\textfile", "Exec format error", "", False),
            ("javaw.exe an empty file", r"C:\quorvel\emptyfile", "Exec format error", "", False),
            ("javaw.exe a folder", r"C:\quorvel\folder", "Bad file descriptor", "", True),
            ("javaw.exe held open without sharing", r"C:\quorvel\held", "Permission denied", "",
             True),
            # ERROR_INVALID_NAME: Microsoft's has no entry for it (EINVAL); Wine's _wspawnl
            # fails earlier, on another error.
            ("a name no file can have", r"C:\quorvel\a|b", "Invalid argument", "Invalid mode?\r\n",
             False),
        ]
        for home, data in [("textfile", "not a program\n"), ("emptyfile", "")]:
            os.makedirs(machine.host_path(r"C:\quorvel\%s\bin" % home), exist_ok=True)
            with open(machine.host_path(r"C:\quorvel\%s\bin\javaw.exe" % home), "w") as f:
                f.write(data)
        os.makedirs(machine.host_path(r"C:\quorvel\uninstalled\bin"), exist_ok=True)
        os.makedirs(machine.host_path(r"C:\quorvel\folder\bin\javaw.exe"), exist_ok=True)
        os.makedirs(machine.host_path(r"C:\quorvel\held\bin"), exist_ok=True)
        self.hold(r"C:\quorvel\held\bin\javaw.exe")
        for name, home, error, tail, as_wine_spawns in cases:
            with self.subTest(name):
                program = home + r"\bin\javaw.exe"
                run = self.launch(registration(ARCH, home), files={"command_line.txt": b"-jar a"})
                self.assertEqual(run.status, 1, run.out + run.err)
                self.assertEqual(run.starts, [])
                self.assertEqual(run.out, cycle(program, "-jar a") + tail)
                self.assertEqual(run.err, "Unable to execute quorvel: %s\r\n" % error)
                if as_wine_spawns:
                    own = machine.run(STANDIN, ["--spawn", program], capture_output=True)
                    self.assertEqual((own.returncode, own.stderr.decode()), (1, run.err))

    def test_registry_and_file_changed_between_starts(self):
        new_home = r"C:\quorvel\jre-new"
        view = 64 if ARCH == 64 else 32
        script = ["command -jar new.jar --again ; javahome %d %s ; exit 1"
                  % (view, new_home.replace("\\", "\\\\"))]
        run = self.launch(both_registered(),
                          {OWN + r"\bin": script, new_home + r"\bin": ["exit 0"]},
                          {"command_line.txt": b"-jar old.jar\n"})
        self.assertEqual(run.status, 0, run.out + run.err)
        self.assertEqual(run.starts, [
            (OWN + r"\bin", run.work, quoted(OWN + r"\bin\javaw.exe") + " -jar old.jar"),
            (new_home + r"\bin", run.work,
             quoted(new_home + r"\bin\javaw.exe") + " -jar new.jar --again"),
        ])
        self.assertEqual(run.out, cycle(OWN + r"\bin\javaw.exe", "-jar old.jar") + returned(1) +
                         cycle(new_home + r"\bin\javaw.exe", "-jar new.jar --again"))

    def test_arguments_change_nothing(self):
        runs = [self.launch(both_registered(), {OWN + r"\bin": ["exit 2", "exit 0"]},
                            {"command_line.txt": b"-jar a.jar"}, args=args)
                for args in [(), ("--help",), ("-jar", "other.jar", "x y", "*.txt", "/?")]]
        for run in runs:
            self.assertEqual((run.status, run.out, run.err), (0, runs[0].out, ""))
            self.assert_started(run, OWN + r"\bin", "-jar a.jar", 2)


class Registry(WholeProgram):
    def test_views_and_lookup_order(self):
        p, s = PRIMARY, SECONDARY
        only32 = registration(32, JRE32)
        # name, registry, folder started by the 64-bit build, by the 32-bit build
        cases = [
            ("nothing registered", [], None, None),
            ("64-bit runtime only", registration(64, JRE64), JRE64, None),
            ("32-bit runtime only", only32, JRE32, JRE32),
            ("both runtimes", both_registered(), JRE64, JRE32),
            ("primary key without CurrentVersion; secondary never read",
             [(64, p)] + only32, None, JRE32),
            ("primary version without JavaHome; secondary never read",
             [(64, p, "CurrentVersion", REG_SZ, wide("1.8")), (64, p + r"\1.8")] + only32,
             None, JRE32),
            ("CurrentVersion names no subkey",
             [(64, k, "CurrentVersion", REG_SZ, wide("9")) for k in (p, s)] +
             [(64, k + r"\1.8", "JavaHome", REG_SZ, wide(JRE64)) for k in (p, s)], None, None),
        ]
        for name, registry, found64, found32 in cases:
            with self.subTest(name):
                found = found64 if ARCH == 64 else found32
                run = self.launch(registry, files={"command_line.txt": b"-jar a"})
                self.assertEqual(run.status, 0, run.out + run.err)
                self.assertEqual(run.err, "")
                if found:
                    self.assertEqual(run.out, cycle(found + r"\bin\javaw.exe", "-jar a"))
                    self.assert_started(run, found + r"\bin", "-jar a")
                else:
                    self.assertEqual(run.out, cycle(FALLBACK, "-jar a", fallback=True))
                    self.assert_started(run, FALLBACK_FOLDER, "-jar a")

    def test_stored_values(self):
        long_home = lambda n: r"C:\q" + "".join("\\" + "d" * 99 for _ in range(5)) + "\\" + \
            "e" * (n - 4 - 500 - 1)
        home511, home512 = long_home(511), long_home(512)
        assert (len(home511), len(home512)) == (511, 512)
        jre64 = r"C:\quorvel\jre64\bin\javaw.exe"
        # name, JavaHome type, data, program path, folder started (None: start failure)
        cases = [
            ("without terminator", REG_SZ, wide(JRE64, False), jre64, JRE64 + r"\bin"),
            ("odd byte count", REG_SZ, wide(JRE64, False) + b"x", jre64, JRE64 + r"\bin"),
            ("REG_BINARY with an odd byte count", REG_BINARY, wide(JRE64, False) + b"x", jre64,
             JRE64 + r"\bin"),
            ("REG_DWORD holding two characters", REG_DWORD, wide("C:", False),
             r"C:\bin\javaw.exe", r"C:\bin"),
            ("ending in a backslash", REG_SZ, wide(JRE64 + "\\"),
             r"C:\quorvel\jre64\\bin\javaw.exe", JRE64 + r"\bin"),
            # 525 characters name the program, past what Windows starts (MAX_PATH).
            ("511 characters", REG_SZ, wide(home511), home511 + r"\bin\javaw.exe", None),
            ("512 characters", REG_SZ, wide(home512), FALLBACK, FALLBACK_FOLDER),
            ("REG_EXPAND_SZ, used unexpanded", REG_EXPAND_SZ, wide(r"%SystemDrive%\quorvel\jre64"),
             r"%SystemDrive%\quorvel\jre64\bin\javaw.exe", None),
        ]
        for name, kind, data, program, started in cases:
            with self.subTest(name):
                registry = [(64, k, "CurrentVersion", REG_SZ, wide("1.8")) for k in
                            (PRIMARY, SECONDARY)] + \
                    [(64, k + r"\1.8", "JavaHome", kind, data) for k in (PRIMARY, SECONDARY)]
                scripts = {started: ["exit 0"]} if started else {}
                run = self.launch(registry, scripts, {"command_line.txt": b"-jar a"})
                self.assertEqual(run.out, cycle(program, "-jar a", fallback=program == FALLBACK))
                if started is None:
                    self.assertEqual(run.status, 1, run.out + run.err)
                    self.assertEqual(run.starts, [])
                    self.assertEqual(run.err,
                                     "Unable to execute quorvel: No such file or directory\r\n")
                else:
                    self.assertEqual((run.status, run.err), (0, ""))
                    self.assertEqual(run.starts,
                                     [(started, run.work, quoted(program) + " -jar a")])


class CommandFile(WholeProgram):
    def test_first_line_as_it_stands(self):
        line1022, line1023 = "a" * 1022, "a" * 1023
        # name, file bytes, command text, arguments as the child's C runtime splits them
        cases = [
            ("line feed not kept", b"-jar Quorvel.jar\n", "-jar Quorvel.jar",
             ("-jar", "Quorvel.jar")),
            ("CR LF not kept", b"-jar Quorvel.jar\r\nsecond\r\n", "-jar Quorvel.jar",
             ("-jar", "Quorvel.jar")),
            ("CR CR LF not kept", b"-jar a.jar\r\r\n", "-jar a.jar", ("-jar", "a.jar")),
            ("blanks and a tab before the line break kept", b"-jar a.jar \t \n",
             "-jar a.jar \t ", ("-jar", "a.jar")),
            ("text beyond Latin-1 and the Basic Multilingual Plane",
             "-Dname=é€😀 -jar q.jar\n".encode(), "-Dname=é€😀 -jar q.jar",
             ("-Dname=é€😀", "-jar", "q.jar")),
            ("UTF-8 byte-order mark", b"\xef\xbb\xbf-jar b.jar", "-jar b.jar", ("-jar", "b.jar")),
            ("UTF-16LE byte-order mark, CR LF", b"\xff\xfe" + "-jar ü.jar\r\n".encode("utf-16-le"),
             "-jar ü.jar", ("-jar", "ü.jar")),
            ("several lines", b"-jar one.jar\n-jar two.jar\n", "-jar one.jar", ("-jar", "one.jar")),
            ("1022 characters and a line feed", (line1022 + "\n").encode(), line1022, (line1022,)),
            ("1023 characters cut before the line feed", (line1023 + "\n").encode(), line1023,
             (line1023,)),
            ("longer line cut", (line1023 + "bcd\n").encode(), line1023, (line1023,)),
            ("quotes and blanks handed on", b'-cp "C:\\My Apps\\x.jar"  Main',
             '-cp "C:\\My Apps\\x.jar"  Main', ("-cp", "C:\\My Apps\\x.jar", "Main")),
            ("empty file", b"", DEFAULT_TEXT, ("-jar", "Quorvel.jar", "--quorvel")),
            ("first line only a line break", b"\n-jar late.jar\n", DEFAULT_TEXT,
             ("-jar", "Quorvel.jar", "--quorvel")),
            # Each stretch that is no UTF-8 becomes U+FFFD. Microsoft's runtime library does the
            # same: it converts what it reads with MultiByteToWideChar(CP_UTF8, 0, ...). There, a
            # read whose last byte is a continuation byte with no lead byte before it fails
            # instead (EILSEQ): the unreadable-file case.
            ("bytes that are no UTF-8", b"-Dx=\xc3\x28\xff -jar q", "-Dx=\ufffd(\ufffd -jar q",
             ("-Dx=\ufffd(\ufffd", "-jar", "q")),
        ]
        for name, data, text, arguments in cases:
            with self.subTest(name):
                run = self.launch(both_registered(), files={"command_line.txt": data})
                self.assertEqual((run.status, run.err), (0, ""))
                self.assertEqual(run.out, cycle(OWN + r"\bin\javaw.exe", text))
                self.assert_started(run, OWN + r"\bin", text)
                self.assertEqual(run.arguments, [arguments])

    def test_unreadable_file_gives_the_default(self):
        hold = lambda work: self.hold("command_line.txt", work)
        # Opens, but every read fails there (as a file not in UTF-8 does on Windows).
        unreadable = lambda work: os.symlink("/proc/self/mem",
                                             os.path.join(work, "command_line.txt"))
        cases = [
            # name, files, folders, before the run, error line (None: whatever reason the read
            # failure gives)
            ("no file", {}, (), None, OPEN_FAILURE + "No such file or directory"),
            ("held open without sharing", {}, (), hold, OPEN_FAILURE + "Permission denied"),
            ("a folder of that name", {}, ("command_line.txt",), None,
             OPEN_FAILURE + "Permission denied"),
            ("opens but cannot be read", {}, (), unreadable, None),
        ]
        for name, files, folders, before_run, error in cases:
            if machine.native and before_run is unreadable:
                continue
            with self.subTest(name):
                run = self.launch(both_registered(), files=files, folders=folders,
                                  before_run=before_run)
                self.assertEqual(run.status, 0, run.out + run.err)
                if error:
                    self.assertEqual(run.err, error + "\r\n")
                else:
                    self.assertRegex(run.err, "^" + re.escape(READ_FAILURE) + "[^\r\n]+\r\n$")
                self.assertEqual(run.out, report(OWN + r"\bin\javaw.exe", DEFAULT_TEXT))
                self.assert_started(run, OWN + r"\bin", DEFAULT_TEXT)

    def test_default_text_and_fallback_path_together(self):
        run = self.launch([], {FALLBACK_FOLDER: ["exit 0"]})
        self.assertEqual(run.status, 0, run.out + run.err)
        self.assert_started(run, FALLBACK_FOLDER, DEFAULT_TEXT)
        self.assertEqual(run.starts[0][2],
                         '"c:\\\\windows\\\\system32\\\\javaw.exe" -jar Quorvel.jar --quorvel')
        self.assertEqual(run.out, FALLBACK_LINE + report(FALLBACK, DEFAULT_TEXT))


class Streams(WholeProgram):
    def test_launcher_lines_come_before_the_childs_output(self):
        run = self.launch(both_registered(), {OWN + r"\bin": ["print child speaks ; exit 5",
                                                              "exit 0"]},
                          {"command_line.txt": b"-jar a"},
                          streams=dict(stdout=subprocess.PIPE, stderr=subprocess.STDOUT))
        program = OWN + r"\bin\javaw.exe"
        self.assertEqual(run.out, cycle(program, "-jar a") + "child speaks\r\n" + returned(5) +
                         cycle(program, "-jar a"))

    def test_runtime_output_reaches_the_matching_stream(self):
        # What a Java runtime writes, through the C runtime or its standard handles, whatever
        # its bitness and subsystem.
        program = OWN + r"\bin\javaw.exe"
        said = lambda stream: "q: %s, C runtime\r\nq: %s, handle\r\n" % (stream, stream)
        for bits in (64, 32):
            for subsystem in ("console", "windows"):
                with self.subTest(runtime="%d-bit %s" % (bits, subsystem)):
                    runtime = os.path.join(RUNTIMES, "standin%d-%s.exe" % (bits, subsystem))
                    run = self.launch(both_registered(), {OWN + r"\bin": ["speak q ; exit 0"]},
                                      {"command_line.txt": b"-jar a"}, runtime=runtime)
                    self.assertEqual(run.status, 0, run.out + run.err)
                    self.assertEqual(run.out, cycle(program, "-jar a") + said("stdout"))
                    self.assertEqual(run.err, said("stderr"))

    def test_failure_line_after_buffered_output(self):
        # The fallback line (standard output) is still buffered when the missing file's line
        # (standard error) is written: it comes first on one stream, and where standard output
        # is closed its failed flush does not change the reason. (Wine's start-up then opens the
        # working folder, read-only, into the free descriptor 1: writes to it fail.)
        closed = dict(stdout=None, stderr=subprocess.PIPE, preexec_fn=lambda: os.close(1))
        missing = OPEN_FAILURE + "No such file or directory\r\n"
        cases = [
            # name, streams, standard output, standard error (None: not captured)
            ("one stream for both", dict(stdout=subprocess.PIPE, stderr=subprocess.STDOUT),
             FALLBACK_LINE + missing + report(FALLBACK, DEFAULT_TEXT), None),
            ("standard output closed", closed, None, missing),
        ]
        for name, streams, out, err in cases:
            if machine.native and streams is closed:
                continue
            with self.subTest(name):
                run = self.launch([], {FALLBACK_FOLDER: ["exit 0"]}, streams=streams)
                self.assertEqual((run.status, run.out, run.err), (0, out, err))
                self.assert_started(run, FALLBACK_FOLDER, DEFAULT_TEXT)

    def test_without_standard_streams(self):
        # As when started from Explorer (no streams), or with a reader that went away.
        for mode in ["none", "broken"]:
            with self.subTest(mode):
                run = self.launch(both_registered(), {OWN + r"\bin": ["exit 4", "exit 0"]},
                                  {"command_line.txt": b"-jar a"},
                                  program=STANDIN, args=("--bare", mode, LAUNCHER_WINDOWS))
                self.assertEqual(run.status, 0, mode)
                self.assert_started(run, OWN + r"\bin", "-jar a", 2)


def main():
    global machine, LAUNCHER_WINDOWS
    machine = Machine(PREFIX, STANDIN, REGSET)
    LAUNCHER_WINDOWS = machine.windows_path(LAUNCHER)
    machine.start()
    try:
        program = unittest.main(argv=[sys.argv[0]] + sys.argv[5:], exit=False, verbosity=2)
    finally:
        machine.stop()
    sys.exit(0 if program.result.wasSuccessful() else 1)


if __name__ == "__main__":
    main()
