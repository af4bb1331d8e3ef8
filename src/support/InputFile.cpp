#include "support/InputFile.h"

#include <algorithm>

#include "support/FileSystem.h"

namespace support {

InputFile::~InputFile()
{
    Close();
}

std::error_code InputFile::ReadRest(std::string& buffer, std::size_t& length, const std::function<bool()>& stopped)
{
    length = 0;
    for (;;) {
        // Room for the whole file and one byte more, which tells its end without another call.
        const std::size_t wanted = std::max<std::size_t>(static_cast<std::size_t>(m_size) + 1, length * 2);
        if (buffer.size() < wanted) {
            buffer.resize(wanted);
        }
        std::size_t got = 0;
        const std::size_t room = buffer.size() - length;
        if (auto error = Read({buffer.data() + length, stopped ? std::min(room, FilePieceBytes) : room}, got)) {
            return error;
        }
        if (got == 0) {
            break;
        }
        length += got;
        if (stopped && stopped()) {
            return std::make_error_code(std::errc::operation_canceled);
        }
    }
    if (length < m_size) {
        return FileError::SizeChanged; // the file shrank while it was read
    }
    return {};
}

} // namespace support
