#include "engine/decode/DecodeAhead.h"

#include "engine/decode/Decompression.h"

namespace engine {

namespace {

std::unique_ptr<DecodeAhead::Result> Decode(std::unique_ptr<DecodeAhead::Result> result, const std::string& path)
{
    result->usable = false; // until it is decoded; the run opens and reads such a file itself
    result->file.emplace();
    if (result->file->Open(path) || result->file->SizeAtOpen() > DecodeAhead::MaxInputBytes
        || result->file->ReadRest(result->buffer, result->length)) {
        return result;
    }
    result->decoded.clear();
    try {
        result->error = DecompressWhole(
            result->Compressed(),
            [&decoded = result->decoded](std::string_view bytes) {
                decoded.append(bytes);
                return std::error_code {};
            },
            DecodeAhead::MaxOutputBytes);
    } catch (const std::bad_alloc&) {
        return result;
    }
    result->usable = true;
    return result;
}

} // namespace

DecodeAhead::~DecodeAhead()
{
    Cancel();
}

void DecodeAhead::Start(const std::string& path)
{
    if (m_job.valid()) {
        return;
    }
    std::unique_ptr<Result> result = m_spare ? std::move(m_spare) : std::make_unique<Result>();
    m_path = path;
    try {
        m_job = std::async(std::launch::async, Decode, std::move(result), path);
    } catch (const std::system_error&) {
        // No thread to be had: the run decodes every file itself.
    }
}

std::unique_ptr<DecodeAhead::Result> DecodeAhead::Take(const std::string& path)
{
    if (!m_job.valid()) {
        return nullptr;
    }
    std::unique_ptr<Result> result = m_job.get();
    if (!result->usable || m_path != path || !result->file->IsStill(path)) {
        Recycle(std::move(result));
        return nullptr;
    }
    return result;
}

void DecodeAhead::Recycle(std::unique_ptr<Result> result)
{
    if (result) {
        result->file.reset();
        m_spare = std::move(result);
    }
}

void DecodeAhead::Cancel()
{
    if (m_job.valid()) {
        Recycle(m_job.get());
    }
}

} // namespace engine
