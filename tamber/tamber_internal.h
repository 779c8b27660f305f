#pragma once
// Pure pieces of the ICMP echo library, shared by its source and its tests:
// the wait schedule of the single ping and the reading of a received datagram.
// Not part of the library's interface.

namespace tamber_internal {

// One select() wait, whole seconds and microseconds.
struct Wait {
    long sec;
    long usec;
    friend bool operator==(const Wait&, const Wait&) = default;
};

// The first wait of a single ping from its time-out in milliseconds: 0 gives
// 1 second; 1 to 999 give that many milliseconds; 1000 or more give the whole
// seconds and the rest in microseconds, but exactly 3 seconds when the whole
// seconds exceed 3. A negative time-out is taken as 0.
constexpr Wait firstWait(long timeoutMs) {
    if (timeoutMs <= 0) {
        return {1, 0};
    }
    if (timeoutMs < 1000) {
        return {0, timeoutMs * 1000};
    }
    const long sec = timeoutMs / 1000;
    if (sec > 3) {
        return {3, 0};
    }
    return {sec, (timeoutMs % 1000) * 1000};
}

// The wait after one that passed: s0 + 1 seconds when twice the current
// microseconds exceed one second, else twice the current whole seconds; no
// microseconds; at most 3 seconds. s0 is the whole seconds of the first wait.
constexpr Wait nextWait(Wait current, long s0) {
    long sec = current.usec * 2 > 1000000 ? s0 + 1 : current.sec * 2;
    if (sec > 3) {
        sec = 3;
    }
    return {sec, 0};
}

// The ICMP fields of a received IPv4 datagram. The header length comes from
// the IHL field (a fixed offset of 20 would misread a datagram
// carrying IP options). valid is false when the datagram is too short
// to hold an ICMP echo header after its IP header.
struct Datagram {
    bool valid;
    int type;
    int identifier;
    int sequence;
};

constexpr Datagram readDatagram(const unsigned char* bytes, long length) {
    if (length < 1 || (bytes[0] >> 4) != 4) {
        return {false, -1, -1, -1};
    }
    const long headerLength = (bytes[0] & 0x0f) * 4;
    if (headerLength < 20 || length < headerLength + 8) {
        return {false, -1, -1, -1};
    }
    const unsigned char* icmp = bytes + headerLength;
    return {true, icmp[0], icmp[4] << 8 | icmp[5], icmp[6] << 8 | icmp[7]};
}

} // namespace tamber_internal
