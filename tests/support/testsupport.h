#pragma once
// Helpers shared by the tests of every folder.

#include <QWidget>
#include <string>

namespace testsupport {

// The first descendant of root whose dynamic property ctlId equals id.
QWidget* findControl(QWidget* root, int id);
template <typename T> T* control(QWidget* root, int id) {
    return qobject_cast<T*>(findControl(root, id));
}

// A fresh program directory (trailing '/'), removed with the object.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return m_path; }
    std::string file(const std::string& name) const { return m_path + name; }

private:
    std::string m_path;
};

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& content);
// A file of the source tree, relative to its root.
std::string sourcePath(const std::string& relative);
// Copies the shipped data files (trap definitions, agents.ini, help pages)
// into a program directory (with its trailing '/').
void copyProgramData(const std::string& directory);

} // namespace testsupport
