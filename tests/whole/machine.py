"""A Windows machine for whole-program tests: a Wine prefix of the test's own (or, on Windows
itself, the machine the tests run on), its registry, stand-in runtimes and working folders."""
import os
import shutil
import subprocess
import sys
import tempfile

# Every Windows program runs through it, so that all of them start the same way.
WINE_RUN = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts",
                        "wine-run")
PRIMARY = r"SOFTWARE\JavaSoft\Java Runtime Environment"
SECONDARY = r"SOFTWARE\Wow6432Node\JavaSoft\Java Runtime Environment"
REG_SZ, REG_EXPAND_SZ, REG_BINARY, REG_DWORD = 1, 2, 3, 4
DEADLINE = 60  # seconds any one program may take


def wide(text, terminated=True):
    return (text + ("\0" if terminated else "")).encode("utf-16-le")


def quoted(path):
    """A program path as the launcher quotes it: in double quotes, every backslash and double
    quote escaped with a backslash."""
    return '"' + path.replace("\\", "\\\\").replace('"', '\\"') + '"'


class Machine:
    def __init__(self, prefix, standin, regset):
        self.native = os.name == "nt"
        if self.native and os.environ.get("QUORVEL_DISPOSABLE_MACHINE") != "1":
            sys.exit("These tests rewrite HKLM\\SOFTWARE\\JavaSoft. Run them on Windows only on a "
                     "disposable machine, with QUORVEL_DISPOSABLE_MACHINE=1.")
        self.prefix = os.path.abspath(prefix)
        self.standin = standin
        self.regset_exe = regset
        self.drive_c = "C:\\" if self.native else os.path.join(self.prefix, "drive_c")
        self.server = None

    def start(self):
        """Creates the prefix if need be and keeps one Wine server for the whole run, which holds
        the prefix before any program of the run touches it: every program talks to it."""
        if self.native:
            return
        # scripts/wine-run turns address-space randomisation off where it can, since it now and
        # then makes a start fail.
        if subprocess.run(["setarch", "-R", "true"], stderr=subprocess.DEVNULL).returncode:
            print("Address-space randomisation cannot be turned off here: Wine may fail a start "
                  "now and then.", file=sys.stderr)
        quiet = dict(stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        # A server left from an earlier, interrupted run would hold stale processes.
        subprocess.run(self.command("wineserver", "-k"), **quiet)
        # The first program creates the prefix and starts a server of its own, which is ended and
        # waited out: once it is gone, no process of the prefix is left to start another.
        subprocess.run(self.command("cmd", "/c", "exit"), check=True, **quiet)
        subprocess.run(self.command("wineserver", "-k"), **quiet)
        subprocess.run(self.command("wineserver", "-w"), **quiet)
        # The run's server, before any program: a program that finds no server starts one of its
        # own, and a server that finds the prefix's lock taken ends with status 2. Started in the
        # background, the server returns once it holds the lock and takes requests.
        status = subprocess.run(self.command("wineserver", "-p")).returncode
        assert status == 0, self.not_ours("could not start (status %d)" % status)
        self.server = next((pid for pid, locked in self.prefix_servers() if locked), None)
        assert self.server, self.not_ours("is gone")
        # The first program starts Wine's own processes under that server, with streams that
        # nobody reads; the server must still hold the prefix after it.
        self.run("cmd", ["/c", "exit"], check=True, **quiet)
        assert (self.server, True) in self.prefix_servers(), self.not_ours("lost the prefix")

    def prefix_servers(self):
        """The Wine servers of the prefix, whoever started them, each (pid, holds the prefix's
        lock). A server keeps open the lock file of a folder named after the prefix's device
        and inode."""
        prefix = os.stat(self.prefix)
        lock_file = "/server-%x-%x/lock" % (prefix.st_dev, prefix.st_ino)
        with open("/proc/locks") as f:
            locks = {tuple(fields[4:6]) for fields in (line.split() for line in f)
                     if fields[1] == "POSIX"}
        servers = []
        for pid in filter(str.isdigit, os.listdir("/proc")):
            fds = "/proc/%s/fd/" % pid
            try:
                lock = next((os.stat(fds + fd) for fd in os.listdir(fds)
                             if os.readlink(fds + fd).endswith(lock_file)), None)
            except OSError:
                continue  # gone, or not ours to look into
            if lock:
                device = "%02x:%02x:%d" % (os.major(lock.st_dev), os.minor(lock.st_dev),
                                           lock.st_ino)
                servers.append((int(pid), (pid, device) in locks))
        return servers

    def not_ours(self, what):
        """What befell the run's server, naming every server that the prefix has instead."""
        why = "the Wine server for the run %s" % what
        for pid, locked in self.prefix_servers():
            if pid != self.server:
                try:
                    with open("/proc/%d/cmdline" % pid) as f:
                        command = f.read().replace("\0", " ").strip()
                except OSError:
                    command = "?"
                why += "; %s pid %d: %s" % ("the prefix is held by" if locked else
                                          "another server,", pid, command)
        return why

    def stop(self):
        if self.server:
            subprocess.run(self.command("wineserver", "-k"))

    def command(self, program, *args):
        return ([program] if self.native else [WINE_RUN, self.prefix, program]) + list(args)

    def run(self, program, args=(), cwd=None, stdin=None, **streams):
        """Runs a program to its end. What it writes is caught in files, not pipes: Wine's
        desktop process (explorer.exe), when a program's start brings it up, keeps that
        program's streams and stays as long as any other program of the prefix runs, so a pipe
        would not end with the program."""
        if stdin is None:
            streams.setdefault("stdin", subprocess.DEVNULL)
        if streams.pop("capture_output", False):
            streams.update(stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        caught = {name: tempfile.TemporaryFile() for name in ("stdout", "stderr")
                  if streams.get(name) == subprocess.PIPE}
        streams.update(caught)
        try:
            result = subprocess.run(self.command(program, *args), cwd=cwd, input=stdin,
                                    timeout=DEADLINE, **streams)
            for name, file in caught.items():
                file.seek(0)
                setattr(result, name, file.read())
        finally:
            for file in caught.values():
                file.close()
        return result

    def host_path(self, windows_path):
        """Where a C:\\ path of the machine lies on this host."""
        assert windows_path[:3].lower() == "c:\\"
        return os.path.join(self.drive_c, *windows_path[3:].split("\\"))

    # The registry.
    def registry(self, entries):
        """Clears both views' Java registrations, then writes entries: (view, key) or
        (view, key, name, type, bytes)."""
        lines = ["clear"]
        for entry in entries:
            fields = [str(entry[0]), entry[1]]
            if len(entry) > 2:
                fields += [entry[2], str(entry[3]), entry[4].hex()]
            lines.append("\t".join(fields))
        result = self.run(self.regset_exe, stdin=("\n".join(lines) + "\n").encode(),
                          capture_output=True)
        assert result.returncode == 0, result.stderr.decode(errors="replace")

    # Stand-in runtimes.
    def install_standin(self, folder, script, program=None):
        """Puts the stand-in (or program, another build of it) at folder\\javaw.exe (a C:\\
        path) with its script; returns the host folder."""
        host = self.host_path(folder)
        os.makedirs(host, exist_ok=True)
        shutil.copyfile(program or self.standin, os.path.join(host, "javaw.exe"))
        with open(os.path.join(host, "standin.txt"), "w", encoding="utf-8", newline="\n") as f:
            f.write("\n".join(script) + "\n")
        log = os.path.join(host, "starts.log")
        if os.path.exists(log):
            os.remove(log)
        return host

    @staticmethod
    def starts(host_folder):
        """The stand-in's records there: (program, working directory, command line, arguments)
        each, the arguments a tuple of those after the program's name."""
        log = os.path.join(host_folder, "starts.log")
        if not os.path.exists(log):
            return []
        with open(log, encoding="utf-8", newline="\n") as f:
            records = [[unescape(field) for field in line.rstrip("\n").split("\t")]
                       for line in f]
        return [(program, cwd, line, tuple(args)) for program, cwd, line, *args in records]

    def windows_path(self, host_path):
        if self.native:
            return host_path
        return "Z:" + os.path.abspath(host_path).replace("/", "\\")


def unescape(text):
    out, i = [], 0
    while i < len(text):
        if text[i] == "\\" and i + 1 < len(text):
            i += 1
            out.append({"n": "\n", "r": "\r", "t": "\t"}.get(text[i], text[i]))
        else:
            out.append(text[i])
        i += 1
    return "".join(out)
