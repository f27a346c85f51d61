#pragma once
// Config.ini in the Windows profile format, read and written one key at a time
// (the file is never held open). Integers accept "0x"/"0X" and "$" hexadecimal;
// texts are read up to 2047 bytes.
#include <string>
#include <string_view>

namespace quilora {

class ProfileFile {
public:
    explicit ProfileFile(std::string path) : path_(std::move(path)) {}
    const std::string& Path() const { return path_; }

    std::string ReadString(std::string_view section, std::string_view key, std::string_view def) const;
    int ReadInteger(std::string_view section, std::string_view key, int def) const;
    // Throw QuiloraError "Unable to write to <path>" when the write is refused, and then
    // leave the file as it was; a section, key or value holding a line break is refused.
    // The file is replaced as a whole, readable and writable by its owner only. A symbolic
    // link in its place stays a link: the file at the end of the chain is replaced.
    void WriteString(std::string_view section, std::string_view key, std::string_view value) const;
    void WriteInteger(std::string_view section, std::string_view key, int value) const;

private:
    std::string path_;
};

// Parses a profile integer; nullopt-like: returns false when it does not parse.
bool ParseProfileInteger(std::string_view text, int& out);

} // namespace quilora
