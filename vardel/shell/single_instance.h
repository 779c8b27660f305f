#pragma once
// Only one console per user: a lock file named after the product title, held
// while the main window exists.

#include <QLockFile>
#include <memory>
#include <string>

class SingleInstance {
public:
    // lockDirectory: where the lock lives; empty = the user's runtime directory.
    explicit SingleInstance(const std::string& title, const std::string& lockDirectory = {});
    // False when another running console holds the lock (a stale lock of a
    // process that died is taken over).
    bool acquire();

private:
    std::unique_ptr<QLockFile> m_lock;
};
