#!/usr/bin/python3
"""The main window as an assistive tool (a screen reader such as Orca) sees it, through AT-SPI.

Starts Xvfb, a private D-Bus session bus (the accessibility bus is activated on it), the station
simulator, a loopback weather page and the real program on the xcb platform with a simulated
board, then reads and drives the program with pyatspi as a screen reader does:
- value labels keep a short caption as their name and give the text they show as their
  description, before and after every change, and the change is announced;
- a band option chosen with the accessible "Toggle" action runs the band click (frequency,
  board relays), in both band groups;
- the tuning button pressed with the accessible "Press" action tunes, then stops by itself;
- the "Exit" button closes the program.
Every wait is bounded and every process started here is ended, also on failure.
"""

import argparse
import http.server
import os
import random
import re
import select
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import traceback

SIM_ELEVATION = "0.8"  # tenths 8: inside the elevation hold's window, so no pulse switches a line
SIM_TEMPERATURE = "23.75"
MARKER_X = "3500"
BAND_INDEX = 2  # "2320", relay line 6
RIG_FREQUENCY = 144050  # 10 Hz units
# The first option of the band group is 1; the captions are the band in MHz.
BANDS = ["1296", "2320", "3400", "5760", "10368", "24048", "47088", "76032", "122G"]
BAND_RELAYS = {"1296": 7, "2320": 6, "3400": 5, "5760": 4, "10368": 3}
DIRECT_BAND_LINE = 20
WEATHER = ("57%", "12.3C")  # humidity, dew point


class Failure(Exception):
    pass


class Stopped(BaseException):
    """The time for the whole test ran out, or a signal came: no check may swallow it."""


STARTED = time.monotonic()


def log(text):
    print(f"[{time.monotonic() - STARTED:5.1f}] {text}", flush=True)


# ---------------------------------------------------------------------------------------------
# Processes and services


class Services:
    """Everything this test starts, ended in reverse order."""

    def __init__(self, scratch):
        self.scratch = scratch
        self.procs = []  # (name, Popen)
        self.extra_pids = []
        self.lock = threading.Lock()  # the watchdog may stop them while the test runs

    def start(self, name, argv, **kw):
        out = open(os.path.join(self.scratch, name + ".log"), "wb")
        try:
            p = subprocess.Popen(argv, stdout=out, stderr=subprocess.STDOUT,
                                 stdin=subprocess.DEVNULL, **kw)
        except FileNotFoundError as e:
            raise Failure(f"cannot start {name}: {e}")
        finally:
            out.close()
        self.procs.append((name, p))
        return p

    def log_tail(self, name, lines=40):
        try:
            with open(os.path.join(self.scratch, name + ".log"), errors="replace") as f:
                return "".join(f.readlines()[-lines:])
        except OSError:
            return ""

    def stop(self):
        with self.lock:
            for pid in self.extra_pids:
                try:
                    os.kill(pid, signal.SIGTERM)
                except OSError:
                    pass
            self.extra_pids = []
            for name, p in reversed(self.procs):
                if p.poll() is None:
                    p.terminate()
                    try:
                        p.wait(5)
                    except subprocess.TimeoutExpired:
                        p.kill()
                        p.wait(5)


def watchdog(services, timeout, done, fired):
    """Bounds the whole test, also while the client waits inside a call to the buses."""
    if done.wait(timeout):
        return
    fired.set()
    log(f"FAIL: the whole test took more than {timeout} s")
    services.stop()  # calls still waiting for the program fail at once
    if not done.wait(30):
        log("FAIL: the test did not end after its processes were stopped")
        os._exit(1)


def read_line_from_fd(fd, timeout, what):
    """One line written by a child to a pipe (display number, bus address)."""
    deadline = time.monotonic() + timeout
    data = b""
    while b"\n" not in data:
        left = deadline - time.monotonic()
        if left <= 0 or not select.select([fd], [], [], left)[0]:
            raise Failure(f"{what}: nothing within {timeout} s")
        chunk = os.read(fd, 256)
        if not chunk:
            break
        data += chunk
    line = data.split(b"\n")[0].decode().strip()
    if not line:
        raise Failure(f"{what}: ended without an answer")
    return line


def start_display(services, env):
    # A random display number away from the usual :0 and :99: a server there that someone else
    # is just stopping would remove the socket of a new server on the same number.
    rng = random.Random()
    for _ in range(8):
        number = rng.randrange(200, 900)
        if os.path.exists(f"/tmp/.X{number}-lock") or os.path.exists(f"/tmp/.X11-unix/X{number}"):
            continue
        r, w = os.pipe()
        xvfb = services.start("xvfb", ["Xvfb", f":{number}", "-displayfd", str(w), "-screen", "0",
                                       "1280x1024x24", "-nolisten", "tcp"], pass_fds=(w,), env=env)
        os.close(w)
        try:
            return ":" + read_line_from_fd(r, 30, "Xvfb")
        except Failure:
            if xvfb.poll() is None:
                raise
        finally:
            os.close(r)
    raise Failure("Xvfb found no free display:\n" + services.log_tail("xvfb"))


def display_alive(services, display):
    """Xvfb still runs and takes connections on its socket."""
    xvfb = [p for name, p in services.procs if name == "xvfb"][-1]
    with socket.socket(socket.AF_UNIX) as s:
        try:
            s.connect(f"/tmp/.X11-unix/X{display[1:]}")
        except OSError as e:
            raise Failure(f"display {display} takes no connection ({e}); Xvfb "
                          f"{'runs' if xvfb.poll() is None else 'ended'}:\n" +
                          services.log_tail("xvfb"))


def start_session_bus(services, env):
    r, w = os.pipe()
    services.start("dbus", ["dbus-daemon", "--session", "--nofork", "--nosyslog",
                            f"--print-address={w}"], pass_fds=(w,), env=env)
    os.close(w)
    try:
        return read_line_from_fd(r, 30, "dbus-daemon")
    finally:
        os.close(r)


def check_accessibility_bus(services):
    """The accessibility bus is activated through org.a11y.Bus on the session bus."""
    from gi.repository import Gio, GLib
    bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)
    try:
        address = bus.call_sync("org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress",
                                None, GLib.VariantType.new("(s)"), Gio.DBusCallFlags.NONE,
                                20000, None).unpack()[0]
        pid = bus.call_sync("org.freedesktop.DBus", "/org/freedesktop/DBus",
                            "org.freedesktop.DBus", "GetConnectionUnixProcessID",
                            GLib.Variant("(s)", ("org.a11y.Bus",)), GLib.VariantType.new("(u)"),
                            Gio.DBusCallFlags.NONE, 5000, None).unpack()[0]
    except GLib.Error as e:
        raise Failure(f"org.a11y.Bus not reachable on the session bus ({e.message}); "
                      "at-spi2-core provides it")
    services.extra_pids.append(pid)  # the bus launcher, activated by the session bus
    return address


def start_simulator(services, simulator, scratch, env):
    env_file = os.path.join(scratch, "sim.env")
    services.start("farscan-sim", [simulator, "--env-file", env_file, "--elevation", SIM_ELEVATION,
                                   "--temperature", SIM_TEMPERATURE], cwd=scratch, env=env)
    deadline = time.monotonic() + 20
    while not (os.path.exists(env_file) and os.path.getsize(env_file) > 0):
        if time.monotonic() > deadline:
            raise Failure("the station simulator wrote no port assignments:\n" +
                          services.log_tail("farscan-sim"))
        time.sleep(0.1)
    ports = {}
    with open(env_file) as f:
        for line in f:
            m = re.match(r"export (FARSCAN_COM\d+)='([^']*)'", line.strip())
            if m:
                ports[m.group(1)] = m.group(2)
    if len(ports) != 5:  # Com1, Com2, the sensor box, the rotor and the GPS
        raise Failure(f"the station simulator gave {ports}")
    return ports


def weather_page():
    # The program cuts pieces at fixed distances from the keys found at characters 3000-10000.
    page = list("<html><body><pre>" + " " * 6000)

    def put(position, text):  # 1-based, as the program counts
        page[position - 1:position - 1 + len(text)] = list(text)

    put(3100, "Outside Humidity")
    put(3100 + 61, WEATHER[0])
    put(4000, "Dew Point")
    put(4000 + 54, WEATHER[1])
    return ("".join(page) + "</pre></body></html>").encode("ascii")


def start_weather_server():
    body = weather_page()

    class Page(http.server.BaseHTTPRequestHandler):
        def do_GET(self):
            self.send_response(200)
            self.send_header("Content-Type", "text/html; charset=windows-1252")
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)

        def log_message(self, *args):
            pass

    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Page)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server, f"http://127.0.0.1:{server.server_address[1]}/Current_Vantage_Pro.htm"


def write_settings(path):
    """Farscan.txt: one value a line in the file's written form, Windows-1252, CR LF."""
    values = [
        "2", "-1", "0", '"text1"', '"text2"', '"Q0ABC"', '"JO40AA"',  # keyer, own station
        "1", '"10"', '"9600,n,8,1"',  # Com1: transceiver 1
        "1", '"11"', '"9600,n,8,1"',  # Com2: transceiver 2
        "1", '"13"', '"4800,n,8,1"',  # Com3
        "1", '"12"', '"4800,n,8,1"',  # Com4: rotor controller
        f'"{MARKER_X}"',
        '"127.0.0.1"', '"8000"', '"127.0.0.1"', '"7373"',  # cluster hosts: never outside
        "1", "1", "1", "1", "1", "1", "5", "10", '""',
        str(BAND_INDEX), str(RIG_FREQUENCY),
        '""', '""', '""', '""', '""', '""',  # QSL card
        "#TRUE#",  # fetch the weather page
        '"128"', "1", "1", "0", "0",
    ]
    assert len(values) == 47
    with open(path, "wb") as f:
        f.write("".join(v + "\r\n" for v in values).encode("cp1252"))


# ---------------------------------------------------------------------------------------------
# AT-SPI client


class Client:
    def __init__(self, pid, program):
        from gi.repository import Atspi, GLib
        import pyatspi
        self.pyatspi = pyatspi
        self.GLib = GLib
        # A busy program (sanitizer build, shared cores) may answer slowly.
        Atspi.set_timeout(5000, 30000)
        self.pid = pid
        self.program = program
        self.app = None
        self.announced = []  # accessibles whose change of description was announced

    def find_application(self, timeout):
        desktop = self.pyatspi.Registry.getDesktop(0)
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if self.program.poll() is not None:
                raise Failure(f"the program ended (exit {self.program.returncode}) before it "
                              "appeared on the accessibility bus")
            for i in range(desktop.childCount):
                app = desktop.getChildAtIndex(i)
                try:
                    if app is not None and app.get_process_id() == self.pid:
                        self.app = app
                        return app
                except Exception:
                    continue
            time.sleep(0.3)
        raise Failure(f"the program did not appear on the accessibility bus within {timeout} s")

    def walk(self, acc=None, depth=0):
        acc = acc or self.app
        yield acc
        if depth > 40:
            return
        try:
            count = acc.childCount
        except Exception:
            return
        for i in range(count):
            try:
                child = acc.getChildAtIndex(i)
            except Exception:
                continue
            if child is not None:
                yield from self.walk(child, depth + 1)

    def find(self, role, name, parent_name=None, timeout=30):
        """The one accessible of a role (or one of several) and name (and parent's name)."""
        roles = role if isinstance(role, tuple) else (role,)
        deadline = time.monotonic() + timeout
        while True:
            found = []
            for acc in self.walk():
                try:
                    if acc.getRole() not in roles or acc.name != name:
                        continue
                    if parent_name is not None and acc.parent.name != parent_name:
                        continue
                except Exception:
                    continue
                found.append(acc)
            if len(found) == 1:
                return found[0]
            if len(found) > 1:
                raise Failure(f"{len(found)} accessibles with role {roles} and name {name!r}")
            if time.monotonic() > deadline:
                alike = []
                for acc in self.walk():
                    try:
                        if acc.name == name:
                            alike.append(f"{acc.getRoleName()} in {acc.parent.name!r}")
                    except Exception:
                        continue
                raise Failure(f"no accessible with role {'/'.join(map(str, roles))} and name "
                              f"{name!r}"
                              + (f" in {parent_name!r}" if parent_name else "") +
                              " (a screen reader cannot find it); by that name: "
                              + (", ".join(alike) or "none"))
            time.sleep(0.5)

    @staticmethod
    def description(acc):
        acc.clearCache()
        try:
            return acc.get_description()
        except Exception as e:
            raise Failure(f"the description of {acc.name!r} cannot be read: {e}")

    def action(self, acc, name):
        action = acc.queryAction()
        names = [action.getName(i) for i in range(action.nActions)]
        if name not in names:
            raise Failure(f"{acc.name!r} offers the actions {names}, not {name!r}")
        if not action.doAction(names.index(name)):
            raise Failure(f"{acc.name!r}: the {name!r} action was refused")

    def checked(self, acc):
        acc.clearCache()
        return acc.getState().contains(self.pyatspi.STATE_CHECKED)

    # Change announcements: what a screen reader speaks when a value changes. The handler
    # makes no call to the buses: it runs while the client waits for answers, and a program
    # that floods events (a tuning that never stops) would starve the client.
    DESCRIPTION_CHANGED = "object:property-change:accessible-description"

    def listen(self, on):
        if on:
            self.pyatspi.Registry.registerEventListener(self._on_event, self.DESCRIPTION_CHANGED)
        else:
            self.pyatspi.Registry.deregisterEventListener(self._on_event,
                                                          self.DESCRIPTION_CHANGED)

    def _on_event(self, event):
        # Qt names the changed object; a screen reader then reads its description.
        self.announced.append(event.source)

    def was_announced(self, acc):
        return any(source == acc for source in self.announced)

    def pump(self, seconds):
        context = self.GLib.MainContext.default()
        end = time.monotonic() + seconds
        while time.monotonic() < end:
            while context.iteration(False):
                pass
            time.sleep(0.02)


def wait_until(what, probe, timeout, interval=0.2, pump=None):
    """Polls probe() until it returns (True, value); fails with the last value seen."""
    deadline = time.monotonic() + timeout
    last = None
    while True:
        ok, last = probe()
        if ok:
            return last
        if time.monotonic() > deadline:
            raise Failure(f"{what}: still {last!r} after {timeout} s")
        if pump:
            pump(interval)
        else:
            time.sleep(interval)


def number(text):
    try:
        return float(text)
    except (TypeError, ValueError):
        return None


def close_to(text, value):
    n = number(text)
    return n is not None and abs(n - value) < 1e-6


def matching(pattern):
    return (f"text matching {pattern}", lambda d: re.fullmatch(pattern, d or "") is not None)


def band_frequency(band, rig_frequency):
    # What the rig panel shows: the rig frequency (10 Hz units) plus the transverter's offset,
    # the band minus 144 MHz, in MHz.
    return int(band) - 144 + rig_frequency / 100000


# ---------------------------------------------------------------------------------------------
# The test


def run(args, services):
    scratch = services.scratch
    server = None
    try:
        station = os.path.join(scratch, "station")
        data = os.path.join(scratch, "data")
        runtime = os.path.join(scratch, "run")
        for d in (station, data, runtime):
            os.makedirs(d, mode=0o700)
        env = {k: v for k, v in os.environ.items()
               if not k.startswith(("DBUS_", "AT_SPI", "XDG_", "QT_", "FARSCAN_", "PORTIVA_"))
               and k.lower() not in ("http_proxy", "https_proxy", "all_proxy", "no_proxy",
                                     "display", "wayland_display", "session_manager")}
        env.update({
            "XDG_RUNTIME_DIR": runtime,
            "XDG_CONFIG_HOME": os.path.join(scratch, "config"),
            "XDG_DATA_HOME": os.path.join(scratch, "share"),
            "XDG_CACHE_HOME": os.path.join(scratch, "cache"),
            "GSETTINGS_BACKEND": "memory",
            "LC_ALL": "C.UTF-8",
        })
        env["DISPLAY"] = start_display(services, env)
        env["DBUS_SESSION_BUS_ADDRESS"] = start_session_bus(services, env)
        log(f"display {env['DISPLAY']}, session bus {env['DBUS_SESSION_BUS_ADDRESS']}")
        os.environ.clear()
        os.environ.update(env)  # the client connects to the same buses
        log(f"accessibility bus {check_accessibility_bus(services)}")

        ports = start_simulator(services, args.simulator, scratch, env)
        server, weather_url = start_weather_server()
        write_settings(os.path.join(station, "Farscan.txt"))

        program_env = dict(env)
        program_env.update(ports)
        program_env.update({
            "QT_QPA_PLATFORM": "xcb",  # the offscreen platform has no accessibility bridge
            "QT_LINUX_ACCESSIBILITY_ALWAYS_ON": "1",
            "QT_ACCESSIBILITY": "1",
            "FARSCAN_DATA_DIR": data,
            "FARSCAN_NO_VIDEO": "1",
            "FARSCAN_AUDIO": "beacon",
            "FARSCAN_WEATHER_URL": weather_url,
            "PORTIVA_SIM": "1",
        })
        display_alive(services, env["DISPLAY"])
        program = services.start("farscan", [args.farscan], cwd=station, env=program_env)
        try:
            check_program(args, Client(program.pid, program), program)
        except BaseException:
            log("---- Xvfb ----\n" + services.log_tail("xvfb", 10))
            log("---- program output (last lines) ----\n" + services.log_tail("farscan"))
            log("---- simulator output (last lines) ----\n" +
                services.log_tail("farscan-sim", 10))
            raise
    finally:
        if server:
            server.shutdown()
            server.server_close()
        services.stop()


def check_program(args, client, program):
    pyatspi = client.pyatspi
    LABEL = pyatspi.ROLE_LABEL
    client.find_application(60)
    log("program found on the accessibility bus")
    failures = []

    def label(caption):
        return client.find(LABEL, caption)

    # Value labels: a short caption as the name, the shown text as the description.
    rig_value = band_frequency(BANDS[BAND_INDEX - 1], RIG_FREQUENCY)
    # caption: (what the label shows, test of the description read)
    expected = {
        "Band frequency": (f"about {rig_value}", lambda d: close_to(d, rig_value)),
        "Com1 port": "Com1 PortNr: 10 9600,n,8,1",
        "Com2 port": "Com2 PortNr: 11 9600,n,8,1",
        "Com4 port": "Com4 PortNr: 12 4800,n,8,1",
        "Marker position": MARKER_X,
        "Azimuth": matching(r"\d{3}"),
        "Elevation": SIM_ELEVATION,
        "Temperature": "Temp = " + SIM_TEMPERATURE,
        "Weather": " : ".join(WEATHER),
        "Board lines switched on": f"Board lines on: {BAND_RELAYS[BANDS[BAND_INDEX - 1]]}",
        # The spectrum of the generated beacon: levels and frequencies that move all the time.
        "Signal maximum": matching(r"-?\d+ dB anl"),
        "Maximum hold": matching(r"-?\d+ dB anl"),
        "Peak frequency": matching(r"\d+(\.\d+)? Hz"),
        "Noise level": matching(r"-?\d+"),
        "Reference level": matching(r"Ref: -?\d+(\.\d+)? dB"),
    }
    expected = {c: w if isinstance(w, tuple) else (repr(w), w.__eq__) for c, w in expected.items()}
    labels = {caption: label(caption) for caption in list(expected) + ["Frequency unit"]}

    def wrong_labels():
        wrong = {}
        for caption, (shown, test) in expected.items():
            d = client.description(labels[caption])
            if not test(d):
                wrong[caption] = f"description {d!r}, shows {shown}"
        return not wrong, wrong

    try:
        wait_until("value labels", wrong_labels, 30)
    except Failure:
        failures += [f"{c!r}: {w}" for c, w in wrong_labels()[1].items()]
    for caption in expected:
        log(f"  {caption!r}: {client.description(labels[caption])!r}")
    # "Frequency unit" stays empty until a band is chosen directly: it is read below.

    # Qt gives a checkable push button the role of a check box.
    option = (pyatspi.ROLE_CHECK_BOX, pyatspi.ROLE_TOGGLE_BUTTON, pyatspi.ROLE_RADIO_BUTTON)
    band_buttons = {b: client.find(option, b, "Band MHz", 10) for b in BANDS}
    if not client.checked(band_buttons[BANDS[BAND_INDEX - 1]]):
        failures.append(f"band option {BANDS[BAND_INDEX - 1]!r} is not shown as checked")
    if failures:
        raise Failure("at start:\n  " + "\n  ".join(failures))

    # A band option chosen by a screen reader's "Toggle" runs the band click.
    client.listen(True)
    client.pump(0.5)
    client.announced.clear()
    client.action(band_buttons["10368"], "Toggle")
    band_value = band_frequency("10368", RIG_FREQUENCY)
    seen = wait_until("band frequency after toggling 10368",
                      lambda: (close_to(d := client.description(labels["Band frequency"]),
                                        band_value), d), 10, pump=client.pump)
    log(f"toggled '10368': band frequency {seen!r}")
    wait_until("board lines after toggling 10368",
               lambda: ((d := client.description(labels["Board lines switched on"]))
                        == "Board lines on: 3", d), 10, pump=client.pump)
    if not client.checked(band_buttons["10368"]) or client.checked(band_buttons["2320"]):
        raise Failure("after toggling '10368' the band options show "
                      f"{[b for b, acc in band_buttons.items() if client.checked(acc)]}")
    wait_until("announcement of the new band frequency",
               lambda: (client.was_announced(labels["Band frequency"]),
                        f"{len(client.announced)} other announcements"), 10, pump=client.pump)
    client.listen(False)

    # The tuning button pressed by a screen reader's "Press" tunes, then stops by itself.
    tune_up = client.find(pyatspi.ROLE_PUSH_BUTTON, "QRG +")
    before = client.description(labels["Band frequency"])
    client.action(tune_up, "Press")
    moved = wait_until("band frequency after pressing 'QRG +'",
                       lambda: ((d := client.description(labels["Band frequency"])) != before,
                                d), 10, interval=0.05)
    # Let the press end, then the frequency must stand still.
    client.pump(1.0)
    settled = client.description(labels["Band frequency"])
    client.pump(2.0)
    later = client.description(labels["Band frequency"])
    log(f"pressed 'QRG +': {before!r} -> {moved!r} -> {settled!r}, {later!r} 2 s on")
    if later != settled:
        raise Failure(f"tuning did not stop after the press: {settled!r}, 2 s later {later!r}")
    first, last = number(before), number(settled)
    steps = None if first is None or last is None else (last - first) * 100000
    if steps is None or steps < 0.5 or abs(steps - round(steps)) > 1e-3:
        raise Failure(f"tuning up went from {before!r} to {settled!r}: not whole steps up")

    # The directly worked bands: the other group, same way.
    direct = client.find(option, "144 MHz", "Band MHz direct", 10)
    client.action(direct, "Toggle")
    wait_until("frequency unit after toggling '144 MHz'",
               lambda: ((d := client.description(labels["Frequency unit"])) == "MHz", d), 10,
               pump=client.pump)
    wait_until("band frequency after toggling '144 MHz'",
               lambda: (close_to(d := client.description(labels["Band frequency"]), 144.2), d),
               10, pump=client.pump)
    wait_until("board lines after toggling '144 MHz'",
               lambda: ((d := client.description(labels["Board lines switched on"]))
                        == f"Board lines on: 3 {DIRECT_BAND_LINE}", d), 10, pump=client.pump)
    if any(client.checked(acc) for acc in band_buttons.values()):
        raise Failure("a transverter band option stays checked after choosing '144 MHz'")
    log("toggled '144 MHz': unit 'MHz', band frequency 144.2, board lines 3 and 20")
    # The captions stay the names: the values went to the descriptions only.
    for caption, acc in labels.items():
        acc.clearCache()
        if acc.name != caption:
            raise Failure(f"after the changes {caption!r} is named {acc.name!r}")

    # The spectrum: the hold is the highest level so far, and the reference level set through
    # its scroll bar (as a screen reader sets a value) is what the label then gives.
    level = client.description(labels["Signal maximum"])
    hold = client.description(labels["Maximum hold"])
    level_db, hold_db = (number(text.split(" ")[0]) for text in (level, hold))
    if level_db is None or hold_db is None or hold_db < level_db:
        raise Failure(f"maximum hold {hold!r} below the signal maximum {level!r} read before it")
    scroll = client.find(pyatspi.ROLE_SCROLL_BAR, "Reference level").queryValue()
    reference = int(scroll.currentValue) + 7
    if reference > scroll.maximumValue:
        reference -= 14
    scroll.currentValue = reference
    seen = wait_until("reference level after setting its scroll bar",
                      lambda: ((d := client.description(labels["Reference level"]))
                               == f"Ref: {reference} dB", d), 10)
    log(f"spectrum: {level!r}, hold {hold!r}; reference level set to {reference}: {seen!r}")

    # Closing through the Exit button runs the program's normal unload.
    client.action(client.find(pyatspi.ROLE_PUSH_BUTTON, "Exit"), "Press")
    try:
        code = program.wait(30)
    except subprocess.TimeoutExpired:
        raise Failure("the program did not end within 30 s of pressing 'Exit'")
    if code != 0:
        raise Failure(f"the program ended with exit status {code} after 'Exit'")
    log("pressed 'Exit': the program ended")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--farscan", required=True)
    parser.add_argument("--board-library", required=True)
    parser.add_argument("--simulator", required=True)
    parser.add_argument("--timeout", type=int, default=200, help="for the whole test, seconds")
    parser.add_argument("--keep", action="store_true", help="keep the scratch folder")
    args = parser.parse_args()

    for name in ("farscan", "board_library", "simulator"):
        path = os.path.abspath(getattr(args, name))
        if not os.path.isfile(path):
            log(f"FAIL: {path} is missing: build it first")
            return 1
        setattr(args, name, path)

    # Missing parts fail loudly: CI installs them through scripts/setup.sh.
    missing = [t for t in ("Xvfb", "dbus-daemon") if not shutil.which(t)]
    try:
        # The client connects when first used, once its buses are up.
        import gi
        gi.require_version("Atspi", "2.0")
        import pyatspi
        del pyatspi
    except (ImportError, ValueError) as e:
        missing.append(f"pyatspi ({e})")
    if missing:
        log(f"FAIL: missing {', '.join(missing)}: run scripts/setup.sh")
        return 1
    # The program finds the board library beside itself.
    library_dir = os.path.dirname(os.path.realpath(args.board_library))
    if library_dir != os.path.dirname(os.path.realpath(args.farscan)):
        log(f"FAIL: the board library {args.board_library} is not beside {args.farscan}")
        return 1

    def give_up(signum, frame):
        raise Stopped(f"stopped by signal {signum}")

    for s in (signal.SIGTERM, signal.SIGINT):
        signal.signal(s, give_up)

    scratch = tempfile.mkdtemp(prefix="farscan-a11y-")
    services = Services(scratch)
    done, fired = threading.Event(), threading.Event()
    threading.Thread(target=watchdog, args=(services, args.timeout, done, fired),
                     daemon=True).start()
    started = time.monotonic()
    try:
        run(args, services)
        if fired.is_set():
            return 1
    except (Failure, Stopped) as e:
        log(f"FAIL: {e}")
        return 1
    except Exception:
        traceback.print_exc()
        log("FAIL: unexpected error")
        return 1
    finally:
        done.set()
        if args.keep:
            log(f"scratch folder kept: {scratch}")
        else:
            shutil.rmtree(scratch, ignore_errors=True)
    log(f"PASS in {time.monotonic() - started:.1f} s")
    return 0


if __name__ == "__main__":
    sys.exit(main())
