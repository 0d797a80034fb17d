#!/usr/bin/python3
"""End-to-end runs of the built updater against Debian's nginx on 127.0.0.1.

One scenario per call (--scenario). Each lays out a program folder with the
updater and the stand-in main program in a fresh folder below --artifacts,
publishes a release in nginx's document root, starts nginx on --port with its
own configuration (from the demo's template), drives the real window under
$DISPLAY (xdotool presses Enter; the window is read through the accessibility
bus; the window manager's close request is sent as a client message) and
checks what ends up on disk and which processes run.

Run inside `dbus-run-session` so that the accessibility bus is private.
Exit status 0: passed; 1: failed (the reason is printed, screenshots are kept
in the scenario's folder); 77: skipped (no display, or no nginx).
"""

import argparse
import hashlib
import os
import shutil
import signal
import socket
import subprocess
import sys
import time

SKIP = 77

CHECK_BUTTON = "检查更新"
CHECK_NETWORK_ERROR = "网络连接出错，请稍候再试!"
NEW_VERSION_FOUND = "发现新版本，开始更新"
ALREADY_NEWEST = "您当前的软件是最新版本，不需要进行更新"
DOWNLOAD_NETWORK_ERROR = "网络出错，更新失败，请稍候更新！!"
DOWNLOAD_DONE = "下载所需的更新文件成功，如果您开启了主程序，升级程序将关闭主程序进行软件更新"
UPDATE_SUCCEEDED = "软件更新成功，程序将重新启动"

BASE_PATH = "quorvicomdata/update/tolvier"
CAPTION = "Quenlark 升级程序 V1.0"
BOX_CAPTION = "update"  # the application title: the program's file is update.exe

sys.dont_write_bytecode = True  # no cache files beside the sources
# The real-window tests' helpers: the same way of driving the window.
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "window"))
from window_test import Failure, check, wait_for  # noqa: E402


def sha256(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def profile_value(path, section, key):
    """The value of `key` in `section` of a profile file, both matched without
    regard to case; None when absent."""
    current = None
    with open(path, "rb") as f:
        for raw in f.read().decode("utf-8", "replace").splitlines():
            line = raw.strip()
            if line.startswith("["):
                current = line[1:line.find("]")].strip().lower() if "]" in line else None
            elif current == section.lower() and "=" in line:
                name, value = line.split("=", 1)
                if name.strip().lower() == key.lower():
                    return value.strip()
    return None


def port_is_free(port):
    with socket.socket() as s:
        try:
            s.bind(("127.0.0.1", port))
        except OSError:
            return False
    return True


def process_exe(pid):
    try:
        return os.readlink(f"/proc/{pid}/exe")
    except OSError:
        return None


def processes_of(executable):
    """Pids of the running processes whose executable is `executable` (also
    when the file was replaced after their start). Zombies have no link and
    are left out."""
    pids = []
    for entry in os.listdir("/proc"):
        if entry.isdigit():
            exe = process_exe(int(entry))
            if exe in (executable, executable + " (deleted)"):
                pids.append(int(entry))
    return pids


def end_process(pid):
    """SIGTERM, then SIGKILL after 3 s; collects it when it is a child."""
    try:
        os.kill(pid, signal.SIGTERM)
    except ProcessLookupError:
        return
    deadline = time.monotonic() + 3
    while time.monotonic() < deadline:
        try:
            if os.waitpid(pid, os.WNOHANG)[0] == pid:
                return
        except ChildProcessError:
            if not os.path.exists(f"/proc/{pid}"):
                return
        time.sleep(0.05)
    try:
        os.kill(pid, signal.SIGKILL)
        os.waitpid(pid, 0)
    except (ProcessLookupError, ChildProcessError):
        pass


class Nginx:
    """Debian's nginx with a configuration of its own below `run`."""

    def __init__(self, template, run, root, port, limit_rate="0"):
        self.run = run
        self.port = port
        os.makedirs(os.path.join(run, "temp"), exist_ok=True)
        with open(template, encoding="utf-8") as f:
            conf = f.read()
        conf = (conf.replace("@USER@", "user root;" if os.geteuid() == 0 else "")
                .replace("@RUN@", run).replace("@ROOT@", root)
                .replace("@PORT@", str(port)).replace("@LIMIT_RATE@", limit_rate))
        self.conf = os.path.join(run, "nginx.conf")
        with open(self.conf, "w", encoding="utf-8") as f:
            f.write(conf)
        self.process = None

    def start(self):
        check(port_is_free(self.port), f"port {self.port} is taken by another program")
        with open(os.path.join(self.run, "nginx.out"), "ab") as out:
            self.process = subprocess.Popen(
                [nginx_binary(), "-p", self.run + "/", "-c", self.conf,
                 "-e", os.path.join(self.run, "error.log")],
                stdout=out, stderr=out, stdin=subprocess.DEVNULL)

        def answers():
            if self.process.poll() is not None:
                return "ended"
            with socket.socket() as s:
                return s.connect_ex(("127.0.0.1", self.port)) == 0

        outcome = wait_for("nginx to accept connections", answers, 10)
        check(outcome is True, f"nginx ended at start; see {self.run}/error.log")

    def stop(self):
        if self.process and self.process.poll() is None:
            end_process(self.process.pid)

    def requests(self):
        """The request lines nginx logged, as '"GET /x HTTP/1.1" 200 5' lines."""
        path = os.path.join(self.run, "access.log")
        if not os.path.exists(path):
            return []
        with open(path, encoding="utf-8", errors="replace") as f:
            return [line.rstrip("\n") for line in f]


def nginx_binary():
    found = shutil.which("nginx")
    if found:
        return found
    return "/usr/sbin/nginx" if os.access("/usr/sbin/nginx", os.X_OK) else None


class Window:
    """The updater's windows as a person meets them: the main window and its
    message boxes. Built on the real-window tests' Desktop, which finds the
    program's windows by caption, presses keys and clicks with xdotool, sends
    the close request with python-xlib and reads texts and states through the
    accessibility bus."""

    def __init__(self, pid, shot):
        from window_test import Desktop  # only here: a skipped run must not need pyatspi

        # Desktop's own screenshots are not used: `shot` keeps ours.
        self.desktop = Desktop(artifacts=None, scenario=None)
        self.desktop.pid = pid
        self.pyatspi = self.desktop.pyatspi
        self.shot = shot  # keeps a screenshot under the name given
        self.main_window_id = None
        self.frame = None

    def wait_shown(self):
        self.main_window_id = wait_for("the updater's window",
                                       lambda: self.desktop.x_window("^Quenlark "))
        self.frame = wait_for("the window on the accessibility bus",
                              lambda: self.desktop.top_level(CAPTION))

    def main_window_shown(self):
        return self.desktop.x_window("^Quenlark ") == self.main_window_id

    def button_showing(self):
        button = self.desktop.only(self.frame, self.pyatspi.ROLE_PUSH_BUTTON, "check button")
        check(button.name == CHECK_BUTTON, f"the button says {button.name!r}")
        return self.desktop.states(button).contains(self.pyatspi.STATE_VISIBLE)

    def label_text(self):
        return self.desktop.only(self.frame, self.pyatspi.ROLE_LABEL, "label").name

    def box(self):
        """The text of the message box on screen, or None."""
        box = self.desktop.top_level(BOX_CAPTION)
        texts = [text for text in self.desktop.texts(box) if text] if box is not None else []
        return "\n".join(texts) if texts else None

    def box_window_id(self):
        return self.desktop.x_window(f"^{BOX_CAPTION}$")

    def wait_box(self, expected):
        text = wait_for(f'the message box "{expected}"', self.box)
        check(text == expected, f'the message box says "{text}", expected "{expected}"')

    def press_return(self, window_id):
        self.desktop.press(window_id, "Return")

    def dismiss_box(self, expected):
        """Waits for the box saying `expected`, presses Enter on it, and waits
        until it is gone."""
        self.wait_box(expected)
        box_id = wait_for("the message box's X window", self.box_window_id)
        self.shot("box")
        self.press_return(box_id)
        wait_for(f'"{expected}" to close', lambda: self.box_window_id() != box_id)

    def press_check_button(self):
        check(self.button_showing(), f'the button "{CHECK_BUTTON}" is not shown')
        self.press_return(self.main_window_id)

    def click_check_button(self):
        """A click in the middle of the check button (136, 48, 89 x 25)."""
        check(self.button_showing(), f'the button "{CHECK_BUTTON}" is not shown')
        self.desktop.click(self.main_window_id, 136 + 44, 48 + 12)

    def close(self):
        """The window manager's close request (WM_DELETE_WINDOW), as a click
        on the window's close button sends it."""
        self.desktop.send_close(self.main_window_id)


class Stage:
    """One scenario's folders, processes and checks."""

    def __init__(self, args):
        self.args = args
        self.folder = os.path.join(args.artifacts, "e2e", args.scenario)
        shutil.rmtree(self.folder, ignore_errors=True)
        self.program = os.path.join(self.folder, "program")
        self.www = os.path.join(self.folder, "www")
        self.release = os.path.join(self.www, *BASE_PATH.split("/"))
        os.makedirs(self.program)
        os.makedirs(self.release)
        self.nginx = None
        self.updater = None
        self.window = None
        self.stub = None
        self.shot_number = 0

    # --- layout ---

    def write(self, relative, data):
        path = os.path.join(self.folder, relative)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data.encode("utf-8") if isinstance(data, str) else data)
        return path

    def program_file(self, name):
        return os.path.join(self.program, *name.split("\\"))

    def read_program(self, name):
        with open(self.program_file(name), "rb") as f:
            return f.read()

    def install(self, version="1.0", files=None):
        """The program folder on `version`: the updater, the stand-in main
        program, version.ini and `files` (name -> bytes)."""
        shutil.copy2(self.args.program, os.path.join(self.program, "update.exe"))
        shutil.copy2(self.args.stub, os.path.join(self.program, "Tolvier.exe"))
        self.write("program/version.ini", f"[update]\r\nVersion={version}\r\n")
        for name, data in (files or {}).items():
            self.write("program/" + name.replace("\\", "/"), data)

    def publish(self, version, listed, files):
        """update.ini offering `version` with the list `listed`, and `files`
        (name -> bytes) next to it."""
        lines = ["[update]", f"Version={version}", "", "[updatelist]"]
        lines += [f"up{n}={name}" for n, name in enumerate(listed, 1)]
        self.write(f"www/{BASE_PATH}/update.ini", "\r\n".join(lines) + "\r\n")
        for name, data in files.items():
            self.write(f"www/{BASE_PATH}/" + name.replace("\\", "/"), data)

    def stub_release(self, version):
        """The stand-in main program as a release: the same program with a
        trailer that makes the file differ (the system ignores bytes past the
        program's end), so the replaced file can be told from the old one."""
        with open(self.args.stub, "rb") as f:
            return f.read() + f"\nrelease {version}\n".encode()

    # --- processes ---

    def start_nginx(self, limit_rate="0"):
        self.nginx = Nginx(self.args.template, os.path.join(self.folder, "server"), self.www,
                           self.args.port, limit_rate)
        self.nginx.start()

    def start_stub(self):
        """Starts the program folder's Tolvier.exe and waits for its mark."""
        self.stub = subprocess.Popen([self.program_file("Tolvier.exe")], cwd=self.program,
                                     env=self.env(), stdin=subprocess.DEVNULL,
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        wait_for("the stand-in main program to start", self.marks, 10)
        return self.stub.pid

    def marks(self):
        """The pids in the stand-in's mark file, in order of start."""
        path = os.path.join(self.program, "started.mark")
        if not os.path.exists(path):
            return []
        with open(path, encoding="utf-8", errors="replace") as f:
            return [dict(field.split("=", 1) for field in line.rstrip("\n").split("\t"))
                    for line in f if line.strip()]

    def env(self):
        env = dict(os.environ)
        env["TOLVIER_STUB_SECONDS"] = "60"
        env.pop("TOLVIER_STUB_MARK", None)
        env["GDK_GL"] = "disable"
        env["NO_AT_BRIDGE"] = "0"
        env["LC_ALL"] = "C.UTF-8"
        # The update folder goes to the trash: this scenario's own, not the user's.
        env["HOME"] = self.folder
        env["XDG_DATA_HOME"] = os.path.join(self.folder, "data")
        return env

    def start_updater(self):
        with open(os.path.join(self.folder, "updater.out"), "wb") as out:
            self.updater = subprocess.Popen([os.path.join(self.program, "update.exe")],
                                            cwd=self.folder, env=self.env(),
                                            stdin=subprocess.DEVNULL, stdout=out, stderr=out)
        self.window = Window(self.updater.pid, self.shot)
        self.window.wait_shown()
        self.shot("window")

    def wait_updater_end(self, seconds=30):
        wait_for("the updater to end", lambda: self.updater.poll() is not None, seconds)
        return self.updater.returncode

    def shot(self, name):
        self.shot_number += 1
        path = os.path.join(self.folder, f"{self.shot_number:02d}-{name}.png")
        subprocess.run(["import", "-window", "root", path], capture_output=True, timeout=20)

    def cleanup(self):
        if self.updater and self.updater.poll() is None:
            end_process(self.updater.pid)
        for pid in processes_of(self.program_file("Tolvier.exe")):
            end_process(pid)
        if self.stub and self.stub.poll() is None:
            end_process(self.stub.pid)
        if self.nginx:
            self.nginx.stop()

    # --- checks ---

    def version_recorded(self):
        return profile_value(self.program_file("version.ini"), "update", "version")

    def update_folder_exists(self):
        return os.path.exists(os.path.join(self.program, "update"))


# --- the scenarios ------------------------------------------------------------------


def full_update(stage):
    """Files replaced and added, the main program stopped and started again,
    version.ini updated, the update folder gone, exit status 0."""
    new_stub = stage.stub_release("2.0")
    stage.install("1.0", {"skin\\theme.dat": "theme 1.0\n"})
    # The updater makes no folders: the listed subfolder must be there in the
    # update folder too, as an earlier run leaves it.
    os.makedirs(os.path.join(stage.program, "update", "skin"))
    stage.publish("2.0", ["Tolvier.exe", "readme.txt", "skin\\theme.dat"],
                  {"Tolvier.exe": new_stub, "readme.txt": "new in 2.0\n",
                   "skin\\theme.dat": "theme 2.0\n"})
    stage.start_nginx()
    old_pid = stage.start_stub()
    stage.start_updater()
    stage.window.press_check_button()
    stage.window.dismiss_box(NEW_VERSION_FOUND)
    stage.window.wait_box(DOWNLOAD_DONE)
    check(stage.window.label_text() == "本次总共需要下载文件3个，已经下载3个",
          f'the label says "{stage.window.label_text()}" after the download')
    check(not stage.window.button_showing(), "the check button is shown during the update")
    check(stage.stub.poll() is None, "the main program was stopped before the announcement")
    stage.window.dismiss_box(DOWNLOAD_DONE)
    stage.window.wait_box(UPDATE_SUCCEEDED)
    check(stage.stub.poll() is not None, "the old main program still runs after the copies")
    stage.window.dismiss_box(UPDATE_SUCCEEDED)
    status = stage.wait_updater_end()
    check(status == 0, f"the updater ended with status {status}")

    check(stage.read_program("Tolvier.exe") == new_stub, "Tolvier.exe was not replaced")
    check(stage.read_program("readme.txt") == b"new in 2.0\n", "readme.txt was not added")
    check(stage.read_program("skin\\theme.dat") == b"theme 2.0\n",
          "skin/theme.dat was not replaced")
    check(stage.version_recorded() == "2.0",
          f"version.ini records {stage.version_recorded()!r}, not 2.0")
    check(not stage.update_folder_exists(), "the update folder is still there")

    marks = wait_for("the main program's restart",
                     lambda: stage.marks() if len(stage.marks()) >= 2 else None, 10)
    check(len(marks) == 2, f"the main program was started {len(marks) - 1} times by the updater")
    new_pid = int(marks[1]["pid"])
    check(new_pid != old_pid, "the main program was not started anew")
    check(marks[1]["exe"] == stage.program_file("Tolvier.exe"),
          f"the restarted main program runs {marks[1]['exe']}")
    running = processes_of(stage.program_file("Tolvier.exe"))
    check(running == [new_pid], f"running main programs: {running}, expected [{new_pid}]")
    with open(f"/proc/{new_pid}/exe", "rb") as f:
        check(f.read() == new_stub, "the running main program is not the new file")

    asked = [line.split('"')[1] for line in stage.nginx.requests()]
    base = "/" + BASE_PATH + "/"
    expected = [f"GET {base}update.ini HTTP/1.1"]
    for name in ["Tolvier.exe", "readme.txt", "skin/theme.dat"]:
        expected += [f"HEAD {base}{name} HTTP/1.1", f"GET {base}{name} HTTP/1.1"]
    check(asked == expected, f"the server was asked {asked}, expected {expected}")


def no_newer_version(stage):
    """The installed version is offered: the button comes back, and a second
    check runs the whole check again."""
    stage.install("2.0")
    stage.publish("2.0", ["Tolvier.exe"], {"Tolvier.exe": stage.stub_release("2.0")})
    stage.start_nginx()
    stage.start_updater()
    before = stage.read_program("Tolvier.exe")
    for attempt in (1, 2):
        # Enter at first, while the button has the focus; a click the second
        # time, as hiding the button took the focus away from it.
        if attempt == 1:
            stage.window.press_check_button()
        else:
            stage.window.click_check_button()
        stage.window.dismiss_box(ALREADY_NEWEST)
        wait_for(f"the check button back after check {attempt}", stage.window.button_showing, 10)
        check(not stage.update_folder_exists(), "the update folder is still there")
        stage.shot(f"checked-{attempt}")
    asked = [line.split('"')[1] for line in stage.nginx.requests()]
    manifest = f"GET /{BASE_PATH}/update.ini HTTP/1.1"
    check(asked == [manifest, manifest], f"the server was asked {asked}")
    check(stage.read_program("Tolvier.exe") == before, "Tolvier.exe changed")
    check(stage.version_recorded() == "2.0", "version.ini changed")
    stage.window.close()
    status = stage.wait_updater_end(10)
    check(status == 0, f"the updater ended with status {status} after the close")


def server_down(stage):
    """Nothing listens on the port: the network message, the button stays
    hidden, nothing is written."""
    stage.install("1.0")
    check(port_is_free(stage.args.port), f"port {stage.args.port} is taken by another program")
    stage.start_updater()
    stage.window.press_check_button()
    stage.window.dismiss_box(CHECK_NETWORK_ERROR)
    stage.shot("stopped")
    time.sleep(0.5)  # the button would be back by now, were it coming back
    check(not stage.window.button_showing(), "the check button is shown after the failure")
    check(not stage.update_folder_exists(), "the update folder was created")
    check(stage.version_recorded() == "1.0", "version.ini changed")
    stage.window.close()
    status = stage.wait_updater_end(10)
    check(status == 0, f"the updater ended with status {status} after the close")


def missing_file(stage):
    """A listed file is missing on the server: the download message, nothing
    installed, the main program left running."""
    new_stub = stage.stub_release("2.0")
    stage.install("1.0")
    stage.publish("2.0", ["Tolvier.exe", "readme.txt"], {"Tolvier.exe": new_stub})
    stage.start_nginx()
    old_pid = stage.start_stub()
    before = stage.read_program("Tolvier.exe")
    stage.start_updater()
    stage.window.press_check_button()
    stage.window.dismiss_box(NEW_VERSION_FOUND)
    stage.window.dismiss_box(DOWNLOAD_NETWORK_ERROR)
    stage.shot("stopped")
    time.sleep(0.5)  # a further box would be shown by now
    check(stage.window.box() is None, f'a further message box: "{stage.window.box()}"')
    check(not stage.window.button_showing(), "the check button is shown after the failure")
    check(stage.read_program("Tolvier.exe") == before, "Tolvier.exe was replaced")
    check(not os.path.exists(stage.program_file("readme.txt")), "readme.txt was installed")
    check(stage.version_recorded() == "1.0", "version.ini changed")
    check(stage.stub.poll() is None and processes_of(stage.program_file("Tolvier.exe")) == [old_pid],
          "the main program was stopped or started")
    with open(os.path.join(stage.program, "update", "Tolvier.exe"), "rb") as f:
        check(f.read() == new_stub, "the update folder does not keep the file downloaded before")
    check(not os.path.exists(os.path.join(stage.program, "update", "readme.txt")),
          "the missing file was saved")
    stage.window.close()
    status = stage.wait_updater_end(10)
    check(status == 0, f"the updater ended with status {status} after the close")


def close_during_download(stage):
    """The window is closed while a slow file downloads: the window stays
    until the work is done, the later boxes close by themselves, the install
    happens, and the program ends with status 0."""
    big = os.urandom(1536 * 1024)  # at 512 KiB/s, three seconds on the wire
    stage.install("1.0")
    stage.publish("2.0", ["Tolvier.exe", "big.dat"],
                  {"Tolvier.exe": stage.stub_release("2.0"), "big.dat": big})
    stage.start_nginx(limit_rate="512k")
    old_pid = stage.start_stub()
    stage.start_updater()
    stage.window.press_check_button()
    stage.window.dismiss_box(NEW_VERSION_FOUND)
    # The HEAD of big.dat is logged as soon as it is answered; the GET follows
    # at once and then runs for three seconds.
    head = f"HEAD /{BASE_PATH}/big.dat HTTP/1.1"
    wait_for("the HEAD request of big.dat",
             lambda: any(f'"{head}"' in line for line in stage.nginx.requests()), 20)
    time.sleep(0.3)
    check(not os.path.exists(os.path.join(stage.program, "update", "big.dat")),
          "big.dat arrived before the window could be closed; the download is too quick")
    stage.window.close()
    time.sleep(0.3)
    check(stage.updater.poll() is None, "the updater ended while the download ran")
    check(stage.window.main_window_shown(), "the window vanished at the close request")
    stage.shot("closed-while-downloading")
    status = stage.wait_updater_end(30)
    check(status == 0, f"the updater ended with status {status}")
    check(stage.read_program("big.dat") == big, "big.dat was not installed")
    check(stage.read_program("Tolvier.exe") == stage.stub_release("2.0"),
          "Tolvier.exe was not replaced")
    check(stage.version_recorded() == "2.0", "version.ini was not updated")
    check(not stage.update_folder_exists(), "the update folder is still there")
    marks = wait_for("the main program's restart",
                     lambda: stage.marks() if len(stage.marks()) >= 2 else None, 10)
    check(int(marks[-1]["pid"]) != old_pid and stage.stub.poll() is not None,
          "the main program was not stopped and started again")


SCENARIOS = {
    "FullUpdate": full_update,
    "NoNewerVersion": no_newer_version,
    "ServerDown": server_down,
    "MissingFile": missing_file,
    "CloseDuringDownload": close_during_download,
}


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--program", required=True, help="the updater built for the port")
    parser.add_argument("--stub", required=True, help="the stand-in main program")
    parser.add_argument("--port", required=True, type=int)
    parser.add_argument("--template", required=True, help="the nginx configuration template")
    parser.add_argument("--artifacts", required=True)
    parser.add_argument("--scenario", required=True, choices=sorted(SCENARIOS))
    args = parser.parse_args()

    if not os.environ.get("DISPLAY"):
        print("SKIPPED: no DISPLAY (scripts/test runs the tests under Xvfb)")
        return SKIP
    if nginx_binary() is None:
        print("SKIPPED: nginx is not installed (scripts/deps installs nginx-light)")
        return SKIP
    if subprocess.run(["xdotool", "getdisplaygeometry"], capture_output=True,
                      timeout=10).returncode != 0:
        print(f"SKIPPED: DISPLAY={os.environ['DISPLAY']} cannot be opened")
        return SKIP

    stage = Stage(args)
    try:
        SCENARIOS[args.scenario](stage)
    except Failure as failure:
        stage.shot("failure")
        print(f"FAILED {args.scenario}: {failure}")
        if stage.updater and stage.updater.poll() is not None:
            print(f"(the updater had ended, status {stage.updater.returncode})")
        print(f"screenshots and logs: {stage.folder}")
        return 1
    finally:
        stage.cleanup()
    print(f"PASSED {args.scenario}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
