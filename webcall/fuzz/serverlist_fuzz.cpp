// Checks fetched bodies of any bytes: the verdict never crashes, an accepted
// list still reads as one after the console rewrites it, and the console's
// read of its server keys stays within its buffer.
#include "platform/profile/profile.h"
#include "webcall/exchange.h"

#include <cstdio>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size) {
    const std::string_view body(reinterpret_cast<const char*>(data), size);
    if (!webcall::isServerList(body))
        return 0;
    profile::Document doc = profile::Document::parse(body);
    std::size_t used = 1;
    for (const auto& key : doc.sectionKeys("SERVERS", 4096))
        used += key.size() + 1;
    doc.writeString("SERVERS", "FS1", "1");
    const std::string rewritten = doc.serialize();
    if (used > 4096 || rewritten.find('\0') != std::string::npos ||
        !profile::Document::parse(rewritten).hasSection("SERVERS")) {
        std::fprintf(stderr, "accepted list broken by a rewrite\n");
        std::abort();
    }
    return 0;
}
