#include "platform/progdir/progdir.h"

#include <filesystem>
#include <system_error>

namespace progdir {

std::string resolve(const std::string& exeDir, const std::string& installDir, const std::string& dataDir) {
    std::error_code ec;
    return std::filesystem::equivalent(exeDir, installDir, ec) ? dataDir : exeDir;
}

std::string programDirectory() {
    std::error_code ec;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec || !exe.has_parent_path())
        return "./";
    return resolve(exe.parent_path().string() + "/", VARDEL_INSTALL_DIR "/", VARDEL_DATA_DIR "/");
}

} // namespace progdir
