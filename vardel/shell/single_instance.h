#pragma once
// Only one console per user: a lock file named after the product title, held
// while the main window exists. Beside it the running console listens for a
// later start asking it to come forward.

#include <QLockFile>
#include <functional>
#include <memory>
#include <string>

class QLocalServer;

class SingleInstance {
public:
    // lockDirectory: where the lock lives; empty = the user's runtime directory.
    explicit SingleInstance(const std::string& title, const std::string& lockDirectory = {});
    ~SingleInstance();
    // False when another running console holds the lock (a stale lock of a
    // process that died is taken over).
    bool acquire();

    // Once acquired: raise runs on this thread for each later start's
    // request, with the desktop's activation token it passed (may be empty).
    bool listenForRaise(std::function<void(const std::string& activationToken)> raise);
    // From a refused start: asks the running console to come forward. False
    // when none listens.
    bool askToRaise(const std::string& activationToken);

private:
    std::unique_ptr<QLockFile> m_lock;
    QString m_socketPath;
    std::unique_ptr<QLocalServer> m_server;
};
