#!/usr/bin/python3
# The programs as a user installs them: the Debian package of this build (cpack) unpacked into a temp
# root (dpkg -x). Its files are where Debian wants them and it depends on the libraries the programs
# link; the CLI from there migrates a sample disc with Settings.ini and Logs/ under a temp XDG home,
# never beside itself; the window starts offscreen from there, is asked to end as a logout asks it
# (SIGTERM), and closes, writing its settings to the same place.
# Usage: installed_test.py BUILD_FOLDER MAKE_DISC VERSION
import glob, os, signal, subprocess, sys, tempfile, time

build, make_disc, version = sys.argv[1], sys.argv[2], sys.argv[3]
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAILED: " + what)


def run(command, **kwargs):
    result = subprocess.run(command, capture_output=True, text=True, **kwargs)
    if result.returncode != 0:
        sys.exit("FAILED: %s ended with %d:\n%s%s" % (command, result.returncode, result.stdout, result.stderr))
    return result.stdout


with tempfile.TemporaryDirectory() as work:
    run(["cpack", "-G", "DEB", "--config", os.path.join(build, "CPackConfig.cmake"), "-B", work + "/package"],
        cwd=build)
    packages = glob.glob(work + "/package/zet-pelta_*.deb")
    check(len(packages) == 1, "one package built: %s" % packages)
    package, root = packages[0], work + "/root"
    run(["dpkg", "-x", package, root])

    # Where Debian wants each file, and dependencies from the linked libraries.
    for path in ["usr/bin/zet-pelta", "usr/bin/zet-pelta-cli", "usr/share/applications/zet-pelta.desktop",
                 "usr/share/man/man1/zet-pelta.1.gz", "usr/share/man/man1/zet-pelta-cli.1.gz",
                 "usr/share/doc/zet-pelta/copyright", "usr/share/doc/zet-pelta/changelog.gz"] + \
            ["usr/share/icons/hicolor/%dx%d/apps/zet-pelta.png" % (n, n) for n in (16, 22, 24, 32, 48, 64, 128, 256)]:
        check(os.path.isfile(os.path.join(root, path)), path + " is in the package")
    depends = run(["dpkg-deb", "-f", package, "Depends"])
    for library in ["libqt6widgets6", "zlib1g", "libdeflate", "libblkid1", "libssl"]:
        check(library in depends, "the package depends on " + library + ": " + depends.strip())

    home = work + "/home"
    env = dict(os.environ, HOME=home, XDG_CONFIG_HOME=home + "/config", XDG_STATE_HOME=home + "/state",
               QT_QPA_PLATFORM="offscreen", LC_ALL="C.UTF-8")
    settings, logs = home + "/config/zet-pelta", home + "/state/zet-pelta"
    programs = root + "/usr/bin"

    # Both programs say what they are and where their files go, without opening anything.
    for program in ["zet-pelta", "zet-pelta-cli"]:
        check(run([programs + "/" + program, "--version"], env=env).strip() == program + " " + version,
              program + " --version")
        usage = run([programs + "/" + program, "--help"], env=env)
        check(settings + "/Settings.ini" in usage and logs in usage, program + " --help names the places:\n" + usage)
    check(not os.path.exists(home), "asking for help or the version writes nothing, not even the home folder")

    # The CLI migrates a disc with its settings and logs in the user's folders.
    disc, dest, temp = work + "/disc", work + "/dest", work + "/temp"
    run([make_disc, "HIPAX", disc, "12"])
    os.makedirs(dest)
    os.makedirs(temp)
    out = run([programs + "/zet-pelta-cli", "--quiet", "--pacs", "HIPAX", "--source", disc, "--dest", dest,
               "--temp", temp], env=env)
    check(out.startswith("12 von 12 Dateien konnten erfolgreich migriert werden."), "the CLI migrates:\n" + out)
    check(len(glob.glob(dest + "/*.dcm")) == 12, "12 images in the destination")
    check(len(glob.glob(logs + "/Logs/Runs/*-summary.csv")) == 1, "the run report in " + logs)

    # The window opens from there, is asked to end and closes, saving its settings.
    with open(settings + "/Settings.ini", "w") as ini:
        ini.write("[Path]\nSourcePath=%s\n" % disc)
    window = subprocess.Popen([programs + "/zet-pelta"], env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    time.sleep(3)
    check(window.poll() is None, "the window is open")
    window.send_signal(signal.SIGTERM)
    try:
        output = window.communicate(timeout=30)[0].decode(errors="replace")
    except subprocess.TimeoutExpired:
        window.kill()
        output = window.communicate()[0].decode(errors="replace")
    check(window.returncode == 0, "the window closes when asked, status %s:\n%s" % (window.returncode, output))
    saved = open(settings + "/Settings.ini").read()
    check("SourcePath=" + disc in saved and "[PACS]" in saved and "[Temp]" in saved,
          "the window saved its settings:\n" + saved)

    check(sorted(os.listdir(programs)) == ["zet-pelta", "zet-pelta-cli"], "nothing written beside the programs: "
          + str(os.listdir(programs)))

sys.exit(1 if failures else 0)
