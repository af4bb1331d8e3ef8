#!/usr/bin/python3
# Sending into a PACS next to what the PACS itself can take and next to the field's standard sender: the
# same images, the same loopback Orthanc (a fresh one, its storage in the work folder, for every send).
#   ceiling: 16 DCMTK storescu at once, TCP_NODELAY=1, each with a sixteenth of the files, one association
#            each: what the node takes, with no question asked and nothing proven;
#   dcmsend: DCMTK's sender, one association;
#   ours:    `zet-pelta-cli --send-only`, the question before the stores and the commitment after them
#            included in its time.
# The sends of a round alternate, so that a machine busy with something else touches all alike. Prints
# table rows in the form of zet-pelta-bench's; asserts nothing, but a send that does not leave every image
# in Orthanc ends the benchmark.
#
#   send_bench.py ZET_PELTA_CLI ZET_PELTA_MAKE_DISC [--rounds 1] [--small 2000] [--large 16] [--dir PARENT]
import argparse, json, os, shutil, socket, subprocess, sys, tempfile, time, urllib.request

ORTHANC = "/usr/sbin/Orthanc"
STORESCU_PROCESSES = 16


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def count(http):
    try:
        with urllib.request.urlopen("http://127.0.0.1:%d/statistics" % http, timeout=30) as answer:
            return json.loads(answer.read())["CountInstances"]
    except OSError:
        return None


def start_orthanc(folder, listen):
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    port, http = free_port(), free_port()
    with open(folder + "/orthanc.json", "w") as f:
        json.dump({"StorageDirectory": folder + "/db", "IndexDirectory": folder + "/db", "HttpPort": http,
                   "DicomPort": port, "DicomAet": "ORTHANC", "RemoteAccessAllowed": False,
                   "AuthenticationEnabled": False, "Plugins": [],
                   "DicomModalities": {"zp": {"AET": "ZETPELTA", "Host": "127.0.0.1", "Port": listen,
                                              "AllowStorageCommitment": True}}}, f)
    process = subprocess.Popen([ORTHANC, folder + "/orthanc.json"], stdout=open(folder + "/orthanc.log", "w"),
                               stderr=subprocess.STDOUT)
    while count(http) is None:
        if process.poll() is not None:
            sys.exit("Orthanc ended at its start: see " + folder + "/orthanc.log")
        time.sleep(0.1)
    return process, port, http


def files_of(dest):
    return sorted(os.path.join(dest, name) for name in os.listdir(dest) if name.endswith(".dcm"))


def send_once(who, work, dest, images, listen):
    process, port, http = start_orthanc(work + "/orthanc", listen)
    try:
        started = time.monotonic()
        if who == "ceiling":
            files = files_of(dest)
            senders = [subprocess.Popen(["storescu", "-aet", "ZETPELTA", "-aec", "ORTHANC", "127.0.0.1", str(port)]
                                        + files[i::STORESCU_PROCESSES], env=dict(os.environ, TCP_NODELAY="1"),
                                        stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
                       for i in range(STORESCU_PROCESSES)]
            output = [sender.communicate()[0] for sender in senders]
            code = max(sender.returncode for sender in senders)
            output = "".join(output)
        elif who == "dcmsend":
            done = subprocess.run(["dcmsend", "-aet", "ZETPELTA", "-aec", "ORTHANC", "127.0.0.1", str(port),
                                   "--scan-directories", dest], capture_output=True, text=True)
            code, output = done.returncode, done.stdout + done.stderr
        else:
            # The reports without the records of earlier sends: every image goes again.
            logs = work + "/program/Logs/Runs"
            for name in os.listdir(logs):
                if name.endswith("-pacs.csv"):
                    os.remove(os.path.join(logs, name))
            done = subprocess.run([work + "/program/zet-pelta-cli", "--send-only", dest, "--send",
                                   "ORTHANC@127.0.0.1:%d" % port, "--listen", str(listen)], capture_output=True,
                                  text=True)
            code, output = done.returncode, done.stdout + done.stderr
        seconds = time.monotonic() - started
        stored = count(http)
        if code != 0 or stored != images:
            sys.exit("%s ended with status %d and %s images in Orthanc, expected %d:\n%s" % (
                who, code, stored, images, output[-2000:]))
        return seconds
    finally:
        process.terminate()
        process.wait(120)


def median(values):
    return sorted(values)[len(values) // 2]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("cli")
    parser.add_argument("make_disc")
    parser.add_argument("--rounds", type=int, default=1)
    parser.add_argument("--small", type=int, default=2000)
    parser.add_argument("--large", type=int, default=16)
    parser.add_argument("--dir", default="/dev/shm" if os.path.isdir("/dev/shm") else None)
    options = parser.parse_args()
    work = tempfile.mkdtemp(prefix="zet-pelta-send-bench-", dir=options.dir)
    listen = free_port()
    rows = []
    try:
        os.makedirs(work + "/program")
        shutil.copy(options.cli, work + "/program/zet-pelta-cli")
        for label, images, pixels, others in (("small images", options.small, 0, ("ceiling", "dcmsend")),
                                               ("images of 8 MiB", options.large, 8 << 20, ("dcmsend",))):
            if images == 0:
                continue
            disc, dest = work + "/disc-%d" % images, work + "/dest-%d" % images
            os.makedirs(dest)
            subprocess.run([options.make_disc, "HIPAX", disc, str(images)] + ([str(pixels)] if pixels else []),
                           check=True, stdout=subprocess.DEVNULL)
            subprocess.run([work + "/program/zet-pelta-cli", "-q", "--pacs", "HIPAX", "--source", disc, "--dest",
                            dest, "--temp", work], check=True, stdout=subprocess.DEVNULL)
            shutil.rmtree(disc)
            megabytes = sum(os.path.getsize(f) for f in files_of(dest)) / 1e6
            times = {who: [] for who in others + ("ours",)}
            for round in range(options.rounds):
                for who in others:
                    times[who].append(send_once(who, work, dest, images, listen))
                    times["ours"].append(send_once("ours", work, dest, images, listen))
                print("  round %d, %d %s: " % (round + 1, images, label)
                      + ", ".join("%s %.1f s" % (who, t[-1]) for who, t in times.items()), file=sys.stderr)
            ours = median(times["ours"])
            for who in others:
                theirs = median(times[who])
                if pixels:
                    rows.append(("send, %d %s into Orthanc (%.0f MB), commitment included: MB/s" % (
                        images, label, megabytes), who, "%.1f MB/s" % (megabytes / theirs),
                        "%.1f MB/s" % (megabytes / ours), theirs / ours, ">= 1.00"))
                else:
                    rows.append(("send, %d %s into Orthanc, question and commitment included: instances/s" % (
                        images, label), "16 storescu at once" if who == "ceiling" else who,
                        "%.1f /s" % (images / theirs), "%.1f /s" % (images / ours), theirs / ours,
                        ">= 0.70" if who == "ceiling" else ">= 2.00"))
            shutil.rmtree(dest)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    for row in rows:
        print("| %s | %s | %s | %s | %.2f | %s |" % row)


if __name__ == "__main__":
    main()
