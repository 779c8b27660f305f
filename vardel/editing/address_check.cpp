#include "vardel/editing/address_check.h"

#include <arpa/inet.h>
#include <climits>
#include <netinet/in.h>
#include <vector>

namespace {

std::vector<std::string> tokens(const std::string& text, char separator) {
    std::vector<std::string> out;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find(separator, start);
        if (end == std::string::npos)
            end = text.size();
        if (end > start)
            out.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return out;
}

// As atoi: leading white space, an optional sign, then digits up to the first
// non-digit. Saturates instead of overflowing, which no valid token reaches.
long long atoiValue(const std::string& token) {
    std::size_t i = 0;
    while (i < token.size() && (token[i] == ' ' || (token[i] >= '\t' && token[i] <= '\r')))
        ++i;
    bool negative = false;
    if (i < token.size() && (token[i] == '+' || token[i] == '-'))
        negative = token[i++] == '-';
    long long value = 0;
    for (; i < token.size() && token[i] >= '0' && token[i] <= '9'; ++i)
        if (value < LLONG_MAX / 10 - 10)
            value = value * 10 + (token[i] - '0');
    return negative ? -value : value;
}

bool isHex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

} // namespace

int IsValidIpAddress(const std::string& text) {
    const std::vector<std::string> parts = tokens(text, '.');
    if (parts.size() != 4)
        return -1;
    for (std::size_t n = 0; n < parts.size(); ++n) {
        long long value = 0;
        if (parts[n] != "0") {
            value = atoiValue(parts[n]);
            if (value == 0)
                return -1;
        }
        const long long low = n == 0 ? 1 : 0;
        const long long high = n == 0 ? 223 : 255;
        if (value < low || value > high)
            return -1;
    }
    return 0;
}

int IsValidIp6Address(const std::string& text) {
    in6_addr a{};
    if (text.empty() || text.size() >= INET6_ADDRSTRLEN || inet_pton(AF_INET6, text.c_str(), &a) != 1)
        return -1;
    if (IN6_IS_ADDR_UNSPECIFIED(&a) || IN6_IS_ADDR_MULTICAST(&a) || IN6_IS_ADDR_LINKLOCAL(&a) ||
        IN6_IS_ADDR_V4MAPPED(&a))
        return -1;
    return 0;
}

int IsValidIpxAddress(const std::string& text) {
    const std::vector<std::string> parts = tokens(text, '-');
    if (parts.size() != 2 || parts[0].size() != 8 || parts[1].size() != 12)
        return -1;
    for (const std::string& part : parts)
        for (char c : part)
            if (!isHex(c))
                return -1;
    return 0;
}
