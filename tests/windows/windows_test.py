#!/usr/bin/env python3
# The Windows build as its users get it, run under Wine (scripts/windows.sh sets WINEPREFIX):
#
# 1. the zip holds the two programs and the DLLs they need, nothing else, and every DLL any of them
#    imports is either in the zip or one of the system's own;
# 2. zet-pelta-cli.exe migrates a sample disc of each system (with a cut file among the images), one
#    of names in other character sets and one in folders deeper than 260 characters, exactly as the
#    Linux build does: the same destination contents, exit status and summary, the same log lines
#    and report rows, paths and times aside;
# 3. zet-pelta-cli.exe sends the last sample disc's images to a loopback Orthanc and has every one
#    confirmed by storage commitment, through its own listener;
# 4. zet-pelta-cli.exe --watch migrates the discs put one after another into a CD-ROM drive letter,
#    knows a disc again, and names each in its journal by label and serial;
# 5. the window, clicked through on a virtual X display with its fixed client size (screenshots are
#    kept), migrates a disc and sends it to a loopback Orthanc exactly as the Linux window does; with
#    AutoStart it migrates each disc put into drive R: and knows one again; closing it writes its
#    settings beside the program, deep paths as they were;
# 6. the installer, for one user or for all, with an update (also over the previous version's
#    installation) and the uninstaller.
#
# usage: windows_test.py --zip ZIP --setup EXE --previous-setup EXE --linux-cli PROGRAM
#                        --linux-window PROGRAM --make-disc PROGRAM --charset-files DIR --screenshot PNG
import argparse
import csv
import difflib
import hashlib
import io
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import zipfile

SYSTEMS = ["Arzt und Praxis", "GEMED", "HIPAX", "STARC"]
CHARSETS = "character sets"  # a HIPAX disc of pydicom's files in other character sets
# A STARC disc, its destination and temp folder deeper than Windows' 260 characters, in folders whose
# names hold umlauts and characters beyond any code page.
DEEP = os.path.join(*[f"Ärztehaus Übersicht ß Ω 中文 {n:02d}" for n in range(12)])
EXPECTED_FILES = {
    "zet-pelta.exe", "zet-pelta-cli.exe", "Qt6Core.dll", "Qt6Gui.dll", "Qt6Widgets.dll",
    "libstdc++-6.dll", "libgcc_s_seh-1.dll", "libwinpthread-1.dll", "platforms/qwindows.dll",
}
UUID_NAME = re.compile(r"[0-9a-f]{8}-[0-9a-f]{4}-7[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}\.dcm")
failures = []


def check(condition, what):
    print(("ok:   " if condition else "FAIL: ") + what, flush=True)
    if not condition:
        failures.append(what)
    return condition


# How a Windows program names a path here: Wine's drive Z: is the root of this machine.
def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def wine(program, *args, **kwargs):
    return subprocess.run(["wine", program, *args], capture_output=True, timeout=600, **kwargs)


def check_zip(zip_path, folder):
    with zipfile.ZipFile(zip_path) as archive:
        names = {n for n in archive.namelist() if not n.endswith("/")}
        archive.extractall(folder)
    check(names == EXPECTED_FILES, f"the zip holds the programs and their DLLs: {sorted(names)}")
    system32 = os.path.join(os.environ["WINEPREFIX"], "drive_c/windows/system32")
    system_dlls = {n.lower() for n in os.listdir(system32)}
    shipped = {os.path.basename(n).lower() for n in names}
    for name in sorted(names):
        dump = subprocess.run(["x86_64-w64-mingw32-objdump", "-p", os.path.join(folder, name)],
                              check=True, capture_output=True, text=True).stdout
        imports = re.findall(r"DLL Name: (\S+)", dump)
        # API sets (api-ms-win-...) are names the system's loader maps to its own DLLs.
        missing = [d for d in imports if d.lower() not in shipped and d.lower() not in system_dlls
                   and not d.lower().startswith(("api-ms-win-", "ext-ms-win-"))]
        check(not missing, f"{name} finds every DLL it imports {missing or ''}")


# A copy of the disc's largest file cut in half, beside it under a name of the same kind.
def damaged_copy(disc):
    files = [os.path.join(d, f) for d, _, fs in os.walk(disc) for f in fs]
    largest = max(files, key=os.path.getsize)
    folder, name = os.path.split(largest)
    stem, dot, extension = name.rpartition(".")
    cut = os.path.join(folder, (stem + "9" + dot + extension) if dot else name[:-1] + "9")
    with open(largest, "rb") as source, open(cut, "wb") as target:
        target.write(source.read()[: os.path.getsize(largest) // 2])


# Text with the run's own paths (in either system's spelling) and its times made alike.
def normalise(text, paths):
    for path, mark in paths:
        for spelling in {path, windows_path(path)}:
            text = text.replace(spelling, mark)
    text = text.replace("\\", "/")  # what is left of a path after its mark
    text = re.sub(r"\d{4}-\d{2}-\d{2}[T_ ]\d{2}[-:]?\d{2}[-:]?\d{2}(\.\d+)?", "<time>", text)
    text = re.sub(r"\d{1,2}[./]\d{1,2}[./]\d{2,4}( \d{1,2}:\d{2}(:\d{2})?)?( [AP]M)?", "<time>", text)
    text = re.sub(r"\b\d{1,2}:\d{2}:\d{2}\b", "<time>", text)
    text = re.sub(r"\d+(,\d+)? ?(s|Sekunden|MB/s|MiB/s)\b", "<measure>", text)
    text = re.sub(r"(writer\|)[0-9a-f]+-\d+", r"\1<host>-<process>", text)
    return UUID_NAME.sub("<name>.dcm", text)


# Every file below folder: the program's unique names as one mark, everything else as it is.
def destination(folder):
    found = []
    for root, _, files in os.walk(folder):
        for name in files:
            path = os.path.join(root, name)
            relative = os.path.relpath(path, folder).replace(os.sep, "/")
            with open(path, "rb") as f:
                digest = hashlib.sha256(f.read()).hexdigest()
            found.append((UUID_NAME.sub("<name>.dcm", relative), digest))
    return sorted(found)


# The program's logs: every line of each text log, the report's rows, normalised.
def logs(program, paths):
    found = {}
    for root, _, files in os.walk(os.path.join(program, "Logs")):
        for name in files:
            path = os.path.join(root, name)
            key = normalise(os.path.relpath(path, program).replace(os.sep, "/"), paths)
            with open(path, encoding="utf-8", errors="replace", newline="") as f:
                text = f.read()
            if name.endswith(".csv"):
                rows = list(csv.reader(io.StringIO(text)))
                if name == "discs.csv":  # a disc folder's volume serial: Wine's drive Z: has one, Linux's none
                    rows = [row[:-1] for row in rows]
                text = "\n".join("|".join(row) for row in rows)
            found[key] = normalise(text, paths).split("\n")
    return found


def compare_cli(linux_cli, make_disc, charset_files, work):
    program_linux = os.path.join(work, "linux")
    os.makedirs(program_linux)
    shutil.copy(linux_cli, program_linux)
    program_windows = os.path.join(work, "program")
    for label in [CHARSETS, DEEP] + SYSTEMS:  # the last one's reports stay for the send
        pacs, name = {CHARSETS: "HIPAX", DEEP: "STARC"}.get(label, label), "deep folders" if label == DEEP else label
        disc = os.path.join(work, "discs", label.replace(" ", "_"))
        if label == CHARSETS:
            # Names in every character set pydicom has a file of: the studies list as Linux reads them.
            os.makedirs(disc)
            for number, name in enumerate(sorted(os.listdir(charset_files))):
                shutil.copy(os.path.join(charset_files, name), os.path.join(disc, f"IMG{number}"))
        else:
            subprocess.run([make_disc, pacs, disc, "20", "20000", "8"], check=True, capture_output=True)
            damaged_copy(disc)
        results = {}
        for system, program, cli in [("linux", program_linux, [os.path.join(program_linux, "zet-pelta-cli")]),
                                     ("windows", program_windows, ["wine", os.path.join(program_windows,
                                                                                        "zet-pelta-cli.exe")])]:
            dest, temp = (os.path.join(work, system, label, part) for part in ("dest", "temp"))
            os.makedirs(dest)
            os.makedirs(temp)
            args = ["--pacs", pacs, "--source", disc, "--dest", dest, "--temp", temp, "--debug", "-q"]
            if system == "windows":
                args = [windows_path(a) if a.startswith("/") else a for a in args]
            shutil.rmtree(os.path.join(program, "Logs"), ignore_errors=True)
            run = subprocess.run(cli + args, stdin=subprocess.DEVNULL, capture_output=True, timeout=600)
            paths = [(disc, "<disc>"), (dest, "<dest>"), (temp, "<temp>"), (program, "<program>")]
            if system == "windows":
                shown = "Bericht: " + windows_path(program) + "\\Logs\\Runs\\"
                check(shown in run.stdout.decode("utf-8", "replace"), f"{name}: the report's path as Windows shows it")
            results[system] = {
                "exit status": run.returncode,
                # A Windows console program ends its lines with CR LF; the logs end theirs alike anyway.
                "output": normalise(run.stdout.decode("utf-8", "replace").replace("\r\n", "\n"), paths),
                # Wine's own complaints (the drive Z: has no volume serial) are not the program's.
                "errors": normalise("".join(line for line in run.stderr.decode("utf-8", "replace")
                                            .replace("\r\n", "\n").splitlines(True)
                                            if not line.startswith("wine: ")), paths),
                "destination": destination(dest),
                "logs": logs(program, paths),
            }
        linux, windows = results["linux"], results["windows"]
        images = sum(1 for name, _ in linux["destination"] if name == "<name>.dcm")
        check(images >= (10 if label == CHARSETS else 20), f"{name}: the Linux build migrates the disc ({images} images)")
        check(label != DEEP or len(windows_path(os.path.join(work, "windows", label, "dest"))) > 300,
              f"{name}: a destination deeper than 260 characters")
        compared(name, linux, windows)


# Each part of a run's results the same on both systems; where not, what differs.
def compared(name, linux, windows):
    for what in linux:
        same = linux[what] == windows[what]
        if not check(same, f"{name}: the same {what} on Windows as on Linux") and what == "logs":
            for log in sorted(set(linux[what]) | set(windows[what])):
                for line in difflib.unified_diff(linux[what].get(log, []), windows[what].get(log, []),
                                                 f"linux {log}", f"windows {log}", lineterm="", n=0):
                    print("  " + line[:300])
        elif not same:
            print(f"  linux:   {linux[what]!r}\n  windows: {windows[what]!r}")


# The Windows CLI sends what its last run wrote, and the node's commitment reports reach it.
def send_to_orthanc(work):
    sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "integration"))
    from send_test import Orthanc, free_port
    dest = os.path.join(work, "windows", SYSTEMS[-1], "dest")
    images = sum(1 for name in os.listdir(dest) if name.endswith(".dcm"))
    listen = free_port()
    node = Orthanc(os.path.join(work, "orthanc"), listen)
    try:
        run = wine(os.path.join(work, "program", "zet-pelta-cli.exe"), "--send-only", windows_path(dest), "--send",
                   node.node(), "--listen", str(listen), stdin=subprocess.DEVNULL)
        out = run.stdout.decode("utf-8", "replace").replace("\r\n", "\n")
        check(run.returncode == 0 and out.endswith(f"{images} von {images} Bildern im PACS bestätigt.\n")
              and node.count() == images, f"the Windows CLI sends {images} images, each confirmed: {out[-200:]!r}")
    finally:
        node.stop()


# Wine's CD-ROM drive R:, its disc put in and taken out while Wine runs, through Wine's mount manager
# as when the system mounts a disc (wine_drive.c): label and serial come from files in the disc's root,
# which GEMED's "." rule leaves out.
def drive_r(disc=None):
    done = subprocess.run(["wine", os.path.join(os.environ["WINEPREFIX"], "drive_c", "wine_drive.exe"), "R",
                           *([disc] if disc else [])], stdin=subprocess.DEVNULL, capture_output=True)
    if disc and done.returncode != 0:  # an empty drive may have been emptied by the program's own eject
        sys.exit(f"FAILED: no disc in drive R:: {done.stderr!r}")


def make_drive_discs(make_disc, work):
    subprocess.run(["x86_64-w64-mingw32-gcc", "-o", os.path.join(os.environ["WINEPREFIX"], "drive_c", "wine_drive.exe"),
                    os.path.join(os.path.dirname(os.path.abspath(__file__)), "wine_drive.c")], check=True)
    for label, serial, seed in (("DISC_A", "1a2b3c4d", "3"), ("DISC_B", "5e6f7081", "4")):
        subprocess.run([make_disc, "GEMED", os.path.join(work, "drive", label), "6", "2000", "0", seed], check=True,
                       capture_output=True)
        for name, value in ((".windows-label", label), (".windows-serial", serial)):
            with open(os.path.join(work, "drive", label, name), "w") as f:
                f.write(value)


# Each disc migrated into dest as the Windows CLI's --discs lists it: label and volume serial.
def journal_names(program, dest):
    listed = wine(os.path.join(program, "zet-pelta-cli.exe"), "--discs", "--csv", windows_path(dest),
                  stdin=subprocess.DEVNULL)
    return [(r["label"], r["serial"]) for r in csv.DictReader(io.StringIO(listed.stdout.decode("utf-8", "replace")))]


# --watch on a drive letter, as a clinic's PC reads its discs: one session, DISC_A put in, migrated and
# taken out, then DISC_B, then DISC_A again, known again; Ctrl+C ends the wait.
def watch_drive_letter(program, work):
    dest = os.path.join(work, "drive", "dest")
    os.makedirs(dest)
    out_path = os.path.join(work, "drive", "watch.out")
    with open(out_path, "wb") as out:
        watch = subprocess.Popen(["wine", os.path.join(program, "zet-pelta-cli.exe"), "--watch", "-q", "--pacs",
                                  "GEMED", "--source", "R:\\", "--dest", windows_path(dest), "--temp",
                                  windows_path(os.path.join(work, "drive"))], stdin=subprocess.DEVNULL,
                                 stdout=out, stderr=out)
    done = 0
    for label in ("DISC_A", "DISC_B", "DISC_A"):
        drive_r(os.path.join(work, "drive", label))
        for _ in range(240):
            if open(out_path, encoding="utf-8", errors="replace").read().count("Warte auf die nächste CD / DVD") > done:
                break
            time.sleep(0.5)
        done += 1
        drive_r()
    watch.send_signal(signal.SIGINT)
    watch.wait(timeout=30)
    out = open(out_path, encoding="utf-8", errors="replace").read()
    check(out.count("CD / DVD unter R:/") == 3 and out.rstrip().endswith("Beendet.") and watch.returncode == 0,
          f"--watch migrates DISC_A, DISC_B and DISC_A in drive R: and Ctrl+C ends the wait ({watch.returncode}): "
          f"{out[-600:]!r}")
    # Known again, the first disc is migrated whole once more (--only-missing is not given), its images
    # flagged as migrated before; the second, of the same file names and sizes, is told apart by its serial.
    images = sum(1 for name in os.listdir(dest) if name.endswith(".dcm"))
    check(images == 18 and out.count("bereits migriert") == 1 and "bereits migriert (6 von 6 Dateien)" in out
          and "6 Bilder waren schon einmal" in out, f"the first disc known again, and only it: {images} images")
    names = journal_names(program, dest)
    check(names == [("DISC_A", "1A2B-3C4D"), ("DISC_B", "5E6F-7081"), ("DISC_A", "1A2B-3C4D")],
          f"the journal names each disc by its label and serial: {names}")


# The window as an operator works it, through the mouse and the keyboard on the virtual display.
def xdotool(*args):
    return subprocess.run(["xdotool", *args], capture_output=True, text=True).stdout.split()


# The visible window of that title, once it is there; None after the seconds given.
def shown(title, seconds=60):
    for _ in range(seconds * 2):
        found = xdotool("search", "--onlyvisible", "--name", f"^{re.escape(title)}$")
        if found:
            return found[0]
        time.sleep(0.5)
    return None


# A box answered with Enter, its default button (OK, or "Ja" to "only the missing files?").
def answer(box):
    xdotool("windowfocus", "--sync", box, "key", "Return")
    for _ in range(40):
        if box not in xdotool("search", "--onlyvisible", "--name", ".*"):
            return True
        time.sleep(0.5)
    return False


# The window's toolbar buttons, where the layout puts them in its client area.
MIGRIEREN, BEENDEN = (25, 25), (80, 25)


def click(window, place):
    xdotool("mousemove", "--window", window, str(place[0]), str(place[1]), "click", "1")


# One session of the window: its program folder's Settings.ini holds the fields; the window starts,
# before each box expected is done what brings it ("Migrieren" clicked where nothing is given), each
# box is answered, "Beenden" ends it. The boxes' titles in the order they came, None where one did not
# come, and the window's exit status, after its client size; screenshots of it and its first box.
def window_run(command, program, settings, boxes, before=None, screenshot=None):
    with open(os.path.join(program, "Settings.ini"), "w", encoding="utf-8", newline="") as f:
        f.write(settings.replace("\n", "\r\n"))
    app = subprocess.Popen(command, cwd=program, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    seen = []
    try:
        window = shown("Zet - Pelta")
        if window is None:
            return ["no window"]
        time.sleep(3)  # the first paint
        size = re.search(r"Geometry: (\d+)x(\d+)", " ".join(xdotool("getwindowgeometry", window)))
        seen.append("406 x 292" if size and size.groups() == ("406", "292") else f"size {size and size.groups()}")
        if screenshot:
            subprocess.run(["import", "-window", window, screenshot], check=True)
        for turn, title in enumerate(boxes):
            if before is None:
                click(window, MIGRIEREN)
            elif before.get(turn):
                before[turn]()
            box = shown(title, 300)
            seen.append(title if box else None)
            if box is None:
                break
            if screenshot and turn == 0:
                subprocess.run(["import", "-window", "root", screenshot.replace(".png", "-summary.png")], check=True)
            answer(box)
        click(window, BEENDEN)
        app.wait(timeout=60)
        seen.append(f"status {app.returncode}")
    finally:
        if app.poll() is None:
            app.kill()
            app.wait()
    return seen


SUMMARY = "Migration abgeschlossen"


# The Linux and the Windows window migrate one GEMED disc and send it to a node each, clicked
# through as an operator does: the same destination, logs and report, and every image confirmed.
def window_compared(program, linux_window, disc, work, screenshot):
    sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "integration"))
    from send_test import Orthanc, free_port
    program_linux = os.path.join(work, "linux-window")
    os.makedirs(program_linux)
    shutil.copy(linux_window, program_linux)
    results = {}
    for system, folder, command in [("linux", program_linux, [os.path.join(program_linux, "zet-pelta")]),
                                    ("windows", program, ["wine", os.path.join(program, "zet-pelta.exe")])]:
        dest, temp = (os.path.join(work, "window", system, part) for part in ("dest", "temp"))
        os.makedirs(dest)
        os.makedirs(temp)
        listen = free_port()
        node = Orthanc(os.path.join(work, "window", system, "orthanc"), listen)
        spelt = windows_path if system == "windows" else (lambda path: path)
        shutil.rmtree(os.path.join(folder, "Logs"), ignore_errors=True)
        try:
            seen = window_run(command, folder, f"[Temp]\nTempPath={spelt(temp)}\n[Path]\nSourcePath={spelt(disc)}\n"
                              f"DestinationPath={spelt(dest)}\n[PACS]\nPACS=GEMED\n[Senden]\nKnoten={node.node()}\n"
                              f"Empfangsport={listen}\n", [SUMMARY],
                              screenshot=screenshot if system == "windows" else None)
            images = sum(1 for name in os.listdir(dest) if name.endswith(".dcm"))
            check(seen == ["406 x 292", SUMMARY, "status 0"] and images == 6 and node.count() == 6,
                  f"{system}: the window migrates the disc through its buttons, sends it and ends: {seen}, "
                  f"{images} images, {node.count()} at the node")
        finally:
            node.stop()
        paths = [(disc, "<disc>"), (dest, "<dest>"), (temp, "<temp>"), (folder, "<program>"),
                 (node.node(), "<node>"), (str(listen), "<listen>")]
        results[system] = {"destination": destination(dest), "logs": logs(folder, paths)}
    with open(os.path.join(program, "Logs", "Runs", "discs.csv"), encoding="utf-8-sig", newline="") as f:
        sent = [(r["pacs_images"], r["pacs_confirmed"]) for r in csv.DictReader(f)]
    check(sent == [("6", "6")], f"the Windows window's journal counts every image as confirmed by the node: {sent}")
    compared("the window", results["linux"], results["windows"])


# AutoStart and Auswerfen on a drive letter, in one session of the window: a disc put into drive R:
# is migrated at once, another one after it too, and the first one put in again is known again:
# "Ja" to "only the missing files?" writes nothing new. The journal names each disc by label and serial;
# the temp folder and the destination, deeper than 260 characters in names beyond any code page, are
# used and saved back as they were.
def window_autostart(program, work):
    dest, temp = (os.path.join(work, "autostart", DEEP, part) for part in ("Zielordner", "temp"))
    os.makedirs(dest)
    os.makedirs(temp)
    fields = f"[Temp]\nTempPath={windows_path(temp)}\n[Path]\nSourcePath=R:\\\nDestinationPath={windows_path(dest)}\n"
    discs = ["DISC_B", "DISC_A", "DISC_B"]

    def swap(turn):
        drive_r()
        time.sleep(5)  # two looks of the window at an empty drive
        drive_r(os.path.join(work, "drive", discs[turn]))

    drive_r(os.path.join(work, "drive", discs[0]))
    try:
        seen = window_run(["wine", os.path.join(program, "zet-pelta.exe")], program,
                          fields + "[PACS]\nPACS=GEMED\n[Ablauf]\nAutoStart=1\nAuswerfen=1\n",
                          [SUMMARY, SUMMARY, "Zet-Pelta", SUMMARY],
                          before={1: lambda: swap(1), 2: lambda: swap(2)})
    finally:
        drive_r()
    images = sum(1 for name in os.listdir(dest) if name.endswith(".dcm"))
    check(seen == ["406 x 292", SUMMARY, SUMMARY, "Zet-Pelta", SUMMARY, "status 0"] and images == 12,
          f"AutoStart migrates each disc put into R: and asks for the one it knows: {seen}, {images} images")
    names = journal_names(program, dest)
    check(names == [("DISC_B", "5E6F-7081"), ("DISC_A", "1A2B-3C4D"), ("DISC_B", "5E6F-7081")],
          f"AutoStart's journal names each disc by label and serial: {names}")
    with open(os.path.join(program, "Settings.ini"), encoding="utf-8", errors="replace", newline="") as f:
        text = f.read()
    check(text.startswith(fields.replace("\n", "\r\n")) and "[Ablauf]\r\nAutoStart=1" in text,
          f"closing the window wrote Settings.ini, its deep folders and the rest as they were: {text!r}")


# Wine has no firewall: this stands in netsh's place and keeps the commands it is given.
NETSH = (b'#include <stdio.h>\n#include <stdlib.h>\n#include <windows.h>\nint main(void) { FILE* log = fopen('
         b'getenv("ZP_NETSH_LOG"), "a"); fprintf(log, "%s\\n", GetCommandLineA()); return fclose(log); }\n')


def installed(folder):
    return {os.path.relpath(os.path.join(d, f), folder).replace(os.sep, "/") for d, _, fs in os.walk(folder) for f in fs}


# The installer, run silently as a clinic's administrator would script it, in both modes: for this
# user alone (no administrator rights needed; Settings.ini and Logs beside the programs, kept by an
# update and by the uninstaller unless /DeleteLogs), and for all users (Program Files, the firewall
# rules for the commitment listener, removed again by the uninstaller).
def check_installer(setup, previous_setup, work, make_disc):
    drive = os.path.join(os.environ["WINEPREFIX"], "drive_c")
    netsh_log = os.path.join(work, "netsh.log")
    subprocess.run(["x86_64-w64-mingw32-gcc", "-x", "c", "-o", os.path.join(drive, "windows/system32/netsh.exe"), "-"],
                   input=NETSH, check=True)
    env = dict(os.environ, ZP_NETSH_LOG=windows_path(netsh_log),
               WINEDLLOVERRIDES=os.environ.get("WINEDLLOVERRIDES", "") + ";netsh.exe=n")
    user = next(n for n in os.listdir(os.path.join(drive, "users")) if n not in ("Public", "public"))
    disc = os.path.join(work, "installed-disc")
    subprocess.run([make_disc, "HIPAX", disc, "3", "2000", "0"], check=True, capture_output=True)
    os.makedirs(os.path.join(work, "installed-dest"))

    def run(program, *options):
        done = subprocess.run(["wine", program, "/S", *options], stdin=subprocess.DEVNULL, capture_output=True,
                              timeout=300, env=env)
        for _ in range(120):  # the uninstaller copies itself away and goes on from there
            if "Uninstall" not in program or not os.path.exists(program):
                break
            time.sleep(0.5)
        time.sleep(1 if "Uninstall" in program else 0)
        check(done.returncode == 0, f"{os.path.basename(program)} /S {' '.join(options)} ends with status 0")

    def firewall():
        commands = open(netsh_log).read().splitlines() if os.path.exists(netsh_log) else []
        open(netsh_log, "w").close()
        return [re.sub(r'^"?[^"]*netsh\.exe"? ', "", c).replace(shown, "<folder>") for c in commands]

    rule = 'advfirewall firewall add rule name="Zet-Pelta" dir=in action=allow enable=yes profile=any program='
    delete = 'advfirewall firewall delete rule name="Zet-Pelta"'

    # An update over the previous version, which CPack's standard script installed for all users: the
    # programs replaced in its folder, Settings.ini and the logs as they were, one uninstall entry and
    # one Start menu link left, and the uninstaller removes the previous version's leftovers too.
    folder, shown = os.path.join(drive, "Program Files/Zet-Pelta"), "C:\\Program Files\\Zet-Pelta"
    version = re.search(r"zet-pelta-(.+)-setup\.exe$", setup).group(1)
    menu = os.path.join(drive, "ProgramData/Microsoft/Windows/Start Menu/Programs/Zet-Pelta")

    # What an earlier test left in the cache's Wine prefix (the previous installer would ask about it).
    for key in (r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Zet-Pelta", r"HKLM\Software\Zet-Pelta"):
        wine("reg", "delete", key, "/f", stdin=subprocess.DEVNULL)
    for leftover in (folder, menu):
        shutil.rmtree(leftover, ignore_errors=True)
    run(previous_setup)
    os.makedirs(os.path.join(folder, "Logs", "Runs"))
    for name, text in (("Settings.ini", "[PACS]\r\nPACS=STARC\r\n"), ("Logs/Runs/discs.csv", "started\r\n")):
        with open(os.path.join(folder, name), "w", newline="") as f:
            f.write(text)
    check(os.path.exists(os.path.join(menu, "Uninstall.lnk")), "the previous version is installed")
    with open(os.path.join(folder, "zet-pelta.exe"), "ab") as older:  # its program told from this one's
        older.write(b"previous version")
    run(setup)
    with open(os.path.join(folder, "zet-pelta.exe"), "rb") as there:
        program = there.read()
    check(len(program) == os.path.getsize(os.path.join(work, "program", "zet-pelta.exe"))
          and not program.endswith(b"previous version"), "the update replaces the previous version's programs")
    check(open(os.path.join(folder, "Settings.ini"), newline="").read() == "[PACS]\r\nPACS=STARC\r\n"
          and os.path.exists(os.path.join(folder, "Logs/Runs/discs.csv")), "the update keeps Settings.ini and the logs")
    entry = wine("reg", "query", r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Zet-Pelta", "/s",
                 stdin=subprocess.DEVNULL).stdout.decode("utf-8", "replace")
    check(os.listdir(menu) == ["Zet-Pelta.lnk"] and "Components" not in entry and "StartMenu" not in entry
          and re.search(r"DisplayVersion\s+REG_SZ\s+" + re.escape(version), entry) is not None,
          f"one uninstall entry and one Start menu link, the new version's: {os.listdir(menu)} {entry!r}")
    run(os.path.join(folder, "Uninstall.exe"), "/AllUsers")
    left = wine("reg", "query", r"HKLM\Software\Zet-Pelta", stdin=subprocess.DEVNULL)
    check(not os.path.exists(os.path.join(folder, "zet-pelta.exe")) and not os.path.isdir(menu) and left.returncode != 0,
          "the uninstaller removes the updated installation and what the previous version left")
    shutil.rmtree(folder)
    firewall()
    for mode, folder, shown, menu, rules in [
            ("/CurrentUser", f"users/{user}/AppData/Local/Programs/Zet-Pelta",
             f"C:\\users\\{user}\\AppData\\Local\\Programs\\Zet-Pelta",
             f"users/{user}/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/Zet-Pelta", []),
            ("/AllUsers", "Program Files/Zet-Pelta", "C:\\Program Files\\Zet-Pelta",
             "ProgramData/Microsoft/Windows/Start Menu/Programs/Zet-Pelta",
             [delete, rule + '"<folder>\\zet-pelta.exe"', rule + '"<folder>\\zet-pelta-cli.exe"'])]:
        folder, menu = os.path.join(drive, folder), os.path.join(drive, menu)
        run(setup, mode)
        check(EXPECTED_FILES <= installed(folder) and os.path.exists(os.path.join(menu, "Zet-Pelta.lnk")),
              f"{mode}: the programs in {folder} and a Start menu entry: {sorted(installed(folder))}")
        check(firewall() == rules, f"{mode}: the firewall lets DICOM nodes reach both programs, or is left alone")
        migrated = wine(os.path.join(folder, "zet-pelta-cli.exe"), "-q", "--pacs", "HIPAX", "--source",
                        windows_path(disc), "--dest", windows_path(os.path.join(work, "installed-dest")), "--temp",
                        windows_path(work), stdin=subprocess.DEVNULL)
        check(migrated.returncode == 0, f"{mode}: the installed CLI migrates a disc ({migrated.returncode})")
        if mode == "/CurrentUser":  # its settings and logs beside the programs
            with open(os.path.join(folder, "Settings.ini"), "w", newline="") as f:
                f.write("[PACS]\r\nPACS=GEMED\r\n")
            kept = {n: open(os.path.join(folder, n), "rb").read() for n in installed(folder)
                    if n == "Settings.ini" or n.startswith("Logs/")}
            run(setup)  # an update: the mode and folder of the installation it updates
            check(any(n.startswith("Logs/Runs/") for n in kept) and all(
                open(os.path.join(folder, n), "rb").read() == kept[n] for n in kept),
                "an update keeps Settings.ini and the logs as they were")
            run(os.path.join(folder, "Uninstall.exe"))
            check(installed(folder) == set(kept) and not os.path.exists(menu),
                  f"the uninstaller keeps Settings.ini and the logs alone: {sorted(installed(folder))}")
            run(setup, mode)
            run(os.path.join(folder, "Uninstall.exe"), "/DeleteLogs")
            check(not os.path.exists(folder), "asked to, the uninstaller removes the logs too")
        else:
            run(os.path.join(folder, "Uninstall.exe"))
            check(not os.path.exists(os.path.join(folder, "zet-pelta.exe")) and not os.path.isdir(menu)
                  and firewall() == [delete],
                  "the uninstaller removes the programs, the Start menu entry and the firewall rules")


# A virtual X display of the test's own for every Wine program (Wine's desktop process keeps the
# display it was started with); DISPLAY names it.
def start_display():
    display = next(n for n in range(90, 200) if not os.path.exists(f"/tmp/.X11-unix/X{n}"))
    xvfb = subprocess.Popen(["Xvfb", f":{display}", "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    for _ in range(100):
        if os.path.exists(f"/tmp/.X11-unix/X{display}"):
            break
        time.sleep(0.1)
    os.environ["DISPLAY"] = f":{display}"
    return xvfb


def main():
    parser = argparse.ArgumentParser()
    for option in ("--zip", "--setup", "--previous-setup", "--linux-cli", "--linux-window", "--make-disc",
                   "--charset-files", "--screenshot"):
        parser.add_argument(option, required=True)
    args = parser.parse_args()
    xvfb = start_display()
    # One Wine server for every program started here, not one starting and stopping with each, and
    # Wine's own services started first: a service started by a program whose output is read here
    # would keep that output open after the program's end.
    subprocess.run(["wineserver", "-k"], capture_output=True)
    subprocess.run(["wineserver", "-p"], check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    subprocess.run(["wine", "cmd", "/c", "exit"], check=True, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)
    with tempfile.TemporaryDirectory(prefix="zet-pelta-windows-") as work:
        program = os.path.join(work, "program")
        check_zip(args.zip, program)
        compare_cli(args.linux_cli, args.make_disc, args.charset_files, work)
        send_to_orthanc(work)
        make_drive_discs(args.make_disc, work)
        watch_drive_letter(program, work)
        window_compared(program, args.linux_window, os.path.join(work, "drive", "DISC_A"), work, args.screenshot)
        window_autostart(program, work)
        check_installer(args.setup, args.previous_setup, work, args.make_disc)
    subprocess.run(["wineserver", "-k"], capture_output=True)
    xvfb.send_signal(signal.SIGTERM)
    xvfb.wait(timeout=30)
    print(f"{len(failures)} failed" if failures else "all passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
