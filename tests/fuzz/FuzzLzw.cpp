// Unix compress (LZW) input: any bytes after the magic.
#include "FuzzDecoder.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1) {
        return 0;
    }
    const std::size_t chunk = 1 + data[0] % 64;
    std::string input = "\x1f\x9d";
    input.append(reinterpret_cast<const char*>(data) + 1, size - 1);
    CheckDecoder(input, chunk);
    return 0;
}
