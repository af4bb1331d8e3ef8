#!/usr/bin/python3
# Sending to a real PACS, and the proof that an image arrived.
#
# Debian's Orthanc (storage commitment for our AE, or only C-FIND, or not knowing us at all; a Lua filter
# that drops one image while its store is answered "Success"; killed and restarted twice in the middle of a
# send; a called AE title it refuses), DCMTK's storescp that acknowledges and keeps nothing, and a port
# where nothing listens. Every node is started here, on loopback ports found free, waited for by asking
# it, and stopped by its PID. What the CLI reports is checked against what Orthanc holds, its job list and
# its log: nothing counts as arrived that is not there, and the PACS finds no fault in what we answer.
# Usage: send_test.py ZET_PELTA_CLI ZET_PELTA_MAKE_DISC
import csv, glob, json, os, re, shutil, signal, socket, subprocess, sys, tempfile, time, urllib.request

import pydicom

ORTHANC = "/usr/sbin/Orthanc"
STORESCP = "/usr/bin/storescp"
ECHOSCU = "/usr/bin/echoscu"
failures = []


def check(condition, what, detail=""):
    print(("ok      " if condition else "FAILED  ") + what + ("" if condition else "\n" + str(detail)[-3000:]))
    if not condition:
        failures.append(what)


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def wait_for_echo(port, process):
    # A node is up when it answers C-ECHO, however long its start takes, and still runs then (an answer
    # from another node on a port it could not open is not its own); False when it ended at its start.
    for _ in range(300):
        if process.poll() is not None:
            return False
        if subprocess.run([ECHOSCU, "127.0.0.1", str(port)], stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL).returncode == 0:
            time.sleep(0.2)
            return process.poll() is None
        time.sleep(0.1)
    sys.exit("FAILED: the node did not answer C-ECHO within 30 s")


class Orthanc:
    def __init__(self, folder, listen, commitment=True, drop=None, check_called=False, knows_us=True):
        for tool in (ORTHANC, STORESCP, ECHOSCU):
            if not os.access(tool, os.X_OK):
                sys.exit("FAILED: " + tool + " is missing: scripts/install-deps.sh installs it")
        self.folder = folder
        os.makedirs(folder, exist_ok=True)
        modalities = {"zp": {"AET": "ZETPELTA", "Host": "127.0.0.1", "Port": listen,
                             "AllowStorageCommitment": commitment}} if knows_us else {}
        # Its name tells this Orthanc from any other server that answers on its port.
        self.name = "zp-test-%d-%s" % (os.getpid(), os.path.basename(folder))
        self.config = {"Name": self.name, "StorageDirectory": folder + "/db", "IndexDirectory": folder + "/db",
                       "DicomAet": "ORTHANC", "DicomServerEnabled": True, "DicomCheckCalledAet": check_called,
                       "RemoteAccessAllowed": False, "AuthenticationEnabled": False, "Plugins": [],
                       "DicomModalities": modalities}
        if drop:
            with open(folder + "/drop.lua", "w") as f:
                f.write("function ReceivedInstanceFilter(dicom, origin, info)\n"
                        "  return dicom.SOPInstanceUID ~= '%s'\nend\n" % drop)
            self.config["LuaScripts"] = [folder + "/drop.lua"]
        # A port found free may be taken before Orthanc opens it: then it ends at its start, and two
        # other ports are tried.
        for _ in range(5):
            self.port, self.http = free_port(), free_port()
            self.config.update({"HttpPort": self.http, "DicomPort": self.port})
            with open(folder + "/orthanc.json", "w") as f:
                json.dump(self.config, f)
            if self.start(first=True):
                return
        sys.exit("FAILED: Orthanc ended at every start:\n" + open(self.folder + "/orthanc.log").read()[-2000:])

    def start(self, first=False):
        # A restart takes the ports the send goes to; only a first start may give up its ports (False).
        self.process = subprocess.Popen([ORTHANC, self.folder + "/orthanc.json"],
                                        stdout=open(self.folder + "/orthanc.log", "a"), stderr=subprocess.STDOUT)
        for _ in range(300):
            if self.process.poll() is not None:
                if first:
                    return False
                sys.exit("FAILED: Orthanc ended at its start:\n" + open(self.folder + "/orthanc.log").read()[-2000:])
            try:
                if self.rest("/system")["Name"] == self.name:
                    return True
                sys.exit("FAILED: another server answers on port %d" % self.http)
            except OSError:
                pass
            time.sleep(0.1)
        sys.exit("FAILED: Orthanc did not answer within 30 s")

    def rest(self, path, data=None):
        with urllib.request.urlopen("http://127.0.0.1:%d%s" % (self.http, path), timeout=60, data=data) as answer:
            return json.loads(answer.read())

    def count(self):
        try:
            return self.rest("/statistics")["CountInstances"]
        except OSError:
            return None

    def uids(self):
        found = self.rest("/tools/find", json.dumps({"Level": "Instance", "Query": {}, "Expand": True}).encode())
        return [i["MainDicomTags"]["SOPInstanceUID"] for i in found]

    def jobs(self):
        # Its job list once every job has ended: a commitment job ends just after its report was answered.
        for _ in range(100):
            jobs = self.rest("/jobs?expand")
            if all(job["State"] not in ("Pending", "Running") for job in jobs):
                return jobs
            time.sleep(0.1)
        return jobs

    def errors(self):
        with open(self.folder + "/orthanc.log", errors="replace") as f:
            return [line for line in f if line.startswith("E")]

    def stop(self, how=signal.SIGTERM):
        self.process.send_signal(how)
        self.process.wait(60)

    def node(self, aet="ORTHANC"):
        return "%s@127.0.0.1:%d" % (aet, self.port)


class Cli:
    def __init__(self, root, cli, name="prog"):
        # A program folder of its own: its Logs/ and reports are this copy's.
        os.makedirs(root + "/" + name)
        self.folder = root + "/" + name
        self.program = self.folder + "/zet-pelta-cli"
        shutil.copy(cli, self.program)
        self.runs = self.folder + "/Logs/Runs"

    def run(self, *args):
        done = subprocess.run([self.program, "--debug", *args], capture_output=True, text=True, timeout=900,
                              env=dict(os.environ, LC_ALL="C.UTF-8"))
        return done.returncode, done.stdout, done.stderr

    def records(self, node, pattern="*-pacs.csv"):
        # The latest record of each file at the node.
        latest = {}
        for path in sorted(glob.glob(self.runs + "/" + pattern)):
            with open(path, encoding="utf-8-sig", newline="") as f:
                for row in csv.DictReader(f):
                    if row["node"] == node:
                        latest[row["written_file"]] = row
        return latest

    def stores(self):
        # C-STORE requests of the last send, from the debug log.
        with open(self.runs + "/../DebugPelta.log", encoding="utf-8", errors="replace") as f:
            counts = re.findall(r"(\d+) C-STORE requests for", f.read())
        return int(counts[-1]) if counts else None

    def journal(self):
        with open(self.runs + "/discs.csv", encoding="utf-8-sig", newline="") as f:
            return list(csv.DictReader(f))


def verdicts(records):
    counts = {}
    for row in records.values():
        counts[row["verdict"]] = counts.get(row["verdict"], 0) + 1
    return counts


def migrate(cli, make_disc, root, name, images, seed=1):
    os.makedirs(root + "/" + name, exist_ok=True)
    disc = root + "/disc-%s-%d" % (name, seed)
    subprocess.run([make_disc, "HIPAX", disc, str(images), "16384", "8", str(seed)], check=True,
                   stdout=subprocess.DEVNULL)
    # A DICOM file no PACS files (no study, no series): HIPAX migrates it like every file, and no send
    # counts it among the images.
    meta = pydicom.dataset.FileMetaDataset()
    meta.MediaStorageSOPClassUID = "1.2.840.10008.5.1.4.1.1.7"
    meta.MediaStorageSOPInstanceUID = "1.2.826.0.1.3680043.9.7.%d" % seed
    meta.TransferSyntaxUID = pydicom.uid.ExplicitVRLittleEndian
    lone = pydicom.dataset.FileDataset(disc + "/LONE.DCM", pydicom.Dataset(), file_meta=meta, preamble=b"\0" * 128)
    lone.SOPClassUID, lone.SOPInstanceUID = meta.MediaStorageSOPClassUID, meta.MediaStorageSOPInstanceUID
    lone.is_little_endian, lone.is_implicit_VR = True, False
    lone.save_as(disc + "/LONE.DCM", write_like_original=False)
    code, out, err = cli.run("-q", "--pacs", "HIPAX", "--source", disc, "--dest", root + "/" + name, "--temp", root)
    if code != 0:
        sys.exit("FAILED: the migration before the send:\n" + out + err)
    return root + "/" + name, disc


def check_node_content(node, what):
    failed = [job for job in node.jobs() if job["State"] == "Failure"]
    commitments = [job for job in node.jobs() if job["Type"] == "StorageCommitmentScp"]
    check(not failed and commitments and not node.errors(),
          what + ": Orthanc's own job list holds %d commitment jobs and no failed job, its log no error"
          % len(commitments), json.dumps(failed)[:1500] + "".join(node.errors())[-1500:])


def main(cli_path, make_disc):
    root = tempfile.mkdtemp(prefix="zet-pelta-send-")
    nodes = []
    try:
        cli = Cli(root, cli_path)
        dest, disc = migrate(cli, make_disc, root, "dest", 60)
        dropped = str(pydicom.dcmread(disc + "/PAT0000/ST00/IM000006.DCM").SOPInstanceUID)
        listen = free_port()
        listen_args = ("--listen", str(listen))

        # A node that answers "Success" to every store but keeps one image less: commitment tells.
        orthanc = Orthanc(root + "/orthanc", listen, drop=dropped)
        nodes.append(orthanc)
        code, out, err = cli.run("--send-only", dest, "--send", orthanc.node(), *listen_args)
        records = cli.records(orthanc.node())
        lost = [r for r in records.values() if r["sop_instance_uid"] == dropped]
        check(code == 3 and out.endswith("59 von 60 Bildern im PACS bestätigt.\n"),
              "commitment: the image the node dropped after a successful store is the one not confirmed (exit 3)",
              (code, out + err))
        check(len(lost) == 1 and lost[0]["verdict"] == "not committed" and lost[0]["store_status"] == "0x0000"
              and "0x0112 Objekt unbekannt" in lost[0]["error"]
              and verdicts(records) == {"committed": 59, "not committed": 1},
              "commitment: its store said 0x0000, its verdict is 'not committed' with the reason in words", records)
        check(sorted(orthanc.uids()) == sorted(r["sop_instance_uid"] for r in records.values()
                                               if r["verdict"] == "committed"),
              "commitment: exactly the images reported committed are in Orthanc")
        check(all(r["transfer_syntax_sent"] == "1.2.840.10008.1.2.1" and r["store_comment"]
                  and r["destination"] == dest and r["disc"] for r in records.values()),
              "commitment: every record names the syntax sent, the store's answer, the folder and the disc", records)
        check_node_content(orthanc, "commitment")
        row = [j for j in cli.journal() if j["destination"] == dest][-1]
        code, table, _ = cli.run("--discs", dest)
        check((row["pacs_node"], row["pacs_images"], row["pacs_confirmed"]) == (orthanc.node(), "60", "59")
              and " 59/60" in table, "commitment: the journal and --discs tell 59 of 60", str(row) + table)

        # Again: only the image not confirmed is sent; without our records, nothing already there is sent.
        code, out, err = cli.run("--send-only", dest, "--send", orthanc.node(), *listen_args)
        check(code == 3 and cli.stores() == 1 and out.endswith("59 von 60 Bildern im PACS bestätigt.\n"),
              "resume: only the one image not confirmed is sent again, and the folder is counted whole",
              (code, cli.stores(), out))
        for path in glob.glob(cli.runs + "/*-pacs.csv"):
            os.remove(path)
        code, out, err = cli.run("--send-only", dest, "--send", orthanc.node(), *listen_args)
        records = cli.records(orthanc.node())
        check(cli.stores() == 1 and sum(1 for r in records.values() if r["store_comment"].startswith("schon im PACS"))
              == 59 and orthanc.count() == 59, "an image already in the node is not sent again, even without our records",
              (cli.stores(), out + err))

        # Another copy of the program (its own program folder, its own reports) migrates a disc into the same
        # folder: the folder is what the operator imports, so those images are sent and counted too.
        other = Cli(root, cli_path, "other-copy")
        migrate(other, make_disc, root, "dest", 5, seed=2)
        code, out, err = cli.run("--send-only", dest, "--send", orthanc.node(), *listen_args)
        unreported = cli.records(orthanc.node(), "unreported-pacs.csv")
        check(code == 3 and "64 von 65 Bildern im PACS bestätigt.\n" in out
              and "5 Bilder im Zielordner stehen in keinem Laufbericht dieses Programms" in out and cli.stores() == 6,
              "another copy's images: sent, counted in M, named as from no report of this program",
              (code, cli.stores(), out + err))
        check(verdicts(unreported) == {"committed": 5} and all(r["disc"] == "" and r["destination"] == dest
                                                               for r in unreported.values()),
              "another copy's images: recorded with an empty disc", unreported)
        code, out, err = cli.run("--send-only", dest, "--send", orthanc.node(), *listen_args)
        check(cli.stores() == 1 and orthanc.count() == 64, "another copy's images: not sent again once confirmed",
              (cli.stores(), orthanc.count()))
        code, out, err = cli.run("--verify", dest, "--send", orthanc.node(), *listen_args)
        check(code == 1 and "64 von 65 Bildern im PACS bestätigt.\n" in out and cli.stores() == 0,
              "--verify with --send asks the node about every image of the folder and sends nothing",
              (code, out + err))
        check_node_content(orthanc, "after sends into a folder of two program copies")

        # Our listener's port taken by another program: its reports cannot come, so C-FIND asks at once.
        with socket.socket() as taken:
            taken.bind(("0.0.0.0", 0))
            taken.listen()
            started = time.monotonic()
            code, out, err = cli.run("--verify", dest, "--send", orthanc.node(), "--listen", str(taken.getsockname()[1]))
            seconds = time.monotonic() - started
        check(code == 1 and "nicht frei" in err and "C-FIND" in err and seconds < 30
              and verdicts(cli.records(orthanc.node())) == {"found": 64, "not found": 1},
              "a taken listener port: told why, confirmed by C-FIND without waiting (%.1f s)" % seconds, out + err)

        # The node's web port given for its DICOM port: told at once, no waiting.
        started = time.monotonic()
        code, out, err = cli.run("--send-only", dest, "--send", "ORTHANC@127.0.0.1:%d" % orthanc.http, *listen_args)
        check(code == 4 and "kein DICOM-Dienst auf 127.0.0.1:%d (HTTP-Port?)" % orthanc.http in err
              and time.monotonic() - started < 8, "the HTTP port as the DICOM port: exit 4, told so at once", out + err)
        orthanc.stop()

        # A node without commitment for us: C-FIND at image level finds what it holds.
        finder = Orthanc(root + "/finder", listen, commitment=False, drop=dropped)
        nodes.append(finder)
        code, out, err = cli.run("--send-only", dest, "--send", finder.node(), *listen_args)
        check(code == 3 and verdicts(cli.records(finder.node())) == {"found": 64, "not found": 1},
              "C-FIND: without commitment, 64 found and the dropped image not found", out + err)
        finder.stop()

        # A node that knows us under another port: its reports never come; after the wait, C-FIND tells.
        astray = Orthanc(root + "/astray", free_port())
        nodes.append(astray)
        code, out, err = cli.run("--send-only", dest, "--send", astray.node(), *listen_args)
        check(code == 0 and verdicts(cli.records(astray.node())) == {"found": 65}
              and "keine Speicherbestätigung vom PACS erhalten" in err and "Port %d" % listen in err,
              "commitment reports that never come: the operator is told where they must go, C-FIND confirms",
              out + err)
        astray.stop()

        # A node that does not know us: it takes the images but no question. One line says what to enter.
        stranger = Orthanc(root + "/stranger", listen, knows_us=False)
        nodes.append(stranger)
        code, out, err = cli.run("--send-only", dest, "--send", stranger.node(), *listen_args)
        lines = [line for line in err.splitlines() if "kennt diesen Rechner nicht" in line]
        check(code == 3 and len(lines) == 2 and "AE-Titel ZETPELTA, Adresse 127.0.0.1, Port %d" % listen in lines[0]
              and lines[1].startswith("65 Bilder:") and len(err.splitlines()) <= 3 and cli.stores() == 65
              and stranger.count() == 65,
              "a node that does not know us: one line with what to enter there, one for the images, sent once",
              (code, cli.stores(), err))
        stranger.stop()

        # A node that acknowledges every store and keeps nothing.
        for _ in range(5):  # storescp ends at once when its port was taken after all: another is tried
            scp_port = free_port()
            scp = subprocess.Popen([STORESCP, "--ignore", str(scp_port)], stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL)
            if wait_for_echo(scp_port, scp):
                break
        else:
            sys.exit("FAILED: storescp ended at every start")
        node = "STORESCP@127.0.0.1:%d" % scp_port
        code, out, err = cli.run("--send-only", dest, "--send", node, *listen_args)
        records = cli.records(node)
        scp.terminate()
        scp.wait(30)
        check(code == 3 and out.startswith("0 von 65 Bildern im PACS bestätigt.\n")
              and verdicts(records) == {"unconfirmed": 65} and all(r["store_status"] == "0x0000" for r in records.values()),
              "storescp: every store acknowledged, every image reported not arrived", out + err)

        # Nothing listens; a node that refuses our association; an IPv6 address.
        node = "NOBODY@127.0.0.1:%d" % free_port()
        started = time.monotonic()
        code, out, err = cli.run("--send-only", dest, "--send", node, *listen_args)
        check(code == 4 and out.startswith("0 von 65 Bildern im PACS bestätigt.\n") and "nicht erreichbar" in err
              and verdicts(cli.records(node)) == {"not sent": 65},
              "unreachable: exit 4, every image 'not sent' (%.0f s)" % (time.monotonic() - started), out + err)
        strict = Orthanc(root + "/strict", listen, check_called=True)
        nodes.append(strict)
        code, out, err = cli.run("--send-only", dest, "--send", strict.node("SOMEONE"), *listen_args)
        check(code == 4 and "lehnt die Verbindung ab: der AE-Titel des PACS stimmt nicht" in err
              and strict.count() == 0, "a refused association: exit 4 with the node's reason", out + err)
        strict.stop()
        code, out, err = cli.run("--send-only", dest, "--send", "PACS@[::1]:104")
        check(code == 2 and "IPv6-Adressen werden nicht unterstützt" in err, "an IPv6 address: refused at once",
              out + err)

        # Killed twice in the middle of a send, restarted each time: every image there once and confirmed (those
        # it held after a restart found by the question before the next pass).
        images = int(os.environ.get("ZP_SEND_IMAGES", "1500"))
        big, _ = migrate(cli, make_disc, root, "big", images)
        node = Orthanc(root + "/restarted", listen)
        nodes.append(node)
        sender = subprocess.Popen([cli.program, "--debug", "--send-only", big, "--send", node.node(), *listen_args],
                                  stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        for threshold in (images // 5, images // 2):
            while (node.count() or 0) < threshold and sender.poll() is None:
                time.sleep(0.05)
            node.stop(signal.SIGKILL)
            time.sleep(2)
            node.start()
        started = time.monotonic()
        out, err = sender.communicate(timeout=900)
        seconds = time.monotonic() - started
        records = cli.records(node.node())
        uids = node.uids()
        check(sender.returncode == 0 and out.endswith("%d von %d Bildern im PACS bestätigt.\n" % (images, images))
              and sum(verdicts(records).get(v, 0) for v in ("committed", "found")) == images
              and "keine Speicherbestätigung" not in err
              and seconds < 60,
              "killed and restarted twice: every image confirmed, no report waited for in vain",
              (seconds, verdicts(records), out + err[-2000:]))
        check(len(uids) == images and len(set(uids)) == images, "killed and restarted twice: every image in Orthanc once",
              len(uids))
        stores = cli.stores()
        check(stores is not None and images <= stores <= images + 2 * 16,
              "killed and restarted twice: at most the stores in flight at each kill sent again (%s)" % stores)

        # "--send" alone takes the node Settings.ini names; after a run the whole folder is counted, once.
        with open(cli.folder + "/Settings.ini", "w") as f:
            f.write("[Senden]\r\nKnoten=%s\r\nEmpfangsport=%d\r\nVerbindungen=2\r\n" % (node.node(), listen))
        code, out, err = cli.run("--pacs", "HIPAX", "--source", disc, "--dest", big, "--temp", root, "--send")
        total = images + 60
        line = "%d von %d Bildern im PACS bestätigt.\n" % (total, total)
        check(code == 0 and out.count(line) == 1 and cli.stores() == 0,
              "--send after a run, node from Settings.ini: the folder's count, once; images already there not sent",
              (code, cli.stores(), out + err))

        # Ctrl+C in the middle of a send: exit 130, and the images not confirmed say why.
        stopped = Orthanc(root + "/stopped", listen)
        nodes.append(stopped)
        sender = subprocess.Popen([cli.program, "--send-only", big, "--send", stopped.node(), *listen_args],
                                  stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        while (stopped.count() or 0) < images // 10 and sender.poll() is None:
            time.sleep(0.05)
        sender.send_signal(signal.SIGINT)
        out, err = sender.communicate(timeout=300)
        # The new node may have been given the port of one stopped earlier: its records are this folder's.
        records = [r for r in cli.records(stopped.node()).values()
                   if r["destination"] == big and r["verdict"] not in ("committed", "found")]
        check(sender.returncode == 130 and records and all(r["error"].endswith("abgebrochen") for r in records),
              "Ctrl+C: exit 130, every image not confirmed says 'abgebrochen'", (sender.returncode, records[:3], err))
        stopped.stop()
        node.stop()
    finally:
        for node in nodes:
            if node.process.poll() is None:
                node.process.kill()
        shutil.rmtree(root, ignore_errors=True)
    if failures:
        sys.exit("FAILED: %d checks" % len(failures))


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
