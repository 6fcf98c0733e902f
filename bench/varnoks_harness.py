"""Runs the built program beside varnoks-devsim for the footprint and soak
scripts: temporary XDG folders, a run-log folder, the simulated sensor
library with a fixture that can be rewritten, and virtual devices."""

import os
import shutil
import signal
import subprocess
import tempfile
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
CLOCK_TICKS = os.sysconf("SC_CLK_TCK")


def bin_dir():
    return os.environ.get("VARNOKS_BIN_DIR", os.path.join(ROOT, "build", "bin"))


def fixture_text(cpu, gpu, fan):
    return (
        '{"init": 0, "sensors": [\n'
        ' {"name": "CPU [coretemp-isa-0000] DTS", "readings": [\n'
        '  {"kind": 1, "slot": 0, "label": "CPU Package", "unit": "C", "values": [%s, %s]}]},\n'
        ' {"name": "[dell_smm-virtual-0]", "readings": [\n'
        '  {"kind": 3, "slot": 0, "label": "CPU Processor Fan", "unit": "RPM", "values": [%s, %s]}]},\n'
        ' {"name": "GPU [amdgpu-pci-0300]", "readings": [\n'
        '  {"kind": 1, "slot": 0, "label": "GPU Temperature", "unit": "C", "values": [%s, %s]}]}]}\n'
    ) % (cpu, cpu, fan, fan, gpu, gpu)


class Devsim:
    """varnoks-devsim with a reader thread that stamps every report line."""

    def __init__(self, directory, devices, keep_lines=False):
        self.directory = directory
        self.lock = threading.Lock()
        self.last_report = {}
        self.report_count = {}
        self.identify_count = {}
        self.lines = [] if keep_lines else None
        self.gap_hook = None
        self.process = subprocess.Popen(
            [os.path.join(bin_dir(), "varnoks-devsim"), "--dir", directory] + devices,
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
            text=True, bufsize=1)
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()
        names = [d.split(",")[0] for d in devices]
        deadline = time.monotonic() + 5
        while not all(os.path.exists(os.path.join(directory, n)) for n in names):
            if time.monotonic() > deadline:
                raise RuntimeError("devsim did not create its devices")
            time.sleep(0.05)

    def _read(self):
        for line in self.process.stdout:
            now = time.monotonic()
            parts = line.split(" ", 2)
            if len(parts) < 2:
                continue
            name, kind = parts[0], parts[1].strip()
            with self.lock:
                if kind == "report":
                    previous = self.last_report.get(name)
                    self.last_report[name] = now
                    self.report_count[name] = self.report_count.get(name, 0) + 1
                    if self.gap_hook and previous is not None:
                        self.gap_hook(name, previous, now)
                elif kind == "identify":
                    self.identify_count[name] = self.identify_count.get(name, 0) + 1
                if self.lines is not None:
                    self.lines.append((now, line.rstrip("\n")))

    def command(self, line):
        self.process.stdin.write(line + "\n")
        self.process.stdin.flush()

    def stop(self):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(5)
            except subprocess.TimeoutExpired:
                self.process.kill()
        return self.process.returncode


class Program:
    """The program in its own temporary world."""

    def __init__(self, device_dir, settings=None, bin_path=None):
        self.home = tempfile.mkdtemp(prefix="varnoks-bench.")
        for sub in ("config", "state", "data", "cache", "runtime", "logs"):
            os.makedirs(os.path.join(self.home, sub))
        os.chmod(os.path.join(self.home, "runtime"), 0o700)
        self.fixture = os.path.join(self.home, "sensors.json")
        self.write_fixture(55, 48, 1400)
        if settings:
            os.makedirs(os.path.join(self.home, "config", "KR_alvo"))
            with open(os.path.join(self.home, "config", "KR_alvo", "VarnoksPilot.conf"), "w") as f:
                f.write("[General]\n")
                for key, value in settings.items():
                    f.write("%s=%s\n" % (key.replace(" ", "%20"), value))
        env = dict(os.environ)
        env.update({
            "QT_QPA_PLATFORM": "offscreen",
            "LANG": "C.UTF-8",
            "XDG_CONFIG_HOME": os.path.join(self.home, "config"),
            "XDG_STATE_HOME": os.path.join(self.home, "state"),
            "XDG_DATA_HOME": os.path.join(self.home, "data"),
            "XDG_CACHE_HOME": os.path.join(self.home, "cache"),
            "XDG_RUNTIME_DIR": os.path.join(self.home, "runtime"),
            "VARNOKS_LOG_DIR": os.path.join(self.home, "logs"),
            "VARNOKS_SENSOR_LIBRARY": os.path.join(bin_dir(), "libvarnoks-sensors-sim.so"),
            "VARNOKS_SENSOR_FIXTURE": self.fixture,
            "VARNOKS_HID_BACKEND": "virtual:" + device_dir,
            "VARNOKS_UPDATE_SERVER": "127.0.0.1:9",
        })
        self.output = open(os.path.join(self.home, "output.txt"), "w")
        self.process = subprocess.Popen([os.path.join(bin_path or bin_dir(), "varnoks-pilot")], env=env,
                                        stdout=self.output, stderr=subprocess.STDOUT)
        self.pid = self.process.pid

    def write_fixture(self, cpu, gpu, fan):
        temporary = self.fixture + ".tmp"
        with open(temporary, "w") as f:
            f.write(fixture_text(cpu, gpu, fan))
        os.replace(temporary, self.fixture)

    def alive(self):
        return self.process.poll() is None

    def cpu_seconds(self):
        return process_cpu_seconds(self.pid)

    def status(self, field):
        return status_kib(self.pid, field)

    def wakeups(self):
        return context_switches(self.pid)

    def log_size(self):
        total = 0
        logs = os.path.join(self.home, "logs")
        for name in os.listdir(logs):
            total += os.path.getsize(os.path.join(logs, name))
        return total

    def stop(self, timeout=5):
        """SIGTERM; returns (seconds taken, exit code)."""
        if not self.alive():
            return 0.0, self.process.returncode
        started = time.monotonic()
        self.process.send_signal(signal.SIGTERM)
        try:
            code = self.process.wait(timeout)
        except subprocess.TimeoutExpired:
            self.process.kill()
            code = self.process.wait()
        return time.monotonic() - started, code

    def cleanup(self):
        self.output.close()
        shutil.rmtree(self.home, ignore_errors=True)


def process_cpu_seconds(pid):
    """utime + stime of a process, in seconds (fields 14 and 15 of stat)."""
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / CLOCK_TICKS


def children_cpu_seconds(pid):
    """cutime + cstime: the waited-for children of a process, in seconds."""
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[13]) + int(fields[14])) / CLOCK_TICKS


def status_kib(pid, field):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith(field + ":"):
                return int(line.split()[1])
    return 0


def context_switches(pid):
    """(voluntary, involuntary) context switches summed over all threads.
    Each sleep a thread wakes from is one voluntary switch: those are the
    wake-ups. An involuntary one is a running thread preempted by another
    task on its core (here mostly varnoks-devsim, woken by a report); it
    costs no wake-up, since the thread never slept."""
    counts = [0, 0]
    task_dir = "/proc/%d/task" % pid
    for tid in os.listdir(task_dir):
        try:
            with open(os.path.join(task_dir, tid, "status")) as f:
                for line in f:
                    if line.startswith("voluntary_ctxt_switches"):
                        counts[0] += int(line.split()[1])
                    elif line.startswith("nonvoluntary_ctxt_switches"):
                        counts[1] += int(line.split()[1])
        except FileNotFoundError:
            pass
    return tuple(counts)
