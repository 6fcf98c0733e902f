#!/usr/bin/python3
"""Clicks on the tray icon, on both kinds of Linux tray.

Starts its own session bus (dbus-run-session), an X server (Xvfb) and the
real program. First on an old XEmbed tray (trayer, no watcher on the bus): a
middle click shows nothing, a double click shows the settings window. Then
with a StatusNotifierWatcher (tests/support/sniwatcher.py) it acts as a
panel that shows the icon as a D-Bus StatusNotifierItem: reads the exported
menu (com.canonical.dbusmenu GetLayout) in the chosen language, sends a
middle click (SecondaryActivate; shows nothing) and a click (Activate; shows
the settings window).

Usage: tray_statusnotifier.py BIN_DIR SOURCE_DIR. Exits 77 (skipped) with
one message when a part cannot run here.
"""
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

SKIP = 77
INNER = "VARNOKS_TRAY_TEST_SESSION"

# Settings window title and the menu's labels, per language setting.
LANGUAGES = {
    2: ("Varnoks Pilot", ["Devices", "Settings", "Update", "About", "Quit"], ["None"]),
    1: ("Varnoks Pilot", ["裝置列表", "設定", "檢查更新", "關於", "結束"], ["無"]),
}
SETTINGS_SIZE = (425, 520)


def skip(message):
    print("SKIP: " + message, flush=True)
    sys.exit(SKIP)


def fail(message):
    print("FAIL: " + message, flush=True)
    sys.exit(1)


def wait_for(predicate, timeout, step=0.1):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        value = predicate()
        if value:
            return value
        time.sleep(step)
    return predicate()


class Xvfb:
    def __init__(self):
        read_end, write_end = os.pipe()
        self.process = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
            pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        number = b""
        with os.fdopen(read_end, "rb") as pipe:
            while not number.endswith(b"\n"):
                chunk = pipe.read(1)
                if not chunk:
                    break
                number += chunk
        if not number.strip():
            self.stop()
            fail("Xvfb did not start")
        self.display = ":" + number.decode().strip()

    def stop(self):
        self.process.terminate()
        self.process.wait(10)


def geometry(display, window):
    """(width, height) of a window."""
    shape = subprocess.run(["xdotool", "getwindowgeometry", "--shell", window], env=dict(os.environ, DISPLAY=display),
                           capture_output=True, text=True).stdout
    values = dict(line.split("=", 1) for line in shape.split() if "=" in line)
    return int(values.get("WIDTH", 0)), int(values.get("HEIGHT", 0))


def visible_windows(display, title):
    """(id, width, height) of the mapped windows with exactly this title."""
    found = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "^%s$" % title],
                           env=dict(os.environ, DISPLAY=display), capture_output=True, text=True)
    return [(window,) + geometry(display, window) for window in found.stdout.split()]


def settings_shown(display, title):
    return [w for w in visible_windows(display, title) if (w[1], w[2]) == SETTINGS_SIZE]


def menu_labels(bus, service, path):
    """Labels of the exported menu, top level and one level down."""
    import dbus
    menu = bus.get_object(service, path)
    _, layout = menu.GetLayout(0, -1, dbus.Array([], signature="s"), dbus_interface="com.canonical.dbusmenu")

    def walk(node):
        _, properties, children = node
        entries = []
        for child in children:
            _, child_properties, _ = child
            if child_properties.get("type") == "separator":
                continue
            label = str(child_properties.get("label", "")).replace("&", "")
            entries.append((label, [e[0] for e in walk(child)]))
        return entries

    return walk(layout)


class Program:
    """The real program with its own folders on a fresh X server."""

    def __init__(self, bin_dir, language, tray=None):
        self.home = tempfile.mkdtemp(prefix="varnoks-tray-")
        self.process = None
        self.helpers = []
        for sub in ("config/KR_alvo", "state", "runtime", "logs", "hid"):
            os.makedirs(os.path.join(self.home, sub))
        os.chmod(os.path.join(self.home, "runtime"), 0o700)
        with open(os.path.join(self.home, "config/KR_alvo/VarnoksPilot.conf"), "w") as conf:
            conf.write("[General]\nlanguage=%d\n" % language)
        self.xvfb = Xvfb()
        self.display = self.xvfb.display
        if tray:
            # The tray must be there before the program looks for it.
            self.helpers.append(subprocess.Popen(tray, env=dict(os.environ, DISPLAY=self.display),
                                                 stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
            time.sleep(1.0)
        env = dict(os.environ)
        for name in ("XDG_CURRENT_DESKTOP", "QT_QPA_PLATFORMTHEME", "DESKTOP_SESSION", "KDE_FULL_SESSION"):
            env.pop(name, None)
        env.update({
            "DISPLAY": self.display,
            "QT_QPA_PLATFORM": "xcb",
            "LANG": "C.UTF-8",
            "XDG_CONFIG_HOME": os.path.join(self.home, "config"),
            "XDG_STATE_HOME": os.path.join(self.home, "state"),
            "XDG_RUNTIME_DIR": os.path.join(self.home, "runtime"),
            "VARNOKS_LOG_DIR": os.path.join(self.home, "logs"),
            "VARNOKS_HID_BACKEND": "virtual:" + os.path.join(self.home, "hid"),
            "VARNOKS_SENSOR_LIBRARY": os.path.join(self.home, "no-sensors.so"),
            "VARNOKS_UPDATE_SERVER": "127.0.0.1:1",
            "NO_AT_BRIDGE": "1",
        })
        self.output_path = os.path.join(self.home, "output.txt")
        with open(self.output_path, "w") as output:
            self.process = subprocess.Popen([os.path.join(bin_dir, "varnoks-pilot")], env=env, stdout=output,
                                            stderr=subprocess.STDOUT)

    def output(self):
        with open(self.output_path) as output:
            return output.read()

    def stop(self):
        """Ends the program with SIGTERM and tidies up; returns its exit code."""
        code = None
        if self.process:
            if self.process.poll() is None:
                self.process.send_signal(signal.SIGTERM)
                try:
                    self.process.wait(10)
                except subprocess.TimeoutExpired:
                    self.process.kill()
                    self.process.wait()
            code = self.process.returncode
        for helper in self.helpers:
            helper.terminate()
            helper.wait(10)
        self.xvfb.stop()
        shutil.rmtree(self.home, ignore_errors=True)
        return code


def check_xembed_tray(bin_dir):
    title = LANGUAGES[2][0]
    program = Program(bin_dir, 2, tray=["trayer", "--edge", "bottom", "--align", "right", "--widthtype",
                                        "request", "--height", "28", "--transparent", "false"])
    try:
        env = dict(os.environ, DISPLAY=program.display)

        def icon():
            # The program's one small mapped window: the icon embedded in the tray.
            found = subprocess.run(["xdotool", "search", "--onlyvisible", "--classname", "varnoks-pilot"], env=env,
                                   capture_output=True, text=True).stdout.split()
            small = [w for w in found if max(geometry(program.display, w)) <= 64]
            return small[0] if small else None

        window = wait_for(icon, 15)
        if not window:
            fail("XEmbed: the icon never showed in the tray; the program said:\n" + program.output())
        subprocess.run(["xdotool", "mousemove", "--window", window, "8", "8", "click", "2"], env=env, check=True)
        time.sleep(1.0)
        if settings_shown(program.display, title):
            fail("XEmbed: a middle click showed the settings window")
        subprocess.run(["xdotool", "mousemove", "--window", window, "8", "8", "click", "--repeat", "2", "--delay",
                        "80", "1"], env=env, check=True)
        if not wait_for(lambda: settings_shown(program.display, title), 5):
            fail("XEmbed: a double click did not show the settings window")
        print("XEmbed tray: middle click shows nothing, double click shows the settings", flush=True)
    finally:
        code = program.stop()
    if code != 0:
        fail("XEmbed: the program ended with %s after SIGTERM" % code)


def check_status_notifier_item(bus_module, bin_dir, watcher, language):
    title, top_labels, device_labels = LANGUAGES[language]
    program = Program(bin_dir, language)
    try:
        # Qt names the item's bus name after the process id.
        item_name = "org.kde.StatusNotifierItem-%d-" % program.process.pid
        end = time.monotonic() + 15
        line = ""
        while time.monotonic() < end and not line.startswith("ITEM " + item_name):
            line = watcher.readline_within(max(0.1, end - time.monotonic())) or ""
        if not line.startswith("ITEM " + item_name):
            fail("language %d: the program registered no item with the watcher; it said:\n%s"
                 % (language, program.output()))
        _, service, path = line.split()
        bus = bus_module.SessionBus()
        item = bus.get_object(service, path)
        item_properties = item.GetAll("org.kde.StatusNotifierItem",
                                      dbus_interface="org.freedesktop.DBus.Properties")
        menu_path = str(item_properties["Menu"])

        entries = wait_for(lambda: menu_labels(bus, service, menu_path), 5)
        labels = [label for label, _ in entries]
        if labels != top_labels:
            fail("language %d: menu reads %r, expected %r" % (language, labels, top_labels))
        if entries[0][1] != device_labels:
            fail("language %d: device list reads %r, expected %r" % (language, entries[0][1], device_labels))
        print("language %d: menu %s" % (language, " | ".join(labels)), flush=True)

        if settings_shown(program.display, title):
            fail("language %d: the settings window shows before any click" % language)
        # A middle click does nothing.
        item.SecondaryActivate(0, 0, dbus_interface="org.kde.StatusNotifierItem")
        time.sleep(1.0)
        if settings_shown(program.display, title):
            fail("language %d: a middle click showed the settings window" % language)
        # A click, as these panels send it, brings the settings forward.
        started = time.monotonic()
        item.Activate(0, 0, dbus_interface="org.kde.StatusNotifierItem")
        shown = wait_for(lambda: settings_shown(program.display, title), 5)
        if not shown:
            fail("language %d: Activate did not show the settings window" % language)
        print("language %d: settings window %s shown %.0f ms after Activate"
              % (language, shown[0][0], (time.monotonic() - started) * 1000), flush=True)
    finally:
        code = program.stop()
    if code != 0:
        fail("language %d: the program ended with %s after SIGTERM" % (language, code))


class WatcherProcess:
    def __init__(self, script):
        self.process = subprocess.Popen(["/usr/bin/python3", script], stdout=subprocess.PIPE, text=True)
        if self.readline_within(10) != "READY":
            self.stop()
            fail("the StatusNotifierWatcher did not start")

    def readline_within(self, timeout):
        import select
        ready, _, _ = select.select([self.process.stdout], [], [], timeout)
        if not ready:
            return None
        return self.process.stdout.readline().strip()

    def stop(self):
        self.process.terminate()
        self.process.wait(10)


def main():
    if len(sys.argv) != 3:
        fail("usage: tray_statusnotifier.py BIN_DIR SOURCE_DIR")
    bin_dir, source_dir = sys.argv[1], sys.argv[2]
    for tool in ("dbus-run-session", "Xvfb", "xdotool"):
        if not shutil.which(tool):
            skip("%s is not installed (scripts/deps installs it)" % tool)
    try:
        import dbus  # noqa: F401
        import gi  # noqa: F401
    except ImportError as error:
        skip("python3-dbus and python3-gi are needed (%s)" % error)
    if not os.path.exists(os.path.join(bin_dir, "varnoks-pilot")):
        fail("varnoks-pilot is not built in " + bin_dir)

    if os.environ.get(INNER) != "1":
        # A private session bus for this test alone.
        env = dict(os.environ, **{INNER: "1"})
        sys.exit(subprocess.call(["dbus-run-session", "--", "/usr/bin/python3"] + sys.argv, env=env))

    import dbus
    # Before the watcher is on the bus: Qt falls back to the XEmbed tray.
    if shutil.which("trayer"):
        check_xembed_tray(bin_dir)
    else:
        print("XEmbed tray not checked: trayer is not installed (scripts/deps installs it)", flush=True)
    watcher = WatcherProcess(os.path.join(source_dir, "tests/support/sniwatcher.py"))
    try:
        for language in (2, 1):
            check_status_notifier_item(dbus, bin_dir, watcher, language)
    finally:
        watcher.stop()
    print("PASS", flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
