#!/usr/bin/python3
# What the report calls a good image is what a real PACS accepts.
#
# Builds one disc per PACS system from every file of Debian's python3-pydicom data, migrates each with
# zet-pelta-cli, sends every migrated file to a real Orthanc (started here: its own configuration and
# storage in a temp folder, accepting local clients only, on a port found free, stopped by its PID) and
# compares. A file the report calls "ok" must be accepted with the report's UIDs, which must also be
# pydicom's; one it calls "no Part 10 header" is a bare dataset that Orthanc's REST import still takes;
# every other verdict must be refused. Usage: pacs_test.py ZET_PELTA_CLI PYDICOM_DATA_FOLDER
import csv, gzip, json, os, shutil, subprocess, sys, tempfile, urllib.error, urllib.request

import pydicom

from send_test import Orthanc, free_port

UIDS = {"sop_instance_uid": "SOPInstanceUID", "study_instance_uid": "StudyInstanceUID",
        "series_instance_uid": "SeriesInstanceUID", "sop_class_uid": "SOPClassUID"}


def request(url, data=None):
    # (HTTP status, parsed JSON answer or None)
    try:
        with urllib.request.urlopen(urllib.request.Request(url, data=data), timeout=60) as answer:
            return answer.status, json.loads(answer.read() or b"null")
    except urllib.error.HTTPError as error:
        return error.code, None


def build_disc(pacs, data, disc):
    # Every data file as the system stores an image: wrapped and gzipped, gzipped, renamed or as it is.
    # Returns the data file of each path on the disc.
    sources = {}
    files = sorted(os.path.join(d, n) for d, _, names in os.walk(data) for n in names
                   if "__pycache__" not in d and not n.endswith((".py", ".pyc")))
    for number, path in enumerate(files):
        relative = os.path.relpath(path, data)
        folder = os.path.join(disc, os.path.dirname(relative))
        os.makedirs(folder, exist_ok=True)
        content = open(path, "rb").read()
        name = {"Arzt und Praxis": "IMG%04d.Z", "STARC": "IMG%04d.AR", "GEMED": "IMG%04d"}.get(pacs, "%s") % (
            number if pacs != "HIPAX" else os.path.basename(relative))
        if pacs == "Arzt und Praxis":
            content = gzip.compress(b"AUP HEADER patient=Muster " + content + b"#*lastfile*#AUP END", mtime=0)
        elif pacs == "STARC":
            content = gzip.compress(content, mtime=0)
        with open(os.path.join(folder, name), "wb") as f:
            f.write(content)
        sources[os.path.join(os.path.dirname(relative), name)] = relative
    return sources


def damaged_uids(row, path, source):
    # A file that does not parse names in the report only UIDs that pydicom reads too; a file cut short
    # names every UID that pydicom reads before the damage.
    try:
        dataset = pydicom.dcmread(path, force=True, stop_before_pixels=True)
        read = {column: str(dataset.get(keyword, "")).strip(" \0") for column, keyword in UIDS.items()}
    except Exception:
        read = {column: "" for column in UIDS}
    cut = "truncated" in source
    return ["%s (damaged): %s %r in the report, %r for pydicom" % (row["path"], column, row[column], value)
            for column, value in read.items() if (row[column] or (cut and value)) and row[column] != value]


def check_disc(pacs, cli, data, work, orthanc):
    os.makedirs(work + "/prog")
    shutil.copy(cli, work + "/prog/zet-pelta-cli")
    sources = build_disc(pacs, data, work + "/disc")
    for folder in ("dest", "temp"):
        os.makedirs(os.path.join(work, folder))
    run = subprocess.run([work + "/prog/zet-pelta-cli", "--quiet", "--pacs", pacs, "--source", work + "/disc",
                          "--dest", work + "/dest", "--temp", work + "/temp"], capture_output=True, text=True)
    if run.returncode not in (0, 1) or "Bericht: " not in run.stdout:
        sys.exit("FAILED: %s: the run ended with %d:\n%s%s" % (pacs, run.returncode, run.stdout, run.stderr))
    report = run.stdout.rsplit("Bericht: ", 1)[1].strip()
    rows = [row for row in csv.DictReader(open(report, encoding="utf-8-sig")) if row["outcome"] == "migrated"]
    problems, verdicts = [], {}
    for row in rows:
        path = os.path.join(work, "dest", row["written_file"])
        verdict = row["dicom"].split(":")[0]
        verdicts[verdict] = verdicts.get(verdict, 0) + 1
        if verdict == "not DICOM":
            problems += damaged_uids(row, path, sources[row["path"]])
        status, answer = request(orthanc + "/instances", open(path, "rb").read())
        accepted = status == 200
        if accepted != (verdict in ("ok", "no Part 10 header")):
            problems.append("%s: report says %r, Orthanc answers %d" % (row["path"], row["dicom"], status))
            continue
        if verdict == "ok" and open(path, "rb").read(132)[128:] != b"DICM":
            problems.append("%s: ok without a meta header" % row["path"])
        if not accepted:
            continue
        tags = request(orthanc + "/instances/%s/tags?simplify" % answer["ID"])[1]
        dataset = pydicom.dcmread(path, force=True, stop_before_pixels=True)
        for column, keyword in UIDS.items():
            for reader, value in (("Orthanc", tags.get(keyword, "")), ("pydicom", str(dataset.get(keyword, "")))):
                if value.strip(" \0") != row[column]:
                    problems.append("%s: %s %r in the report, %r for %s" % (row["path"], keyword, row[column],
                                                                              value, reader))
    print("%s: %d files on the disc, %d migrated, verdicts %s" % (pacs, len(sources), len(rows), verdicts))
    for problem in problems:
        print("  " + problem)
    return len(problems), verdicts.get("ok", 0)


def main():
    cli, data = sys.argv[1], sys.argv[2]
    with tempfile.TemporaryDirectory(prefix="zet-pelta-pacs-") as work:
        orthanc = Orthanc(os.path.join(work, "orthanc"), free_port())  # only its REST import is used
        try:
            results = [check_disc(pacs, cli, data, os.path.join(work, pacs), "http://127.0.0.1:%d" % orthanc.http)
                       for pacs in ("Arzt und Praxis", "GEMED", "HIPAX", "STARC")]
        finally:
            orthanc.stop()  # its storage goes with the temp folder
    disagreements = sum(count for count, _ in results)
    if disagreements or min(ok for _, ok in results) < 100:
        sys.exit("FAILED: %d disagreements between the reports and Orthanc or pydicom" % disagreements)
    print("The reports agree with Orthanc and pydicom on every migrated file.")


if __name__ == "__main__":
    main()
