#include "engine/input/ImageSource.h"

#include <utility>

#include "engine/common/Limits.h"

namespace engine {

ImageSource::~ImageSource()
{
    Stop();
}

void ImageSource::ReadAhead(std::vector<std::string> paths)
{
    Stop();
    m_reader = std::make_unique<DiscReader>(std::move(paths));
}

void ImageSource::Stop()
{
    if (m_reader) {
        m_reader->Stop(); // first: a decode ahead may wait for the reader
    }
    m_ahead.Cancel();
    m_reader.reset();
}

std::int64_t ImageSource::TakeReadByItself()
{
    return std::exchange(m_readByItself, 0);
}

ImageSource::Taken ImageSource::Take(const std::string& path)
{
    std::unique_ptr<Image> image(new Image);
    std::shared_ptr<DiscReader::File> read = m_reader ? m_reader->Take(path) : nullptr;
    if (read && !read->Input().IsStill(path)) { // changed since, or the reader could not open it
        read.reset();
    }
    m_readByItself += m_reader && !read ? 1 : 0;
    image->m_decoded = m_ahead.Take(read.get());
    if (m_reader) {
        m_ahead.Start(*m_reader); // the next file, while the run handles this one
    }
    if (read) {
        image->m_reader = m_reader.get();
        image->m_read = read;
        image->m_input = &read->Input();
        if (read->IsWhole()) {
            if (read->Error()) {
                return {nullptr, read->Error()};
            }
            image->m_whole = read->Whole();
        }
        return {std::move(image), {}};
    }
    image->m_input = &image->m_own;
    if (auto error = image->m_own.Open(path)) {
        return {nullptr, error};
    }
    if (image->m_own.SizeAtOpen() <= WholeFileLimit) {
        std::size_t length = 0;
        if (auto error = image->m_own.ReadRest(m_whole, length)) {
            return {nullptr, error};
        }
        image->m_whole = std::string_view(m_whole.data(), length);
    }
    return {std::move(image), {}};
}

ImageSource::Image::~Image()
{
    // The decoded result holds the file too: the reader takes the file's memory back only once
    // nothing else does.
    m_decoded.reset();
    if (m_read) {
        m_reader->Recycle(std::move(m_read));
    }
}

std::error_code ImageSource::Image::NextPiece(std::string& piece)
{
    if (m_read) {
        m_readError = m_reader->NextPiece(*m_read, piece);
    } else {
        piece.resize(support::FilePieceBytes);
        std::size_t got = 0;
        m_readError = m_own.Read(piece, got);
        piece.resize(got);
    }
    return m_readError;
}

} // namespace engine
