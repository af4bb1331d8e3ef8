#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "common/TempTree.h"

namespace testing_support {

// One file on a sample disc and what a correct migration makes of it.
struct DiscFile
{
    std::string path; // relative to the disc's root
    std::string bytes;
    bool selected = true; // the profile takes it
    bool skipped = false; // taken, but left out on purpose ("GEMED": a name with ".")
    std::optional<std::string> image; // the destination bytes; nothing for a file that must be rejected

    std::string Name() const { return path.substr(path.rfind('/') + 1); }
};

// A small disc of a PACS system: good images in nested folders, files the profile leaves alone and,
// for the compressed systems, images that must be quarantined. Every image's bytes differ.
struct Disc
{
    std::string pacs;
    std::vector<DiscFile> files;

    static Disc Make(const std::string& pacs, int images, std::size_t imageBytes = 12000);
    void Write(const std::string& root) const;
    int Selected() const;
};

// A program folder with a copy of zet-pelta-cli, a source, a destination and a temp folder.
struct Workplace
{
    TempDir root;
    std::string program = root / "prog/zet-pelta-cli";
    std::string src = root / "src";
    std::string dest = root / "dest";
    std::string temp = root / "temp";

    Workplace();
    std::string ErrorLog() const { return root / "prog/Logs/Error.txt"; }
};

struct RunResult
{
    int status = -1; // exit status; 128 + signal when killed by one
    bool hung = false;
    long peakKiB = 0; // the program's peak resident memory
    std::string out;
    std::string err;
};

struct RunOptions
{
    std::string faults = {}; // ZP_FAULTS for the preload shim; empty runs without it
    bool asNobody = false; // drop to uid/gid 65534 first
    int timeoutSeconds = 120;
    bool stopExpected = false; // a fault stops the process: return as soon as it has stopped
    int* stoppedPid = nullptr;
};

// Runs the workplace's program on it with the given PACS system.
RunResult RunCli(const Workplace& place, const std::string& pacs, const RunOptions& options = {});
// The same with explicit folders.
RunResult RunCliOn(const std::string& program, const std::vector<std::string>& args, const RunOptions& options);

// What must hold after every run, whatever failed: each selected image is in the destination exactly
// once with the right bytes, or byte-identical in BadObjects, or named (or its folder named) by an
// error line, and never two of these; no other file, partial or temporary, is in the destination;
// the work folder is gone; the summary counts what is there; the source is as it was.
void ExpectInvariant(const Workplace& place, const Disc& disc, const RunResult& run,
    const std::map<std::string, std::string>& sourceBefore);

// What a destination folder holds.
struct Destination
{
    std::multiset<std::string> images; // bytes of the .dcm files named by a unique name
    std::multiset<std::string> quarantined; // bytes of the BadObjects files
    std::vector<std::string> strays; // anything else: partial, temporary or misnamed files
};
Destination ReadDestination(const std::string& dest);

// Selected images that reached the destination, quarantine, or neither.
struct Tally
{
    int migrated = 0;
    int quarantined = 0;
    int missing = 0;
};
Tally Count(const Workplace& place, const Disc& disc);

// A workplace with a disc of the given system written into its source, and the source's snapshot.
struct Prepared
{
    Workplace place;
    Disc disc;
    std::map<std::string, std::string> before;

    Prepared(const std::string& pacs, int images, std::size_t bytes = 12000);
};

// Small file systems of their own (tmpfs) need a mount namespace of the test process's own, which
// only root gets; false when there is none. Mounts made after it are gone with the process.
bool PrivateMounts();
void MountTmpfs(const std::string& path, const std::string& size);

// Runs a command line through the shell; throws when it fails.
void Shell(const std::string& command);

} // namespace testing_support
