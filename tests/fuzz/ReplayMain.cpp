// Runs a fuzz target over stored inputs without libFuzzer: every file in the folders given, so the
// normal build and CI replay the seed corpus and every crash found so far.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv)
{
    std::size_t count = 0;
    for (int i = 1; i < argc; ++i) {
        std::error_code missing; // no crash recorded yet for this target
        for (const auto& entry : std::filesystem::recursive_directory_iterator(argv[i], missing)) {
            if (!entry.is_regular_file()) {
                continue; // a sub-folder of seeds
            }
            std::ifstream in(entry.path(), std::ios::binary);
            const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            ++count;
            LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
        }
    }
    std::printf("%zu inputs replayed\n", count);
    return count > 0 ? 0 : 1;
}
