#include "tests/support/testsupport.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <unistd.h>

namespace testsupport {

QWidget* findControl(QWidget* root, int id) {
    if (!root)
        return nullptr;
    if (root->property("ctlId").toInt() == id)
        return root;
    const auto children = root->findChildren<QWidget*>();
    for (QWidget* w : children)
        if (w->property("ctlId").isValid() && w->property("ctlId").toInt() == id)
            return w;
    return nullptr;
}

TempDir::TempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "vardel-test-XXXXXX").string();
    if (!mkdtemp(tmpl.data()))
        throw std::runtime_error("mkdtemp failed");
    m_path = tmpl + "/";
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(m_path, ec);
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void writeFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

std::string sourcePath(const std::string& relative) {
    const char* root = std::getenv("VARDEL_SOURCE_DIR");
    return std::string(root ? root : VARDEL_SOURCE_DIR_FALLBACK) + "/" + relative;
}

void copyProgramData(const std::string& directory) {
    namespace fs = std::filesystem;
    for (const auto& entry : fs::directory_iterator(sourcePath("vardel/resources/data")))
        fs::copy_file(entry.path(), directory + entry.path().filename().string());
}

} // namespace testsupport
