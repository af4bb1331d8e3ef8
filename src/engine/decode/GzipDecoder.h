#pragma once

#include <system_error>

namespace engine {

class ByteReader;
class OutputBuffer;

inline constexpr unsigned char GzipMagic[] = {0x1F, 0x8B};

// gzip through zlib, whose verdicts are gzip's, from the first magic byte: every member of a
// multi-member file, and a Unix compress member after them, as gzip reads such a file.
std::error_code DecodeGzip(ByteReader& in, OutputBuffer& out);

} // namespace engine
