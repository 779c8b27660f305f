#pragma once
// IPX diagnostic echo library: is a host on an IPX network alive?
//
// A diagnostic request goes to the host's diagnostic socket (0x0456) over an
// IPX datagram socket; any datagram that comes back within the wait counts as
// the answer. The class is exported with C++ linkage and its field layout is
// part of the interface: callers allocate CQuillet objects themselves and
// construct them through the exported constructor. No member throws to its
// caller; no member produces error text.

#define QUILLET_API __attribute__((visibility("default")))

struct sockaddr;
namespace ipx {
struct sockaddr_ipx;
}

// The Windows Sockets names of the interface, on POSIX sockets.
typedef int SOCKET;
#ifndef INVALID_SOCKET
#define INVALID_SOCKET (-1)
#endif

class QUILLET_API CQuillet {
public:
    // Opens the IPX datagram socket; INVALID_SOCKET when the machine has no IPX.
    CQuillet();
    ~CQuillet();
    // Plain member-wise copy: the target then shares the source's socket (and
    // both destructors close it). Kept for the interface; the console never copies.
    CQuillet& operator=(const CQuillet&) = default;
    CQuillet(const CQuillet&) = delete;

    // Probes the host at an address text "NNNNNNNN-HHHHHHHHHHHH" (any one
    // separator; hex digits of either case; characters after the 21st ignored):
    // 1 when a datagram came back, else 0. attempts above 5 count as 5; wait is
    // in seconds, its whole part limited to 3. Text that is not of that form,
    // or attempts below 1, are a fault: a beep and 0.
    int QuilletByAddr(char* address, int attempts, float wait);

    SOCKET m_socket;
    char m_recvBuf[1514];
    char m_sendBuf[1514];

protected:
    // Fills *destination from the address text and the 4-digit socket text,
    // and allows broadcasts on the socket: 1, or -1 when that option cannot be set.
    int ComposeIPXDiagPacket(ipx::sockaddr_ipx* destination, char* address, char* socketText);
    // Sends the request and waits for any datagram: 1 or 0.
    int SendReceiveIPX(sockaddr* destination, int attempts, float wait);
    // 2n hex characters of input to n bytes of output, high nibble first.
    void AtoH(char* output, char* input, int n);
    // Value of one hex digit.
    unsigned char BtoH(char digit);
    // n bytes of input to 2n upper-case hex characters, high nibble first; no terminator.
    void HtoA(char* output, char* input, int n);
    // Digit of a nibble value 0-15; any other value gives '\0'.
    char BtoA(char nibble);
};
