#!/usr/bin/python3
# Sending to a real PACS, and the proof that an image arrived.
#
# Debian's Orthanc (storage commitment for our AE, or only C-FIND; a Lua filter that drops one image while
# its store is answered "Success"; killed and restarted twice in the middle of a send; a called AE title it
# refuses), DCMTK's storescp that acknowledges and keeps nothing, and a port where nothing listens. Every
# node is started here, on loopback ports found free, and stopped by its PID. What the CLI reports is
# checked against what Orthanc holds: nothing counts as arrived that is not there.
# Usage: send_test.py ZET_PELTA_CLI ZET_PELTA_MAKE_DISC
import csv, glob, json, os, re, shutil, signal, socket, subprocess, sys, tempfile, time, urllib.request

ORTHANC = "/usr/sbin/Orthanc"
STORESCP = "/usr/bin/storescp"
DROPPED = "2.25.51216379200822465.7"  # the SOP Instance UID the Lua filter drops: the disc's 7th image
failures = []


def check(condition, what, detail=""):
    print(("ok      " if condition else "FAILED  ") + what + ("" if condition else "\n" + str(detail)[-3000:]))
    if not condition:
        failures.append(what)


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


class Orthanc:
    def __init__(self, folder, listen, commitment=True, drop=False, check_called=False):
        for tool in (ORTHANC, STORESCP):
            if not os.access(tool, os.X_OK):
                sys.exit("FAILED: " + tool + " is missing: scripts/install-deps.sh installs it")
        self.folder, self.port, self.http = folder, free_port(), free_port()
        os.makedirs(folder, exist_ok=True)
        config = {"Name": "TEST", "StorageDirectory": folder + "/db", "IndexDirectory": folder + "/db",
                  "HttpPort": self.http, "DicomPort": self.port, "DicomAet": "ORTHANC", "DicomServerEnabled": True,
                  "DicomCheckCalledAet": check_called, "RemoteAccessAllowed": False, "AuthenticationEnabled": False,
                  "Plugins": [], "DicomModalities": {"zp": {"AET": "ZETPELTA", "Host": "127.0.0.1", "Port": listen,
                                                             "AllowStorageCommitment": commitment}}}
        if drop:
            with open(folder + "/drop.lua", "w") as f:
                f.write("function ReceivedInstanceFilter(dicom, origin, info)\n"
                        "  return dicom.SOPInstanceUID ~= '%s'\nend\n" % DROPPED)
            config["LuaScripts"] = [folder + "/drop.lua"]
        with open(folder + "/orthanc.json", "w") as f:
            json.dump(config, f)
        self.start()

    def start(self):
        self.process = subprocess.Popen([ORTHANC, self.folder + "/orthanc.json"],
                                        stdout=open(self.folder + "/orthanc.log", "a"), stderr=subprocess.STDOUT)
        for _ in range(300):
            if self.process.poll() is not None:
                sys.exit("FAILED: Orthanc ended at its start:\n" + open(self.folder + "/orthanc.log").read()[-2000:])
            if self.count() is not None:
                return
            time.sleep(0.1)
        sys.exit("FAILED: Orthanc did not answer within 30 s")

    def count(self):
        try:
            with urllib.request.urlopen("http://127.0.0.1:%d/statistics" % self.http, timeout=10) as answer:
                return json.loads(answer.read())["CountInstances"]
        except OSError:
            return None

    def uids(self):
        with urllib.request.urlopen("http://127.0.0.1:%d/tools/find" % self.http, timeout=60, data=json.dumps(
                {"Level": "Instance", "Query": {}, "Expand": True}).encode()) as answer:
            return [i["MainDicomTags"]["SOPInstanceUID"] for i in json.loads(answer.read())]

    def stop(self, how=signal.SIGTERM):
        self.process.send_signal(how)
        self.process.wait(60)

    def node(self, aet="ORTHANC"):
        return "%s@127.0.0.1:%d" % (aet, self.port)


class Cli:
    def __init__(self, root, cli):
        # A program folder of its own: its Logs/ and reports are this test's.
        os.makedirs(root + "/prog")
        self.program = root + "/prog/zet-pelta-cli"
        shutil.copy(cli, self.program)
        self.runs = root + "/prog/Logs/Runs"

    def run(self, *args):
        done = subprocess.run([self.program, "--debug", *args], capture_output=True, text=True, timeout=900,
                              env=dict(os.environ, LC_ALL="C.UTF-8"))
        return done.returncode, done.stdout, done.stderr

    def records(self, node):
        # The latest record of each file at the node.
        latest = {}
        for path in sorted(glob.glob(self.runs + "/*-pacs.csv")):
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


def migrate(cli, make_disc, root, name, images):
    os.makedirs(root + "/" + name)
    subprocess.run([make_disc, "HIPAX", root + "/disc-" + name, str(images)], check=True, stdout=subprocess.DEVNULL)
    code, out, err = cli.run("-q", "--pacs", "HIPAX", "--source", root + "/disc-" + name, "--dest", root + "/" + name,
                             "--temp", root)
    if code != 0:
        sys.exit("FAILED: the migration before the send:\n" + out + err)
    return root + "/" + name


def main(cli_path, make_disc):
    root = tempfile.mkdtemp(prefix="zet-pelta-send-")
    nodes = []
    try:
        cli = Cli(root, cli_path)
        dest = migrate(cli, make_disc, root, "dest", 60)
        listen = free_port()
        listen_args = ("--listen", str(listen))

        # A node that answers "Success" to every store but keeps one image less: commitment tells.
        orthanc = Orthanc(root + "/orthanc", listen, drop=True)
        nodes.append(orthanc)
        code, out, err = cli.run("--send-only", dest, "--send", orthanc.node(), *listen_args)
        records = cli.records(orthanc.node())
        dropped = [r for r in records.values() if r["sop_instance_uid"] == DROPPED]
        check(code == 1 and out.endswith("59 von 60 Bildern im PACS bestätigt.\n"),
              "commitment: the image the node dropped after a successful store is the one not confirmed", out + err)
        check(len(dropped) == 1 and dropped[0]["verdict"] == "not committed" and dropped[0]["store_status"] == "0x0000"
              and verdicts(records) == {"committed": 59, "not committed": 1},
              "commitment: its store said 0x0000, its verdict is 'not committed', the other 59 'committed'", records)
        check(sorted(orthanc.uids()) == sorted(r["sop_instance_uid"] for r in records.values()
                                               if r["verdict"] == "committed"),
              "commitment: exactly the images reported committed are in Orthanc")
        check(all(r["transfer_syntax_sent"] == "1.2.840.10008.1.2.1" and r["store_comment"] for r in records.values()),
              "commitment: every record names the transfer syntax sent and the store's answer", records)
        row = [j for j in cli.journal() if j["destination"] == dest][-1]
        code, table, _ = cli.run("--discs", dest)
        check((row["pacs_node"], row["pacs_images"], row["pacs_confirmed"]) == (orthanc.node(), "60", "59")
              and " 59/60" in table, "commitment: the journal and --discs tell 59 of 60", str(row) + table)

        # Again: only the image not confirmed is sent; without our records, nothing already there is sent.
        rows_before = sum(len(open(p).readlines()) for p in glob.glob(cli.runs + "/*-pacs.csv"))
        code, out, err = cli.run("--send-only", dest, "--send", orthanc.node(), *listen_args)
        rows_after = sum(len(open(p).readlines()) for p in glob.glob(cli.runs + "/*-pacs.csv"))
        check(code == 1 and cli.stores() == 1 and rows_after == rows_before + 1,
              "resume: only the one image not confirmed is sent again", (cli.stores(), rows_after - rows_before, out))
        for path in glob.glob(cli.runs + "/*-pacs.csv"):
            os.remove(path)
        code, out, err = cli.run("--send-only", dest, "--send", orthanc.node(), *listen_args)
        records = cli.records(orthanc.node())
        check(cli.stores() == 1 and sum(1 for r in records.values() if r["store_comment"].startswith("schon im PACS"))
              == 59 and orthanc.count() == 59, "an image already in the node is not sent again, even without our records",
              (cli.stores(), out + err))
        code, out, err = cli.run("--verify", dest, "--send", orthanc.node(), *listen_args)
        check(code == 1 and out.endswith("59 von 60 Bildern im PACS bestätigt.\n") and cli.stores() == 0,
              "--verify with --send asks the node again and sends nothing", out + err)
        orthanc.stop()

        # A node without commitment for us: C-FIND at image level finds what it holds.
        finder = Orthanc(root + "/finder", listen, commitment=False, drop=True)
        nodes.append(finder)
        code, out, err = cli.run("--send-only", dest, "--send", finder.node(), *listen_args)
        check(code == 1 and verdicts(cli.records(finder.node())) == {"found": 59, "not found": 1},
              "C-FIND: without commitment, 59 found and the dropped image not found", out + err)
        finder.stop()

        # A node that knows us under another port: its reports never come; after the wait, C-FIND tells.
        astray = Orthanc(root + "/astray", free_port())
        nodes.append(astray)
        code, out, err = cli.run("--send-only", dest, "--send", astray.node(), *listen_args)
        check(code == 0 and verdicts(cli.records(astray.node())) == {"found": 60}
              and "keine Speicherbestätigung vom PACS erhalten" in err and "Port %d" % listen in err,
              "commitment reports that never come: the operator is told where they must go, C-FIND confirms",
              out + err)
        astray.stop()

        # A node that acknowledges every store and keeps nothing.
        scp_port = free_port()
        scp = subprocess.Popen([STORESCP, "--ignore", str(scp_port)], stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
        time.sleep(0.5)
        node = "STORESCP@127.0.0.1:%d" % scp_port
        code, out, err = cli.run("--send-only", dest, "--send", node, *listen_args)
        records = cli.records(node)
        scp.terminate()
        scp.wait(30)
        check(code == 1 and out.endswith("0 von 60 Bildern im PACS bestätigt.\n")
              and verdicts(records) == {"unconfirmed": 60} and all(r["store_status"] == "0x0000" for r in records.values()),
              "storescp: every store acknowledged, every image reported not arrived", out + err)

        # Nothing listens; a node that refuses our association.
        node = "NOBODY@127.0.0.1:%d" % free_port()
        started = time.monotonic()
        code, out, err = cli.run("--send-only", dest, "--send", node, *listen_args)
        check(code == 2 and out.endswith("0 von 60 Bildern im PACS bestätigt.\n") and "nicht erreichbar" in err
              and verdicts(cli.records(node)) == {"not sent": 60},
              "unreachable: exit 2, every image 'not sent' (%.0f s)" % (time.monotonic() - started), out + err)
        strict = Orthanc(root + "/strict", listen, check_called=True)
        nodes.append(strict)
        code, out, err = cli.run("--send-only", dest, "--send", strict.node("SOMEONE"), *listen_args)
        check(code == 2 and "lehnt die Verbindung ab" in err and strict.count() == 0,
              "a refused association: exit 2 with the node's refusal", out + err)
        strict.stop()

        # Killed twice in the middle of a send, restarted each time: every image there once and confirmed.
        images = int(os.environ.get("ZP_SEND_IMAGES", "1500"))
        big = migrate(cli, make_disc, root, "big", images)
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
        out, err = sender.communicate(timeout=900)
        records = cli.records(node.node())
        uids = node.uids()
        check(sender.returncode == 0 and out.endswith("%d von %d Bildern im PACS bestätigt.\n" % (images, images))
              and verdicts(records) == {"committed": images},
              "killed and restarted twice: every image confirmed", out + err[-2000:])
        check(len(uids) == images and len(set(uids)) == images, "killed and restarted twice: every image in Orthanc once",
              len(uids))
        stores = cli.stores()
        check(stores is not None and images <= stores <= images + 2 * 8,
              "killed and restarted twice: at most the stores in flight at each kill sent again (%s)" % stores)

        # After a run: the CLI ends with the count.
        code, out, err = cli.run("--pacs", "HIPAX", "--source", root + "/disc-dest", "--dest", big, "--temp", root,
                                 "--send", node.node(), *listen_args)
        check(code == 0 and out.endswith("60 von 60 Bildern im PACS bestätigt.\n"),
              "--send after a run ends with the count of the run's images", out + err)
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
