// Migration speed of a "HIPAX" disc next to `cp -r` of the same tree, measured in the same run.
// Builds a flat and a nested tree of many files, then times each command over several rounds (the
// source in the page cache for both) and prints the medians and the ratio. Asserts nothing.
//
//   bench_hipax [--files N] [--bytes AVERAGE_FILE_BYTES] [--rounds R] [--dir PARENT]
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "BenchUtil.h"

namespace fs = std::filesystem;

namespace {

struct Tree
{
    std::string name;
    std::string path;
    std::uint64_t files = 0;
    std::uint64_t bytes = 0;
};

std::uint64_t Next(std::uint64_t& state)
{
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return state;
}

Tree BuildTree(
    const std::string& name, const std::string& path, std::uint64_t files, std::uint64_t averageBytes, bool nested)
{
    Tree tree {name, path};
    std::uint64_t state = 0x2545F4914F6CDD1Dull;
    std::string buffer;
    for (std::uint64_t i = 0; i < files; ++i) {
        std::string folder = path;
        if (nested) {
            // 50 images a study, 10 studies a patient.
            char part[64];
            std::snprintf(part, sizeof part, "/PAT%04llu/ST%02llu", static_cast<unsigned long long>(i / 500),
                static_cast<unsigned long long>(i / 50 % 10));
            folder += part;
        }
        fs::create_directories(folder);
        const std::uint64_t size = averageBytes / 2 + Next(state) % (averageBytes + 1);
        buffer.resize(size);
        for (std::size_t j = 0; j + 8 <= buffer.size(); j += 8) {
            const std::uint64_t v = Next(state);
            std::copy_n(reinterpret_cast<const char*>(&v), 8, buffer.data() + j);
        }
        char file[32];
        std::snprintf(file, sizeof file, "/IM%06llu.DCM", static_cast<unsigned long long>(i));
        std::ofstream(folder + file, std::ios::binary).write(buffer.data(), static_cast<std::streamsize>(size));
        ++tree.files;
        tree.bytes += size;
    }
    return tree;
}

std::uint64_t CountFiles(const std::string& path)
{
    std::uint64_t n = 0;
    for (const auto& entry : fs::recursive_directory_iterator(path)) {
        n += entry.is_regular_file() ? 1 : 0;
    }
    return n;
}

} // namespace

int main(int argc, char** argv)
{
    const auto options
        = bench::ParseOptions(argc, argv, {{"files", "20000"}, {"bytes", "32768"}, {"rounds", "3"}, {"dir", ""}});
    const std::uint64_t files = bench::Number(options.at("files")), averageBytes = bench::Number(options.at("bytes"));
    const int rounds = std::max(1, static_cast<int>(bench::Number(options.at("rounds"))));
    const std::string root = bench::MakeWorkFolder(options.at("dir"));
    fs::create_directories(root + "/temp");
    std::printf("HIPAX migration vs cp -r: %llu files per tree, about %llu bytes each, %d rounds, in %s\n",
        static_cast<unsigned long long>(files), static_cast<unsigned long long>(averageBytes), rounds, root.c_str());
    std::printf(
        "%-7s %8s %9s %9s %9s %10s %9s %7s\n", "tree", "files", "MB", "cp -r s", "ours s", "files/s", "MB/s", "ratio");

    const std::string cli = ZP_CLI_PROGRAM;
    for (const bool nested : {false, true}) {
        const Tree tree
            = BuildTree(nested ? "nested" : "flat", root + (nested ? "/nested" : "/flat"), files, averageBytes, nested);
        const std::string copy = root + "/copy";
        const std::string dest = root + "/dest";
        const std::string cpCommand = "cp -r '" + tree.path + "' '" + copy + "'";
        const std::vector<std::string> ourArgs
            = {cli, "--quiet", "--pacs", "HIPAX", "--source", tree.path, "--dest", dest, "--temp", root + "/temp"};

        bench::TimeCommand(cpCommand); // warm-up: both commands then read from the page cache
        fs::remove_all(copy);
        std::vector<double> cpTimes, ourTimes;
        for (int r = 0; r < rounds; ++r) {
            cpTimes.push_back(bench::TimeCommand(cpCommand));
            fs::remove_all(copy);
            fs::create_directories(dest);
            ourTimes.push_back(bench::RunProgram(ourArgs).seconds);
            if (CountFiles(dest) != tree.files) {
                std::fprintf(stderr, "the migration wrote %llu files, expected %llu\n",
                    static_cast<unsigned long long>(CountFiles(dest)), static_cast<unsigned long long>(tree.files));
                return 1;
            }
            fs::remove_all(dest);
        }
        const double cpTime = bench::Median(cpTimes);
        const double ourTime = bench::Median(ourTimes);
        const double megabytes = static_cast<double>(tree.bytes) / 1e6;
        std::printf("%-7s %8llu %9.1f %9.3f %9.3f %10.0f %9.1f %7.2f\n", tree.name.c_str(),
            static_cast<unsigned long long>(tree.files), megabytes, cpTime, ourTime,
            static_cast<double>(tree.files) / ourTime, megabytes / ourTime, ourTime / cpTime);
        fs::remove_all(tree.path);
    }
    fs::remove_all(root);
    std::printf("ratio = our wall time / cp -r wall time (median of %d rounds); target: at most 1.5\n", rounds);
    return 0;
}
