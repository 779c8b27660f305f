#include "vardel/store/managed_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>

const std::string& ServerIpAddress(const ManagedServer& server) {
    return server.ipAddress.empty() ? server.ip6Address : server.ipAddress;
}

bool IsIp6Address(const std::string& text) {
    in6_addr address{};
    return inet_pton(AF_INET6, text.c_str(), &address) == 1;
}

std::string AddressKey(const std::string& text) {
    in6_addr address{};
    char canonical[INET6_ADDRSTRLEN];
    if (text.find(':') != std::string::npos && inet_pton(AF_INET6, text.c_str(), &address) == 1 &&
        inet_ntop(AF_INET6, &address, canonical, sizeof canonical) != nullptr)
        return canonical;
    std::string out = text;
    for (char& c : out)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return out;
}

bool SameAddress(const std::string& a, const std::string& b) {
    return AddressKey(a) == AddressKey(b);
}

std::int32_t NosCodeFromText(const std::string& text) {
    if (text == "NetWare")
        return kNosNetWare;
    if (text == "NT")
        return kNosNT;
    if (text == "SCO")
        return kNosSCO;
    return kNosNone;
}

const char* NosTextFromCode(std::int32_t code) {
    switch (code) {
    case kNosNetWare:
        return "NetWare";
    case kNosNT:
        return "NT";
    case kNosSCO:
        return "SCO";
    default:
        return nullptr;
    }
}
