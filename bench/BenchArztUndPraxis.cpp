// Migration speed and memory of an "Arzt und Praxis" disc (gzip-compressed containers) next to the
// floor of what it must do: `gzip -dc` of the same files plus `cp -r` of the tree, measured in the
// same run with the files in the page cache. Prints medians and ratios; asserts nothing.
//
//   bench_arzt_und_praxis [--small N] [--large N] [--rounds R] [--dir PARENT]
//     N images of 256 KiB (default 4000) and of 4 MiB (default 400)
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "BenchUtil.h"
#include "SampleDisc.h"

namespace fs = std::filesystem;

int main(int argc, char** argv)
{
    const auto options
        = bench::ParseOptions(argc, argv, {{"small", "4000"}, {"large", "400"}, {"rounds", "3"}, {"dir", ""}});
    const std::uint64_t small = bench::Number(options.at("small")), large = bench::Number(options.at("large"));
    const int rounds = std::max(1, static_cast<int>(bench::Number(options.at("rounds"))));
    const std::string root = bench::MakeWorkFolder(options.at("dir"));
    const std::string src = root + "/disc", dest = root + "/dest", temp = root + "/temp", copy = root + "/copy";
    fs::create_directories(temp);

    std::uint64_t compressedBytes = 0, imageBytes = 0, largestImage = 0;
    const std::uint64_t images = small + large;
    for (std::uint64_t i = 0; i < images; ++i) {
        const std::size_t pixels = i < small ? 256 * 1024 : 4 * 1024 * 1024;
        const std::string dicom = corpus::MakeDicom(i, pixels);
        const std::string gz = corpus::Gzip(corpus::WrapContainer(dicom, i));
        char name[64];
        std::snprintf(name, sizeof name, "/PAT%03llu/IMG%05llu.Z", static_cast<unsigned long long>(i / 50),
            static_cast<unsigned long long>(i));
        fs::create_directories(fs::path(src + name).parent_path());
        std::ofstream(src + name, std::ios::binary).write(gz.data(), static_cast<std::streamsize>(gz.size()));
        compressedBytes += gz.size();
        imageBytes += dicom.size();
        largestImage = std::max<std::uint64_t>(largestImage, dicom.size());
    }
    std::printf("Arzt und Praxis migration: %llu images (%llu x 256 KiB, %llu x 4 MiB pixel data), "
                "%.1f MB compressed, %.1f MB of DICOM, %d rounds, in %s\n",
        static_cast<unsigned long long>(images), static_cast<unsigned long long>(small),
        static_cast<unsigned long long>(large), static_cast<double>(compressedBytes) / 1e6,
        static_cast<double>(imageBytes) / 1e6, rounds, root.c_str());

    const std::string cpCommand = "cp -r '" + src + "' '" + copy + "'";
    const std::string gzipCommand = "find '" + src + "' -type f -print0 | xargs -0 gzip -dc >/dev/null";
    const std::vector<std::string> ours
        = {ZP_CLI_PROGRAM, "--quiet", "--pacs", "Arzt und Praxis", "--source", src, "--dest", dest, "--temp", temp};
    bench::TimeCommand("cat $(find '" + src + "' -type f) >/dev/null"); // into the page cache

    std::vector<double> cpTimes, gzipTimes, ourTimes;
    long peakKiB = 0;
    for (int r = 0; r < rounds; ++r) {
        cpTimes.push_back(bench::TimeCommand(cpCommand));
        fs::remove_all(copy);
        gzipTimes.push_back(bench::TimeCommand(gzipCommand));
        fs::create_directories(dest);
        const bench::ProgramRun run = bench::RunProgram(ours);
        std::uint64_t written = 0;
        for (const auto& entry : fs::directory_iterator(dest)) {
            written += entry.is_regular_file() ? 1 : 0;
        }
        if (run.status != 0 || written != images) {
            std::fprintf(stderr, "the migration ended with status %d and %llu files, expected %llu\n", run.status,
                static_cast<unsigned long long>(written), static_cast<unsigned long long>(images));
            return 1;
        }
        ourTimes.push_back(run.seconds);
        peakKiB = std::max(peakKiB, run.maxResidentKiB);
        fs::remove_all(dest);
    }
    fs::remove_all(root);

    const double cpTime = bench::Median(cpTimes), gzipTime = bench::Median(gzipTimes),
                 ourTime = bench::Median(ourTimes);
    const double floor = cpTime + gzipTime;
    std::printf("%-28s %9s\n", "", "seconds");
    std::printf("%-28s %9.3f\n", "cp -r of the tree", cpTime);
    std::printf("%-28s %9.3f\n", "gzip -dc of every file", gzipTime);
    std::printf("%-28s %9.3f\n", "floor (sum)", floor);
    const double imageMiB = static_cast<double>(largestImage) / 1048576.0;
    std::printf("%-28s %9.3f   %.1f MB/s of DICOM written\n", "zet-pelta-cli", ourTime,
        static_cast<double>(imageBytes) / 1e6 / ourTime);
    std::printf("ratio to the floor: %.2f (target: at most 1.3)\n", ourTime / floor);
    std::printf("peak resident memory: %.1f MiB; largest image %.1f MiB + 64 MiB = %.1f MiB allowed\n",
        static_cast<double>(peakKiB) / 1024.0, imageMiB, imageMiB + 64);
    return 0;
}
