#pragma once
// Replacing files atomically: the new bytes go to a temporary file beside the
// target, are synced and renamed over it, then the directory is synced. The
// mode (and, where permitted, the owner) of an existing file is kept and a
// symbolic link is written through. A failure leaves the old file untouched
// and no temporary file behind, and says which step failed and why.

#include <chrono>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <utility>
#include <vector>

namespace profile {

struct WriteResult {
    int error = 0;         // errno of the failed step; 0 when the file was replaced
    const char* step = ""; // the failed step: "open", "write", "sync", "rename"...
    std::string path;      // the file it failed on

    explicit operator bool() const { return error == 0; }
    // "cannot rename /dir/file: Permission denied"; empty on success.
    std::string reason() const;
};

// Replaces the file at path with bytes. written, when given, receives the new
// file's status.
WriteResult writeFileAtomically(const std::string& path, std::string_view bytes,
                                struct stat* written = nullptr);

// writeFileAtomically for many files (path, bytes) at the cost of one sync per
// file system: all are written beside their targets and synced before the
// first is renamed into place. No file is replaced when the writing fails, and
// the files before a failed rename stay replaced.
WriteResult replaceFilesAtomically(const std::vector<std::pair<std::string, std::string>>& files);

// Removes the temporary files that replacements of path killed mid-write left
// behind, those last modified more than olderThan ago. Returns how many.
int removeLeftoverTemporaries(const std::string& path, std::chrono::seconds olderThan);

} // namespace profile
