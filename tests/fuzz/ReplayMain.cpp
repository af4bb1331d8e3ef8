// Runs a fuzz target over stored inputs without libFuzzer: every file in the folders given, so the
// normal build and CI replay the seed corpus and every crash found so far.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <new>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

// An input that makes the code ask for more than this at once fails its replay, as libFuzzer's malloc
// limit makes it fail while fuzzing: a length field must never decide how much memory is taken. On
// Linux such a request succeeds untouched and would pass unseen; a Windows PC commits it. The
// sanitizers' build has its own limit (scripts/sanitize.sh) and keeps its own allocator.
#if !defined(__SANITIZE_ADDRESS__) && !defined(ZP_SANITIZED)
namespace {

constexpr std::size_t MaxAllocation = std::size_t {512} << 20;

void* Allocate(std::size_t size)
{
    if (size > MaxAllocation) {
        std::fprintf(stderr, "replay: an allocation of %zu bytes at once\n", size);
        std::abort();
    }
    return std::malloc(size == 0 ? 1 : size);
}

} // namespace

void* operator new(std::size_t size)
{
    if (void* memory = Allocate(size)) {
        return memory;
    }
    throw std::bad_alloc();
}
void* operator new[](std::size_t size)
{
    return operator new(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    return Allocate(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept
{
    return Allocate(size);
}
void operator delete(void* memory) noexcept
{
    std::free(memory);
}
void operator delete[](void* memory) noexcept
{
    std::free(memory);
}
void operator delete(void* memory, std::size_t) noexcept
{
    std::free(memory);
}
void operator delete[](void* memory, std::size_t) noexcept
{
    std::free(memory);
}
#endif

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
