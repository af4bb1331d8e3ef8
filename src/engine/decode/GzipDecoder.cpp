#include "engine/decode/GzipDecoder.h"

#include <algorithm>
#include <climits>
#include <memory>
#include <string_view>
#include <zlib.h>

#include "engine/common/Limits.h"
#include "engine/decode/ByteReader.h"
#include "engine/decode/LzwDecoder.h"
#include "engine/decode/OutputBuffer.h"

namespace engine {

namespace {

std::error_code MapZlibError(const z_stream& stream)
{
    const std::string_view message = stream.msg ? stream.msg : "";
    if (message == "incorrect data check") {
        return DecompressError::CrcError;
    }
    if (message == "incorrect length check") {
        return DecompressError::LengthError;
    }
    return DecompressError::FormatViolated;
}

} // namespace

std::error_code DecodeGzip(ByteReader& in, OutputBuffer& out)
{
    z_stream stream {};
    if (inflateInit2(&stream, 15 + 16) != Z_OK) { // gzip wrapper only
        return std::make_error_code(std::errc::not_enough_memory);
    }
    const std::unique_ptr<z_stream, int (*)(z_stream*)> guard(&stream, inflateEnd);
    const auto chunk = std::make_unique_for_overwrite<unsigned char[]>(ChunkBytes);
    for (;;) {
        int result = Z_OK;
        // When inflate filled the whole chunk it may hold more output without needing more input;
        // only when it has given everything is the lack of input the end of the data.
        bool chunkFilled = false;
        while (result != Z_STREAM_END) {
            if (in.Available() == 0 && !chunkFilled) {
                if (auto error = in.Fill(1)) {
                    return error;
                }
                if (in.Available() == 0) {
                    return DecompressError::UnexpectedEnd;
                }
            }
            const auto offered = static_cast<uInt>(std::min<std::size_t>(in.Available(), UINT_MAX));
            stream.next_in = const_cast<Bytef*>(in.Data());
            stream.avail_in = offered;
            stream.next_out = chunk.get();
            stream.avail_out = static_cast<uInt>(ChunkBytes);
            result = inflate(&stream, Z_NO_FLUSH);
            chunkFilled = stream.avail_out == 0;
            in.Consume(offered - stream.avail_in);
            if (auto error = out.Put(chunk.get(), ChunkBytes - stream.avail_out)) {
                return error;
            }
            if (result == Z_MEM_ERROR) {
                return std::make_error_code(std::errc::not_enough_memory);
            }
            if (result != Z_OK && result != Z_STREAM_END && result != Z_BUF_ERROR) {
                return MapZlibError(stream);
            }
        }
        // What follows a complete member, read as gzip reads it: another member where magic bytes
        // stand (a compress member runs to the end of the input); one lone byte other than zero,
        // which gzip takes for a member cut short; anything else is padding or garbage and ignored.
        if (auto error = in.Fill(2)) {
            return error;
        }
        if (in.Available() == 1 && in.Data()[0] != 0) {
            return DecompressError::UnexpectedEnd;
        }
        if (in.Available() < 2 || in.Data()[0] != GzipMagic[0]) {
            return {};
        }
        if (in.Data()[1] == LzwMagic[1]) {
            in.Consume(2);
            return DecodeLzw(in, out);
        }
        if (in.Data()[1] != GzipMagic[1]) {
            return {};
        }
        inflateReset(&stream);
    }
}

} // namespace engine
