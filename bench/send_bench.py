#!/usr/bin/python3
# Sending into a PACS next to the field's standard sender: the same images, the same loopback Orthanc
# (a fresh one, its storage in the work folder, for every send), DCMTK's dcmsend against
# `zet-pelta-cli --send-only` with our storage commitment included in our time. Prints table rows in the
# form of zet-pelta-bench's; asserts nothing, but a send that does not leave every image in Orthanc
# ends the benchmark.
#
#   send_bench.py ZET_PELTA_CLI ZET_PELTA_MAKE_DISC [--rounds 1] [--small 5000] [--large 24] [--dir PARENT]
import argparse, json, os, shutil, socket, subprocess, sys, tempfile, time, urllib.request

ORTHANC = "/usr/sbin/Orthanc"


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


def timed(command, env=None):
    started = time.monotonic()
    done = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, env=env)
    return time.monotonic() - started, done


def send_once(who, args, work, dest, images, listen):
    process, port, http = start_orthanc(work + "/orthanc", listen)
    try:
        if who == "dcmsend":
            seconds, done = timed(["dcmsend", "-aet", "ZETPELTA", "-aec", "ORTHANC", "127.0.0.1", str(port),
                                   "--scan-directories", dest])
        else:
            # The reports without the records of earlier sends: every image goes again.
            logs = work + "/program/Logs/Runs"
            for name in os.listdir(logs):
                if name.endswith("-pacs.csv"):
                    os.remove(os.path.join(logs, name))
            seconds, done = timed([work + "/program/zet-pelta-cli", "--send-only", dest, "--send",
                                   "ORTHANC@127.0.0.1:%d" % port, "--listen", str(listen)])
        stored = count(http)
        if done.returncode != 0 or stored != images:
            sys.exit("%s ended with status %d and %s images in Orthanc, expected %d:\n%s" % (
                who, done.returncode, stored, images, (done.stdout + done.stderr)[-2000:]))
        return seconds
    finally:
        process.terminate()
        process.wait(120)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("cli")
    parser.add_argument("make_disc")
    parser.add_argument("--rounds", type=int, default=1)
    parser.add_argument("--small", type=int, default=5000)
    parser.add_argument("--large", type=int, default=24)
    parser.add_argument("--dir", default=None)
    options = parser.parse_args()
    work = tempfile.mkdtemp(prefix="zet-pelta-send-bench-", dir=options.dir)
    listen = free_port()
    rows = []
    try:
        os.makedirs(work + "/program")
        shutil.copy(options.cli, work + "/program/zet-pelta-cli")
        for label, images, pixels in (("small images", options.small, 0), ("images of 8 MiB", options.large, 8 << 20)):
            if images == 0:
                continue
            disc, dest = work + "/disc-%d" % images, work + "/dest-%d" % images
            os.makedirs(dest)
            subprocess.run([options.make_disc, "HIPAX", disc, str(images)] + ([str(pixels)] if pixels else []),
                           check=True, stdout=subprocess.DEVNULL)
            subprocess.run([work + "/program/zet-pelta-cli", "-q", "--pacs", "HIPAX", "--source", disc, "--dest",
                            dest, "--temp", work], check=True, stdout=subprocess.DEVNULL)
            shutil.rmtree(disc)
            megabytes = sum(os.path.getsize(os.path.join(dest, n)) for n in os.listdir(dest)) / 1e6
            theirs, ours = [], []
            for round in range(options.rounds):
                theirs.append(send_once("dcmsend", [], work, dest, images, listen))
                ours.append(send_once("zet-pelta-cli", [], work, dest, images, listen))
                print("  round %d, %d %s: dcmsend %.1f s, zet-pelta-cli %.1f s" % (
                    round + 1, images, label, theirs[-1], ours[-1]), file=sys.stderr)
            theirs, ours = sorted(theirs)[len(theirs) // 2], sorted(ours)[len(ours) // 2]
            if pixels:
                rows.append(("send, %d %s into Orthanc (%.0f MB), commitment included: MB/s" % (images, label, megabytes),
                             "dcmsend", "%.1f MB/s" % (megabytes / theirs), "%.1f MB/s" % (megabytes / ours),
                             theirs / ours, ">= 0.90"))
            else:
                rows.append(("send, %d %s into Orthanc, commitment included: instances/s" % (images, label),
                             "dcmsend", "%.1f /s" % (images / theirs), "%.1f /s" % (images / ours), theirs / ours,
                             ">= 2.00"))
            shutil.rmtree(dest)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    for row in rows:
        print("| %s | %s | %s | %s | %.2f | %s |" % row)


if __name__ == "__main__":
    main()
