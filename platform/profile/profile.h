#pragma once
// Private-profile (INI) files with the semantics of the Windows calls:
// section and key names compare without regard to case, the first match wins,
// a new section is appended at the end of the file and a new key at the end of
// its section, values are trimmed of blanks and tabs and lose quotes that
// enclose the whole value, and reads truncate to the caller's buffer size.
// Reads accept LF and CRLF; writes keep the file's line ends (CRLF for a new
// file). Every save replaces the file atomically. Parsed files are cached per
// path and re-read when the file changes on disk.

#include "platform/profile/atomic_file.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace profile {

// The parsed content of one INI file, kept line for line so that a save
// reproduces everything it did not change.
class Document {
    struct Impl;

public:
    Document();
    ~Document();
    Document(const Document&);
    Document& operator=(const Document&);
    Document(Document&&) noexcept;
    Document& operator=(Document&&) noexcept;

    static Document parse(std::string_view text);
    std::string serialize() const;

    // GetPrivateProfileString: the value, or defaultValue when the section or
    // key is missing; at most bufferSize - 1 characters (bufferSize 0 gives "").
    std::string getString(std::string_view section, std::string_view key, std::string_view defaultValue,
                          std::size_t bufferSize) const;
    // GetPrivateProfileInt: leading blanks, an optional sign and the leading
    // decimal digits of the value; defaultValue when missing or empty.
    int getInt(std::string_view section, std::string_view key, int defaultValue) const;
    // GetPrivateProfileString with a null key: the key names of the first
    // matching section, in file order, as they fit into a buffer of bufferSize
    // bytes of NUL-terminated names ended by an empty name; the last name that
    // does not fit whole is truncated, the rest are left out.
    std::vector<std::string> sectionKeys(std::string_view section, std::size_t bufferSize) const;
    bool hasSection(std::string_view section) const;

    // getString and getInt for many keys of one section, found once. Valid
    // while the document lives unedited.
    class SectionReader {
    public:
        std::string getString(std::string_view key, std::string_view defaultValue,
                              std::size_t bufferSize) const;
        int getInt(std::string_view key, int defaultValue) const;

    private:
        friend class Document;
        SectionReader(const Impl* impl, std::uint64_t section) : m_impl(impl), m_section(section) {}
        const Impl* m_impl;
        std::uint64_t m_section; // 0: no such section
    };
    SectionReader section(std::string_view name) const;

    // WritePrivateProfileString with a value, with a null value, with a null key.
    // Line breaks in names and values are written as blanks, and a write that
    // could not be read back as written is left out (see writeString below).
    void writeString(std::string_view section, std::string_view key, std::string_view value);
    void deleteKey(std::string_view section, std::string_view key);
    void deleteSection(std::string_view section);

private:
    // Copies share the parsed content; the first edit of a shared copy
    // gives it its own.
    std::shared_ptr<Impl> m_impl;
    Impl& mutableImpl();
    friend struct DocumentAccess;
};

// A section or key name that reads back as written, in this layer and in the
// Windows profile code: not empty, no control character, no '=', '[' or ']',
// no ';' first and no blank first or last.
bool isPortableName(std::string_view name);

// Loads through the cache; a missing or unreadable file, or one that is not a
// regular file (a FIFO, a device, a directory), gives an empty document.
Document load(const std::string& path);
// Replaces the file atomically (temporary file in the same directory, fsync,
// rename) and refreshes the cache. False when the file could not be written;
// the old file is then left as it was.
bool save(const std::string& path, const Document& doc);

// replaceFilesAtomically that also forgets the cached documents of the files.
WriteResult writeFilesAtomically(const std::vector<std::pair<std::string, std::string>>& files);

// Single calls on a file path, each one load and (for writes) one save. A
// write that changes nothing saves nothing; writes report false when the file
// could not be saved, and for an empty section or key name or a key that could
// not be read back as written (a name holding '=', or whose line would read
// as a comment or a section header).
std::string getString(const std::string& path, std::string_view section, std::string_view key,
                      std::string_view defaultValue, std::size_t bufferSize);
int getInt(const std::string& path, std::string_view section, std::string_view key, int defaultValue);
std::vector<std::string> sectionKeys(const std::string& path, std::string_view section,
                                     std::size_t bufferSize);
bool writeString(const std::string& path, std::string_view section, std::string_view key,
                 std::string_view value);
bool deleteKey(const std::string& path, std::string_view section, std::string_view key);
bool deleteSection(const std::string& path, std::string_view section);

// Edits collected in memory and written as one atomic replacement on commit();
// nothing is written when the transaction is destroyed without a commit.
class Transaction {
public:
    explicit Transaction(std::string path);
    Document& doc() { return m_doc; }
    const std::string& path() const { return m_path; }
    bool commit();

private:
    std::string m_path;
    Document m_doc;
};

} // namespace profile
