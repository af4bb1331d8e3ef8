#pragma once

// Timing helpers the benchmark programs share.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace bench {

// "--name value" pairs over the defaults, whose keys are the names allowed; anything else ends the
// program with a usage line.
inline std::map<std::string, std::string> ParseOptions(
    int argc, char** argv, std::map<std::string, std::string> options)
{
    for (int i = 1; i < argc; i += 2) {
        const std::string name = argv[i];
        if (i + 1 >= argc || !name.starts_with("--") || !options.contains(name.substr(2))) {
            std::fprintf(stderr, "usage: %s", argv[0]);
            for (const auto& [key, value] : options) {
                std::fprintf(stderr, " [--%s %s]", key.c_str(), value.c_str());
            }
            std::fprintf(stderr, "\n");
            std::exit(2);
        }
        options[name.substr(2)] = argv[i + 1];
    }
    return options;
}

inline std::uint64_t Number(const std::string& text)
{
    return std::strtoull(text.c_str(), nullptr, 10);
}

// A new folder of the benchmark's own under parent. Empty: /dev/shm where there is one, else the
// system's temp folder. The rounds delete and create tens of thousands of files, and some file
// systems then slow down for a minute (ext4 without a journal skips recently freed inodes one by one
// when it allocates), which would swamp both the floor and our figure; memory has no such memory.
inline std::string MakeWorkFolder(std::string parent)
{
    if (parent.empty()) {
        parent = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : std::filesystem::temp_directory_path().string();
    }
    std::string root = parent + "/zet-pelta-bench-XXXXXX";
    if (!::mkdtemp(root.data())) {
        std::perror("mkdtemp");
        std::exit(1);
    }
    return root;
}

// Writes back what earlier steps left in the page cache, untimed, so that a timed command does not
// pay for its predecessor's writes (or for the file system discarding deleted blocks).
inline void Settle()
{
    if (std::system("sync") != 0) {
        std::fprintf(stderr, "sync failed\n");
    }
}

// Wall time of a shell command, after Settle; a failing command ends the benchmark.
inline double TimeCommand(const std::string& command)
{
    Settle();
    const auto start = std::chrono::steady_clock::now();
    if (std::system(command.c_str()) != 0) {
        std::fprintf(stderr, "command failed: %s\n", command.c_str());
        std::exit(1);
    }
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

struct ProgramRun
{
    double seconds = 0;
    double cpuSeconds = 0; // user and system time of the program
    long maxResidentKiB = 0;
    int status = -1;
};

// Wall time, processor time, peak resident memory and exit status of a program run without a shell,
// after Settle. Its standard output goes to outputFile (empty: discarded).
inline ProgramRun RunProgram(const std::vector<std::string>& args, const std::string& outputFile = "")
{
    std::vector<char*> argv;
    for (const auto& a : args) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(
        &actions, 1, outputFile.empty() ? "/dev/null" : outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ProgramRun run;
    Settle();
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
        std::perror("posix_spawn");
        std::exit(1);
    }
    int status = 0;
    rusage usage {};
    wait4(pid, &status, 0, &usage);
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const auto seconds
        = [](const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; };
    run.cpuSeconds = seconds(usage.ru_utime) + seconds(usage.ru_stime);
    run.maxResidentKiB = usage.ru_maxrss;
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    posix_spawn_file_actions_destroy(&actions);
    return run;
}

inline double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

} // namespace bench
