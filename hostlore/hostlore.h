#pragma once
// Host address library: this machine's host name and addresses, and the
// addresses of named hosts. Plain C functions without state; every text result
// is a zero-terminated string written into a buffer that the caller owns, and a
// failed call leaves the buffer as it was.

#define HOSTLORE_API __attribute__((visibility("default")))

// Result codes.
#define HOSTLORE_OK 0
#define HOSTLORE_NO_ADDRESS 100      // name not resolvable, or no address for it
#define HOSTLORE_NO_SOCKETS 101      // sockets could not be started
#define HOSTLORE_WRONG_VERSION 102   // sockets started at an unusable version
#define HOSTLORE_NOT_INITIALISED 103 // host name unreadable: sockets not started
#define HOSTLORE_NETWORK_DOWN 104    // host name unreadable: network subsystem down
#define HOSTLORE_IN_PROGRESS 105     // host name unreadable: a blocking call is running
#define HOSTLORE_IPX_FAILED 1005     // no IPX, or the IPX look-up failed

// Smallest buffer each function needs, terminator included.
#define HOSTLORE_HOST_NAME_SIZE 200
#define HOSTLORE_IP_SIZE 16
#define HOSTLORE_IPX_SIZE 22
#define HOSTLORE_IP6_SIZE 46

#ifdef __cplusplus
extern "C" {
#endif

// Starts the sockets layer; 0, 101 or 102.
HOSTLORE_API int DLLInitHostInfo(void);
// The local host name (at most 200 bytes with its terminator); 0 or -1.
HOSTLORE_API int DLLGetHostName(char* buffer);
// This machine's IPv4 address in dotted form (16 bytes): the first
// non-loopback address its host name resolves to, else the first non-loopback
// address of an interface that is up; 0 or 100.
HOSTLORE_API int DLLGetIpAddress(char* buffer);
// The first IPv4 address hostName resolves to, in dotted form (16 bytes); 0 or 100.
HOSTLORE_API int DLLGetIpAddressFromHostname(const char* hostName, char* buffer);
// The first IPv6 address hostName resolves to (its AAAA records, in the
// resolver's order), in canonical text form (46 bytes); 0 or 100.
HOSTLORE_API int DLLGetIp6AddressFromHostname(const char* hostName, char* buffer);
// This machine's IPv6 address towards the IPv6 address peerAddress: the
// source address the routing table chooses for it (no datagram is sent), in
// canonical text form (46 bytes); 0, or 100 when peerAddress is no IPv6
// address or there is no route to it.
HOSTLORE_API int DLLGetIp6AddressTowards(const char* peerAddress, char* buffer);
// This machine's IPX address, "NNNNNNNN.HHHHHHHHHHHH" (22 bytes); 0 or 1005.
HOSTLORE_API int DLLGetIpxAddress(char* buffer);
// This machine's IPX address, "NNNNNNNN:HHHHHHHHHHHH" (22 bytes); 0 or 1005.
HOSTLORE_API int DLLGetIpxAddressForNWTrapDestination(char* buffer);
// The address of a NetWare file server found by a SAP query, "NNNNNNNN-HHHHHHHHHHHH"
// (22 bytes); 0 or 1005. A server that no answer lists gives 0 and leaves the
// buffer untouched.
HOSTLORE_API int DLLGetServerIPXAddress(const char* serverName, char* buffer);

#ifdef __cplusplus
}
#endif
