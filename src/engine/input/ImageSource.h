#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "engine/input/DecodeAhead.h"
#include "engine/input/DiscReader.h"
#include "support/InputFile.h"

namespace engine {

// The compressed files of a run, each as it is at its turn. The disc reader reads them ahead in the
// walk's order, and the file after the one in hand is decoded ahead on a thread that lives as long as
// the run; a file the reader does not have, or one that changed since it was read (or that the reader
// could not open), is read here instead, so the run always gets the file as it is now. A file up to
// WholeFileLimit comes whole, a larger one as a stream of pieces.
class ImageSource
{
public:
    class Image;
    // A file at its turn, or the error that reading it met.
    struct Taken
    {
        std::unique_ptr<Image> image;
        std::error_code error;
    };

    ImageSource() = default;
    ~ImageSource();
    ImageSource(const ImageSource&) = delete;
    ImageSource& operator=(const ImageSource&) = delete;

    // The files the run will reach, in order: reading them starts now.
    void ReadAhead(std::vector<std::string> paths);
    // Ends reading and decoding ahead, so that nothing reads on after the run.
    void Stop();
    // The file at path. Only one is in hand at a time: the image is given up before the next Take.
    Taken Take(const std::string& path);
    // How many files were read here while the reader was reading (it did not have them, or they had
    // changed since it read them); starts again from 0.
    std::int64_t TakeReadByItself();

private:
    std::unique_ptr<DiscReader> m_reader;
    DecodeAhead m_ahead;
    std::string m_whole; // a file read here whole; its memory serves the next one
    std::int64_t m_readByItself = 0;
};

// A compressed file in hand: its bytes whole or a stream of pieces and, when it was decoded ahead, the
// decoder's output. Its memory goes back to the reader with it.
class ImageSource::Image
{
public:
    ~Image();
    Image(const Image&) = delete;
    Image& operator=(const Image&) = delete;

    const support::FileTime& Modified() const { return m_input->ModifiedAtOpen(); }
    // The file's bytes, when it is held whole.
    std::optional<std::string_view> Whole() const { return m_whole; }
    // The decoder's output and verdict, when the file was decoded ahead.
    const DecodeAhead::Result* Decoded() const { return m_decoded.get(); }
    // The next piece of a file that streams; empty at its end.
    std::error_code NextPiece(std::string& piece);
    // The error that ended reading a file that streams; none while it reads.
    std::error_code ReadError() const { return m_readError; }

private:
    friend class ImageSource;
    Image() = default;

    DiscReader* m_reader = nullptr; // the one that read m_read
    std::shared_ptr<DiscReader::File> m_read; // as the reader has it, or nothing
    std::unique_ptr<DecodeAhead::Result> m_decoded; // holds m_read too
    support::InputFile m_own; // read here, when the reader did not have it
    const support::InputFile* m_input = nullptr; // one of the two
    std::optional<std::string_view> m_whole;
    std::error_code m_readError;
};

} // namespace engine
