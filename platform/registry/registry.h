#pragma once
// The console's one registry key, kept in a regedit export file (vardel.reg)
// in the program directory. A missing file, or a file without the key's
// section, is a missing key; this layer never creates the key. The file is read
// as regedit writes it (UTF-16LE with a byte-order mark) or as single-byte text,
// and written back in the encoding it was read in.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace registry {

inline constexpr std::string_view kConsoleKeyPath =
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvane\\Orv Corvanta Vardel\\ManagementServer";

class Key {
public:
    // RegOpenKeyEx of kConsoleKeyPath in the file; nullopt when the key is missing.
    static std::optional<Key> open(const std::string& regFilePath);

    // RegQueryInfoKey: bytes of the longest value's data, terminating NUL included.
    std::size_t longestValueLength() const;
    // RegQueryValueEx of a string value into a buffer of bufferSize bytes:
    // nullopt when the value is missing or does not fit.
    std::optional<std::string> read(std::string_view name, std::size_t bufferSize) const;
    // RegSetValueEx of REG_SZ with the given data length in bytes: the text is
    // stored up to dataLength - 1 characters.
    void write(std::string_view name, std::string_view text, std::size_t dataLength);
    // RegCloseKey: writes pending changes back (atomically); false when that failed.
    bool close();

private:
    Key() = default;
    std::string m_path;
    std::string m_fileText; // UTF-8 when the file is UTF-16
    bool m_utf16 = false;   // written back in the encoding it was read in
    bool m_dirty = false;
};

} // namespace registry
