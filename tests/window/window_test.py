#!/usr/bin/python3
"""The updater's real window under a real X server, driven as a person would.

Keys and clicks go in through xdotool; what the window shows is read back
through the accessibility bus (AT-SPI), the window's X properties through
python-xlib; screenshots are kept as artefacts. A small HTTP server on a
loopback port plays the update server that the loopback build is made for.

Run inside `dbus-run-session` with the system's python3 (pyatspi). Exits 77
(skipped) when there is no X display.
"""

import argparse
import functools
import http.server
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import traceback

CAPTION = "Quenlark 升级程序 V1.0"
BUTTON_CAPTION = "检查更新"
TITLE = "update"  # the message boxes' caption: the program's file name is update.exe
MANIFEST_PATH = "/quorvicomdata/update/tolvier/update.ini"
ALREADY_NEWEST = "您当前的软件是最新版本，不需要进行更新"
NETWORK_ERROR = "网络连接出错，请稍候再试!"
NEW_VERSION_FOUND = "发现新版本，开始更新"
DOWNLOAD_DONE = "下载所需的更新文件成功，如果您开启了主程序，升级程序将关闭主程序进行软件更新"
UPDATE_SUCCEEDED = "软件更新成功，程序将重新启动"
LABEL_ONE_OF_ONE = "本次总共需要下载文件1个，已经下载1个"
SKIP = 77

# Every wait is bounded by one of these deadlines, in seconds.
APPEAR = 20.0
SETTLE = 1.0


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def wait_for(what, probe, timeout=APPEAR, interval=0.1):
    """Polls `probe` until it returns something true; fails after `timeout`."""
    deadline = time.monotonic() + timeout
    while True:
        try:
            value = probe()
        except Exception:  # the window may be going away mid-probe
            value = None
        if value:
            return value
        if time.monotonic() > deadline:
            raise Failure(f"timed out after {timeout:.0f} s waiting for {what}")
        time.sleep(interval)


def run(*command):
    return subprocess.run(command, check=True, capture_output=True, text=True,
                          timeout=30).stdout


# --- the update server -------------------------------------------------------

class UpdateServer:
    """Serves a folder on 127.0.0.1:port and records each request's path."""

    def __init__(self, root, port):
        self.requests = []
        # A GET is answered once this is set: a test clears it to keep the
        # program waiting on the network.
        self.release = threading.Event()
        self.release.set()
        server = self

        class Handler(http.server.SimpleHTTPRequestHandler):
            # HTTP/1.1 leaves closing the connection to the client, so the
            # port is not left with connections in TIME_WAIT that would keep
            # the next test's server from binding it.
            protocol_version = "HTTP/1.1"

            def log_message(self, *args):
                pass

            def do_GET(self):
                server.requests.append(("GET", self.path))
                if not server.release.wait(timeout=APPEAR):
                    return  # the test gave up; answer nothing
                super().do_GET()

            def do_HEAD(self):
                server.requests.append(("HEAD", self.path))
                super().do_HEAD()

        http.server.ThreadingHTTPServer.allow_reuse_address = True
        try:
            self.httpd = http.server.ThreadingHTTPServer(
                ("127.0.0.1", port), functools.partial(Handler, directory=root))
        except OSError as error:
            raise Failure(f"cannot listen on 127.0.0.1:{port}: {error}")
        self.thread = threading.Thread(target=self.httpd.serve_forever, daemon=True)
        self.thread.start()

    def close(self):
        self.httpd.shutdown()
        self.httpd.server_close()
        self.thread.join(timeout=10)


def port_is_free(port):
    with socket.socket() as probe:
        probe.settimeout(2)
        return probe.connect_ex(("127.0.0.1", port)) != 0


# --- the window from outside ---------------------------------------------------

class Desktop:
    """What a person sees: windows by caption, their controls, keys, clicks."""

    def __init__(self, artifacts, scenario):
        import pyatspi  # noqa: imported here so a missing display skips first
        from Xlib import display as xdisplay
        self.pyatspi = pyatspi
        self.x = xdisplay.Display()
        self.artifacts = artifacts
        self.scenario = scenario
        self.pid = 0  # the program under test, once started

    # X windows (xdotool finds them; python-xlib reads their properties).
    def x_windows(self, name_regex):
        """The visible windows of the program under test captioned as `name_regex` says."""
        out = subprocess.run(["xdotool", "search", "--all", "--onlyvisible", "--pid",
                              str(self.pid), "--name", name_regex],
                             capture_output=True, text=True, timeout=30).stdout.split()
        return [int(wid) for wid in out]

    def x_window(self, name_regex):
        found = self.x_windows(name_regex)
        return found[0] if found else None

    def geometry(self, wid):
        out = run("xdotool", "getwindowgeometry", "--shell", str(wid))
        values = dict(line.split("=", 1) for line in out.split())
        return (int(values["X"]), int(values["Y"]), int(values["WIDTH"]), int(values["HEIGHT"]))

    def window(self, wid):
        return self.x.create_resource_object("window", wid)

    def send_close(self, wid):
        """The window manager's close request (WM_DELETE_WINDOW), as the close
        button, the system menu and Alt+F4 send it."""
        from Xlib import X, protocol
        window = self.window(wid)
        delete = self.x.intern_atom("WM_DELETE_WINDOW")
        check(delete in (window.get_wm_protocols() or []),
              "the window does not take the close request")
        event = protocol.event.ClientMessage(
            window=window, client_type=self.x.intern_atom("WM_PROTOCOLS"),
            data=(32, [delete, X.CurrentTime, 0, 0, 0]))
        window.send_event(event, event_mask=X.NoEventMask)
        self.x.flush()

    def press(self, wid, key):
        run("xdotool", "windowfocus", "--sync", str(wid))
        run("xdotool", "key", key)

    def click(self, wid, x, y):
        run("xdotool", "mousemove", "--window", str(wid), str(x), str(y))
        run("xdotool", "click", "1")

    def screenshot(self, name, wid=None):
        path = os.path.join(self.artifacts, f"{self.scenario}-{name}.png")
        run("import", "-window", "root" if wid is None else str(wid), path)
        return path

    # AT-SPI: the texts and states the window shows.
    def top_level(self, name):
        """The visible top-level window of the program under test captioned `name`."""
        desktop = self.pyatspi.Registry.getDesktop(0)
        for index in range(desktop.childCount):
            app = desktop.getChildAtIndex(index)
            if app is None or app.get_process_id() != self.pid:
                continue
            app.clearCache()
            for child in range(app.childCount):
                window = app.getChildAtIndex(child)
                if window is not None and window.name == name and \
                        window.getState().contains(self.pyatspi.STATE_SHOWING):
                    return window
        return None

    def descendants(self, root, role):
        # Names and states come from a cache that only events would refresh,
        # and nothing here listens to events: read them afresh.
        root.clearCache()
        found = []
        self._walk(root, role, found, 0)
        return found

    def _walk(self, node, role, found, depth):
        check(depth < 20, "the accessible tree is deeper than any window of ours")
        for index in range(node.childCount):
            child = node.getChildAtIndex(index)
            if child is None:
                continue
            if child.getRole() == role:
                found.append(child)
            self._walk(child, role, found, depth + 1)

    def only(self, root, role, what):
        found = self.descendants(root, role)
        check(len(found) == 1, f"expected one {what}, found {len(found)}")
        return found[0]

    def states(self, accessible):
        return accessible.getState()

    def texts(self, root):
        return [label.name for label in self.descendants(root, self.pyatspi.ROLE_LABEL)]

    def extents(self, accessible):
        box = accessible.queryComponent().getExtents(self.pyatspi.WINDOW_COORDS)
        return (box.x, box.y, box.width, box.height)


# --- the program -------------------------------------------------------------

class Updater:
    """The loopback build in a program folder of its own, with its window."""

    def __init__(self, program, work, artifacts, scenario, folder_name=b"program"):
        self.folder = os.path.join(os.fsencode(work), folder_name)
        os.makedirs(self.folder)
        self.executable = os.path.join(self.folder, b"update.exe")
        shutil.copy2(program, self.executable)
        self.log = open(os.path.join(artifacts, f"{scenario}-program.log"), "wb")
        self.environment = dict(os.environ, GDK_GL="disable", NO_AT_BRIDGE="0",
                                LC_ALL="C.UTF-8", HOME=work,
                                XDG_DATA_HOME=os.path.join(work, "data"))
        self.process = None

    def path(self, name):
        return os.path.join(self.folder, os.fsencode(name))

    def write(self, name, text):
        with open(self.path(name), "w", encoding="utf-8") as file:
            file.write(text)

    def start(self):
        # Started from another folder: the program must find its files by its own place.
        self.process = subprocess.Popen([self.executable], cwd="/", env=self.environment,
                                        stdout=self.log, stderr=subprocess.STDOUT)

    def running(self):
        return self.process.poll() is None

    def exit_status(self, timeout):
        try:
            return self.process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            raise Failure(f"the program did not end within {timeout:.0f} s")

    def stop(self):
        if self.process is not None and self.process.poll() is None:
            self.process.kill()
            self.process.wait(timeout=10)
        self.log.close()

    def complaints(self):
        """The toolkit's warnings and criticals in the program's output."""
        with open(self.log.name, "rb") as log:
            lines = log.read().decode("utf-8", "replace").splitlines()
        return [line for line in lines if "-CRITICAL **" in line or "-WARNING **" in line]


class Session:
    """One scenario: a program folder, the program, the desktop, maybe a server."""

    def __init__(self, args):
        self.args = args
        self.work = tempfile.mkdtemp(prefix="update-window-")
        self.desktop = Desktop(args.artifacts, args.scenario)
        self.server = None
        self.updater = None
        self.stray_pids = []  # processes the program started, stopped at the end

    def serve(self, manifest):
        root = os.path.join(self.work, "server")
        folder = os.path.join(root, MANIFEST_PATH.lstrip("/").rsplit("/", 1)[0])
        os.makedirs(folder)
        with open(os.path.join(folder, "update.ini"), "w", encoding="utf-8") as file:
            file.write(manifest)
        self.server = UpdateServer(root, self.args.port)

    def start(self, folder_name=b"program", version="1.0.0", main_program=None,
              extra_environment=None):
        self.updater = Updater(self.args.program, self.work, self.args.artifacts,
                               self.args.scenario, folder_name)
        self.updater.write("version.ini", f"[update]\nVersion={version}\n")
        if main_program:
            shutil.copy2(main_program, self.updater.path("Tolvier.exe"))
        self.updater.environment.update(extra_environment or {})
        self.updater.start()
        self.desktop.pid = self.updater.process.pid
        wid = wait_for("the main window", lambda: self.desktop.x_window("^Quenlark"))
        frame = wait_for("the main window on the accessibility bus",
                         lambda: self.desktop.top_level(CAPTION))
        return wid, frame

    def button(self, frame):
        return self.desktop.only(frame, self.desktop.pyatspi.ROLE_PUSH_BUTTON, "check button")

    def button_visible(self, frame):
        return self.desktop.states(self.button(frame)).contains(
            self.desktop.pyatspi.STATE_VISIBLE)

    def box(self, text_wanted):
        """Waits for a box captioned with the title; checks that it shows `text_wanted`."""
        wid = wait_for("a box captioned " + TITLE, lambda: self.desktop.x_window("^update$"))
        box = wait_for("the box on the accessibility bus", lambda: self.desktop.top_level(TITLE))
        texts = wait_for("the box's text", lambda: [t for t in self.desktop.texts(box) if t])
        if text_wanted is not None:
            check(text_wanted in texts, f"the box shows {texts!r}, not {text_wanted!r}")
        return wid, box, texts

    def box_gone(self, box_id):
        # The next box may already be open under the same caption.
        wait_for("the box to close",
                 lambda: box_id not in self.desktop.x_windows("^update$"))

    def close_and_expect_end(self, wid):
        self.desktop.send_close(wid)
        status = self.updater.exit_status(APPEAR)
        check(status == 0, f"the program ended with status {status}, not 0")
        complaints = self.updater.complaints()
        check(not complaints, "the toolkit complained: " + "; ".join(complaints))

    def close(self):
        if self.updater is not None:
            self.updater.stop()
        for pid in self.stray_pids:
            try:
                os.kill(pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
        if self.server is not None:
            self.server.close()
        shutil.rmtree(self.work, ignore_errors=True)


# --- the scenarios -------------------------------------------------------------

def scenario_start(session):
    """The window as it opens, and a close while nothing runs."""
    desktop = session.desktop
    pyatspi = desktop.pyatspi
    wid, frame = session.start()
    check(desktop.geometry(wid) == (362, 236, 359, 82),
          f"window at {desktop.geometry(wid)}, not at (362, 236) sized 359 x 82")

    window = desktop.window(wid)
    hints = window.get_wm_normal_hints()
    check((hints.min_width, hints.min_height, hints.max_width, hints.max_height) ==
          (359, 82, 359, 82), "the window's size can be changed")
    motif = window.get_full_property(desktop.x.intern_atom("_MOTIF_WM_HINTS"), 0)
    check(motif is not None, "the window does not tell its frame's functions")
    functions = motif.value[1]
    minimise, maximise, close = 8, 16, 32
    check(functions & minimise and functions & close and not functions & maximise,
          f"frame functions {functions:#x}: want close and minimise, no maximise")
    icon = window.get_full_property(desktop.x.intern_atom("_NET_WM_ICON"), 0)
    check(icon is not None and list(icon.value[:2]) == [32, 32], "no 32 x 32 window icon")

    button = session.button(frame)
    check(button.name == BUTTON_CAPTION, f"button caption {button.name!r}")
    button_states = desktop.states(button)
    check(button_states.contains(pyatspi.STATE_VISIBLE), "the check button is hidden")
    check(wait_for("the check button to have the focus",
                   lambda: desktop.states(session.button(frame)).contains(pyatspi.STATE_FOCUSED)),
          "the check button has no focus")
    check(desktop.extents(button) == (136, 48, 89, 25),
          f"check button at {desktop.extents(button)}")

    bar = desktop.only(frame, pyatspi.ROLE_PROGRESS_BAR, "progress bar")
    check(bar.queryValue().currentValue == 0, "the progress bar is not empty")
    check(desktop.extents(bar) == (16, 16, 329, 17), f"progress bar at {desktop.extents(bar)}")
    label = desktop.only(frame, pyatspi.ROLE_LABEL, "label")
    check(label.name == "", f"the label shows {label.name!r}")
    check(desktop.extents(label)[:2] == (35, 48), f"label at {desktop.extents(label)}")
    check(not desktop.states(bar).contains(pyatspi.STATE_FOCUSABLE),
          "the progress bar takes the focus")

    desktop.screenshot("window", wid)
    desktop.screenshot("screen")
    session.close_and_expect_end(wid)


def scenario_no_update(session):
    """Enter starts the check; the newest version is installed; the button comes
    back and a click on it checks again."""
    desktop = session.desktop
    session.serve("[update]\nVersion=2.0.0\n[updatelist]\nup1=Tolvier.exe\n")
    wid, frame = session.start(version="2.0.0")
    os.makedirs(session.updater.path("update"))  # left over from an earlier run
    session.updater.write("update/stale.txt", "old")

    desktop.press(wid, "Return")
    box_id, _, _ = session.box(ALREADY_NEWEST)
    check(not session.button_visible(frame), "the check button is visible while the box is open")
    desktop.screenshot("box", box_id)
    desktop.screenshot("screen")
    desktop.press(box_id, "Escape")
    session.box_gone(box_id)

    wait_for("the check button to come back", lambda: session.button_visible(frame))
    check(not os.path.exists(session.updater.path("update")), "the update folder is still there")
    check(session.server.requests == [("GET", MANIFEST_PATH)],
          f"requests: {session.server.requests}")
    desktop.screenshot("after", wid)

    # The button again, clicked this time: the whole check runs again.
    desktop.click(wid, 136 + 44, 48 + 12)
    box_id, _, _ = session.box(ALREADY_NEWEST)
    desktop.click(box_id, *ok_button_centre(desktop, box_id))
    session.box_gone(box_id)
    check(session.server.requests == [("GET", MANIFEST_PATH)] * 2,
          f"requests: {session.server.requests}")
    wait_for("the check button to come back", lambda: session.button_visible(frame))
    session.close_and_expect_end(wid)


def ok_button_centre(desktop, box_id):
    box = desktop.top_level(TITLE)
    button = desktop.only(box, desktop.pyatspi.ROLE_PUSH_BUTTON, "box button")
    check(button.name == "OK", f"box button {button.name!r}, not 'OK'")
    x, y, width, height = desktop.extents(button)
    return x + width // 2, y + height // 2


def scenario_network_error(session):
    """No server: Space starts the check; the failure leaves the button hidden;
    the window ignores closing while the box is open, and ends on it after."""
    desktop = session.desktop
    check(port_is_free(session.args.port),
          f"something listens on 127.0.0.1:{session.args.port}; no server must answer here")
    wid, frame = session.start()

    desktop.press(wid, "space")
    box_id, _, _ = session.box(NETWORK_ERROR)
    desktop.screenshot("box", box_id)
    desktop.screenshot("screen")

    # The main window is disabled while the box is open: its close does nothing.
    desktop.send_close(wid)
    time.sleep(SETTLE)
    check(session.updater.running(), "closing the window behind the box ended the program")
    check(desktop.x_window("^update$") == box_id, "the box went away")

    desktop.press(box_id, "Return")
    session.box_gone(box_id)
    time.sleep(SETTLE)
    check(session.updater.running(), "the program ended without being closed")
    check(not session.button_visible(frame), "the check button came back after a failure")
    check(not os.path.exists(session.updater.path("update")), "an update folder was created")
    desktop.screenshot("after", wid)
    session.close_and_expect_end(wid)


def scenario_error_box(session):
    """Saving the manifest fails (a file stands where the update folder would):
    the error box shows it, with the program folder's non-UTF-8 name made
    readable, waits, and the window stays, its button hidden."""
    desktop = session.desktop
    session.serve("[update]\nVersion=2.0.0\n")
    gbk_name = "更新".encode("gbk")  # not valid UTF-8
    wid, frame = session.start(folder_name=b"program-" + gbk_name)
    session.updater.write("update", "a file, not a folder")

    desktop.press(wid, "Return")
    box_id, box, texts = session.box(None)
    text = texts[0]
    check(text.startswith('Cannot create file "') and "update.ini" in text and
          text.endswith("."), f"error box text {text!r}")
    check("program-" in text, f"the program folder's name is missing from {text!r}")
    images = desktop.descendants(box, desktop.pyatspi.ROLE_ICON) + \
        desktop.descendants(box, desktop.pyatspi.ROLE_IMAGE)
    check(images, "the error box has no icon")
    desktop.screenshot("box", box_id)
    desktop.screenshot("screen")
    time.sleep(SETTLE)
    check(desktop.x_window("^update$") == box_id, "the error box did not wait for the user")

    desktop.press(box_id, "Return")
    session.box_gone(box_id)
    check(session.updater.running(), "the program ended after the error box")
    check(not session.button_visible(frame), "the check button came back after an error")
    session.close_and_expect_end(wid)


def scenario_close_while_waiting(session):
    """Closing the window while the check waits for the server: the window
    stays, the check goes on, its box closes by itself, and the program ends."""
    desktop = session.desktop
    session.serve("[update]\nVersion=1.0.0\n")
    session.server.release.clear()
    wid, _ = session.start()
    os.makedirs(session.updater.path("update"))

    desktop.press(wid, "Return")
    wait_for("the manifest request", lambda: session.server.requests)
    desktop.send_close(wid)
    time.sleep(SETTLE)
    check(session.updater.running(), "the close ended the program while the check ran")
    check(desktop.x_window("^Quenlark") == wid, "the window went away while the check ran")
    desktop.screenshot("waiting", wid)

    session.server.release.set()
    status = session.updater.exit_status(APPEAR)
    check(status == 0, f"the program ended with status {status}, not 0")
    check(not os.path.exists(session.updater.path("update")),
          "the check did not run to its end (the update folder is still there)")
    check(session.server.requests == [("GET", MANIFEST_PATH)],
          f"requests: {session.server.requests}")
    complaints = session.updater.complaints()
    check(not complaints, "the toolkit complained: " + "; ".join(complaints))


def scenario_update(session):
    """A newer version: every box waits for the user, the window shows the
    download, the files are installed, the main program is started again, and
    the program ends by itself with status 0."""
    desktop = session.desktop
    pyatspi = desktop.pyatspi
    content = "new data\n" * 100
    session.serve("[update]\nVersion=2.0.0\n[updatelist]\nup1=data.txt\n")
    with open(os.path.join(session.work, "server", MANIFEST_PATH.lstrip("/").rsplit("/", 1)[0],
                           "data.txt"), "w") as file:
        file.write(content)
    mark = os.path.join(session.work, "restarted.mark")
    wid, frame = session.start(version="1.0.0", main_program=session.args.main_program,
                               extra_environment={"TOLVIER_STUB_MARK": mark,
                                                  "TOLVIER_STUB_SECONDS": "20"})
    session.updater.write("data.txt", "old data\n")

    desktop.press(wid, "Return")
    box_id, _, _ = session.box(NEW_VERSION_FOUND)
    desktop.press(box_id, "Return")
    session.box_gone(box_id)

    box_id, _, _ = session.box(DOWNLOAD_DONE)
    label = desktop.only(frame, pyatspi.ROLE_LABEL, "label")
    check(label.name == LABEL_ONE_OF_ONE, f"the label shows {label.name!r}")
    bar = desktop.only(frame, pyatspi.ROLE_PROGRESS_BAR, "progress bar")
    check(bar.queryValue().currentValue == 1, "the progress bar is not full")
    check(not session.button_visible(frame), "the check button is visible during the update")
    desktop.screenshot("downloaded", wid)
    desktop.screenshot("box", box_id)
    time.sleep(SETTLE)
    check(desktop.x_window("^update$") == box_id, "the box did not wait for the user")
    desktop.press(box_id, "Return")
    session.box_gone(box_id)

    box_id, _, _ = session.box(UPDATE_SUCCEEDED)
    with open(session.updater.path("data.txt"), encoding="utf-8") as file:
        check(file.read() == content, "the downloaded file was not installed")
    desktop.send_close(box_id)  # its close button dismisses it as OK does

    status = session.updater.exit_status(APPEAR)
    check(status == 0, f"the program ended with status {status}, not 0")
    check(not os.path.exists(session.updater.path("update")), "the update folder is still there")
    with open(session.updater.path("version.ini"), encoding="utf-8") as file:
        check("2.0.0" in file.read(), "the new version was not recorded")
    started = wait_for("the main program to be started again",
                       lambda: os.path.exists(mark) and open(mark).read())
    fields = dict(field.split("=", 1) for field in started.splitlines()[0].split("\t"))
    session.stray_pids.append(int(fields["pid"]))
    check(fields["exe"] == os.fsdecode(session.updater.path("Tolvier.exe")),
          f"started {fields['exe']!r}, not the program folder's Tolvier.exe")
    complaints = session.updater.complaints()
    check(not complaints, "the toolkit complained: " + "; ".join(complaints))


SCENARIOS = {
    "Start": scenario_start,
    "NoUpdate": scenario_no_update,
    "NetworkError": scenario_network_error,
    "ErrorBox": scenario_error_box,
    "CloseWhileWaiting": scenario_close_while_waiting,
    "Update": scenario_update,
}


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--program", required=True)
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--artifacts", required=True)
    parser.add_argument("--main-program", help="the stand-in main program, Tolvier.exe")
    parser.add_argument("--scenario", choices=sorted(SCENARIOS), required=True)
    args = parser.parse_args()

    if not os.environ.get("DISPLAY"):
        print("SKIPPED: no X display (DISPLAY is unset); run under xvfb-run or scripts/test")
        return SKIP
    os.makedirs(args.artifacts, exist_ok=True)
    for name in os.listdir(args.artifacts):  # a failure's pictures must not outlive a fix
        if name.startswith(args.scenario + "-"):
            os.remove(os.path.join(args.artifacts, name))

    session = Session(args)
    try:
        SCENARIOS[args.scenario](session)
    except Failure as failure:
        print(f"FAILED: {args.scenario}: {failure}")
        try:
            session.desktop.screenshot("failure")
        except Exception:
            pass
        return 1
    except Exception:
        traceback.print_exc()
        return 1
    finally:
        session.close()
    print(f"PASSED: {args.scenario}; screenshots in {args.artifacts}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
