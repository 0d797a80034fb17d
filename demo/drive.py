#!/usr/bin/python3
"""Drives the demo's updater in a display nobody looks at, as a person would.

Starts update.exe, presses Enter on its button "检查更新", then Enter on every
message box, printing what each box says and keeping a screenshot of each
step. Ends when the updater ends, or when nothing has happened for 30 s
(the updater then waits for something no person will do: it is ended). Every
wait is bounded; the whole run takes at most 3 minutes.

Run inside `dbus-run-session` (the boxes are read through the accessibility
bus), with $DISPLAY set. Exit status: the updater's (128 + the signal's
number when a signal ended it), or 1 when it had to be ended.
"""

import argparse
import os
import signal
import subprocess
import sys
import time

sys.dont_write_bytecode = True  # no cache files beside the sources
HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "e2e"))
from e2e_test import Failure, Window, end_process, wait_for  # noqa: E402

IDLE = 30
TOTAL = 180


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--updater", required=True, help="update.exe in the program folder")
    parser.add_argument("--shots", required=True, help="folder for the screenshots")
    parser.add_argument("--output", required=True, help="file for the updater's own output")
    args = parser.parse_args()

    number = 0

    def shot(name):
        nonlocal number
        number += 1
        path = os.path.join(args.shots, f"{number:02d}-{name}.png")
        if subprocess.run(["import", "-window", "root", path], capture_output=True,
                          timeout=20).returncode == 0:
            print(f"  screenshot: {os.path.basename(path)}", flush=True)

    with open(args.output, "wb") as out:
        updater = subprocess.Popen([args.updater], cwd=os.path.dirname(args.shots),
                                   stdin=subprocess.DEVNULL, stdout=out, stderr=out)
    print(f"update.exe runs (pid {updater.pid})", flush=True)
    try:
        window = Window(updater.pid, lambda name: None)
        window.wait_shown()
        time.sleep(0.3)  # lets the window paint before the screenshot
        print('The window "Quenlark 升级程序 V1.0" is shown.', flush=True)
        shot("window")
        print('Pressing Enter on the focused button "检查更新".', flush=True)
        window.press_check_button()

        boxes = 0
        quiet_since = time.monotonic()
        deadline = time.monotonic() + TOTAL
        while updater.poll() is None and time.monotonic() < deadline:
            text = window.box()
            box_id = window.box_window_id() if text else None
            if text and box_id:
                boxes += 1
                time.sleep(0.3)
                print(f"Message box {boxes}: {text}", flush=True)
                label = window.label_text()
                if label:
                    print(f"  the window's label: {label}", flush=True)
                shot(f"message-{boxes}")
                window.press_return(box_id)
                wait_for("the box to close",
                         lambda: updater.poll() is not None or window.box_window_id() != box_id, 10)
                print("  dismissed with Enter", flush=True)
                quiet_since = time.monotonic()
            elif time.monotonic() - quiet_since > IDLE:
                print(f"Nothing happened for {IDLE} s and the updater still runs:"
                      " it stopped short of the end.", flush=True)
                shot("stopped")
                break
            time.sleep(0.1)
    except Failure as failure:
        print(f"Driving the window failed: {failure}", flush=True)
        shot("failure")
    finally:
        ended_here = updater.poll() is None
        if ended_here:
            print("The updater did not end by itself; ending it.", flush=True)
            end_process(updater.pid)
    if ended_here:
        return 1
    if updater.returncode < 0:
        print(f"update.exe was ended by signal {-updater.returncode}"
              f" ({signal.Signals(-updater.returncode).name})", flush=True)
        return 128 - updater.returncode
    return updater.returncode


if __name__ == "__main__":
    sys.exit(main())
