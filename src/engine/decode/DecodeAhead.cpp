#include "engine/decode/DecodeAhead.h"

#include "engine/decode/Decompression.h"

namespace engine {

namespace {

std::unique_ptr<DecodeAhead::Result> Decode(DiscReader& reader)
{
    auto result = std::make_unique<DecodeAhead::Result>();
    result->source = reader.PeekNextWhole();
    if (!result->source || result->source->Whole().size() > DecodeAhead::MaxInputBytes) {
        result->source.reset(); // the run decodes it at its turn
        return result;
    }
    // A fresh buffer of the image's size for every image: one kept from an earlier image would grow
    // by doubling whenever a larger one came, and hold the largest size ever seen.
    try {
        result->error = DecompressBytes(result->source->Whole(), result->decoded, DecodeAhead::MaxOutputBytes);
    } catch (const std::bad_alloc&) {
        result->source.reset();
    }
    return result;
}

} // namespace

DecodeAhead::~DecodeAhead()
{
    Cancel();
}

void DecodeAhead::Start(DiscReader& reader)
{
    if (m_job.valid()) {
        return;
    }
    try {
        m_job = std::async(std::launch::async, Decode, std::ref(reader));
    } catch (const std::system_error&) {
        // No thread to be had: the run decodes every file itself.
    }
}

std::unique_ptr<DecodeAhead::Result> DecodeAhead::Take(const DiscReader::File* file)
{
    if (!m_job.valid()) {
        return nullptr;
    }
    std::unique_ptr<Result> result = m_job.get();
    return file != nullptr && result->source.get() == file ? std::move(result) : nullptr;
}

void DecodeAhead::Cancel()
{
    if (m_job.valid()) {
        m_job.get();
    }
}

} // namespace engine
