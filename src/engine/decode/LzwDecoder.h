#pragma once

#include <system_error>

namespace engine {

class ByteReader;
class OutputBuffer;

inline constexpr unsigned char LzwMagic[] = {0x1F, 0x9D};

// Unix compress (LZW) from after its two magic bytes to the end of the input (the format has no end
// marker), byte for byte as gunzip decodes it.
std::error_code DecodeLzw(ByteReader& in, OutputBuffer& out);

} // namespace engine
