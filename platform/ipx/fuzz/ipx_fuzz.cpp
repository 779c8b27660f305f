// Decodes arbitrary bytes as a carried datagram: an accepted one must be
// exactly what the encoder makes of its fields, and nothing is read outside
// the input.
#include "platform/ipx/ipx.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

void check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "invariant failed: %s\n", what);
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    ipx::Header header;
    const std::uint8_t* data = nullptr;
    std::size_t dataSize = 0;
    const ipx::Decode result = ipx::decode(bytes, size, header, data, dataSize);
    if (result != ipx::Decode::Ok) {
        check(size < ipx::kHeaderSize || size > ipx::kMaxPacket || size < 4 ||
                  (bytes[2] << 8 | bytes[3]) != static_cast<int>(size) || bytes[0] != 0xFF ||
                  bytes[1] != 0xFF,
              "a refused datagram is malformed");
        return 0;
    }
    check(size >= ipx::kHeaderSize && size <= ipx::kMaxPacket, "accepted size in bounds");
    check(header.length == size && dataSize + ipx::kHeaderSize == size, "lengths agree");
    check(data == bytes + ipx::kHeaderSize, "data follows the header");
    const std::vector<std::uint8_t> again = ipx::encode(header, data, dataSize);
    check(again.size() == size && std::memcmp(again.data(), bytes, size) == 0, "decode and encode agree");
    // Text forms of addresses must parse back too.
    char text[22];
    std::snprintf(text, sizeof text, "%02X%02X%02X%02X:%02X%02X%02X%02X%02X%02X", header.source.network[0],
                  header.source.network[1], header.source.network[2], header.source.network[3],
                  header.source.node[0], header.source.node[1], header.source.node[2], header.source.node[3],
                  header.source.node[4], header.source.node[5]);
    const auto parsed = ipx::parseAddress(text);
    check(parsed && std::memcmp(parsed->node, header.source.node, 6) == 0 &&
              std::memcmp(parsed->network, header.source.network, 4) == 0,
          "an address prints and parses back");
    (void)ipx::isBroadcastNode(header.destination.node);
    return 0;
}
