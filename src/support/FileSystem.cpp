#include "support/FileSystem.h"

#include <algorithm>
#include <filesystem>

namespace support {

namespace {

class FileErrorCategoryImpl : public std::error_category
{
public:
    const char* name() const noexcept override { return "zet-pelta file"; }
    std::string message(int value) const override
    {
        switch (static_cast<FileError>(value)) {
        case FileError::NotARegularFile:
            return "Not a regular file.";
        case FileError::SizeChanged:
            return "File changed its size while it was copied.";
        }
        return "Unknown file error.";
    }
};

} // namespace

const std::error_category& FileErrorCategory()
{
    static const FileErrorCategoryImpl category;
    return category;
}

std::error_code make_error_code(FileError e)
{
    return {static_cast<int>(e), FileErrorCategory()};
}

int ErrorNumber(const std::error_code& error)
{
    const bool fromSystem = error.category() == std::generic_category() || error.category() == std::system_category();
    return fromSystem ? error.value() : -1;
}

std::string JoinPath(const std::string& folder, const std::string& name)
{
    if (!folder.empty() && folder.back() == '/') {
        return folder + name;
    }
    return folder + "/" + name;
}

std::string ShownPath(std::string path)
{
    if constexpr (std::filesystem::path::preferred_separator != '/') {
        std::replace(path.begin(), path.end(), '/', static_cast<char>(std::filesystem::path::preferred_separator));
    }
    return path;
}

std::filesystem::path PathOf(std::string_view utf8)
{
    return std::filesystem::path(std::u8string_view(reinterpret_cast<const char8_t*>(utf8.data()), utf8.size()));
}

std::string Utf8Of(const std::filesystem::path& path)
{
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

std::string AbsolutePath(const std::string& path)
{
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(PathOf(path), error);
    return error || path.empty() ? path : Utf8Of(absolute.lexically_normal());
}

std::error_code CopyFileAtomic(const std::string& source, const std::string& target, Replace replace, Sha256& digest)
{
    AtomicFile out;
    if (auto error = out.CreateAsCopy(source, target, digest).error) {
        return error;
    }
    return out.Commit(replace);
}

std::error_code ReadWholeFile(const std::string& path, std::string& content)
{
    InputFile in;
    std::size_t length = 0;
    auto error = in.Open(path);
    if (!error) {
        error = in.ReadRest(content, length);
    }
    content.resize(error ? 0 : length);
    return error;
}

std::string NameOf(const std::string& path)
{
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string FolderOf(const std::string& path)
{
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

} // namespace support
