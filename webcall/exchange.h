#pragma once
// The exchange behind httpTransaction, with the trusted CA file and the
// time-outs as parameters.

#include <cstddef>
#include <string>
#include <string_view>

namespace webcall {

// A server list, fetched or written back, stays below this size.
constexpr std::size_t kMaxListSize = 16 * 1024 * 1024;

struct Call {
    std::string serverName;
    int port = 80;
    std::string userName;
    std::string password;
    int mode = 0;
    std::string firstText;
    std::string secondText;
    bool useSsl = false;
};

struct Limits {
    long connectMs = 10'000; // connecting to the server
    long totalMs = 60'000;   // the whole call, every request of it
};

// Runs one call; the result codes of webcall.h. extraCaFile, when it names an
// existing file, adds its certificates to the system's trusted CAs.
int transaction(const Call& call, const std::string& extraCaFile, const Limits& limits = {});

// True when body is a whole server list: below kMaxListSize, without NUL
// bytes, every line ended and each blank, a comment, a section header or a
// key with '=' in a section; a [SERVERS] or a [ServerInfo] section; every
// name of [SERVERS] portable (profile::isPortableName) with its own section;
// and no positive [ServerInfo] NumServers without a name in [SERVERS].
bool isServerList(std::string_view body);

// Beside the console file: the ETag of its last fetch or write-back, and the
// list a refused write-back would have sent.
std::string etagPath(const std::string& iniPath);
std::string rejectedPath(const std::string& iniPath);

} // namespace webcall
