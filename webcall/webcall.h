#pragma once
// HTTP transaction library: the console's exchange with the management server.
// One plain C function; texts cross as zero-terminated strings that the caller
// owns, and the library copies what it keeps. The protocol is in README.md.

#include <stdint.h>

#define WEBCALL_API __attribute__((visibility("default")))

// Result codes.
#define WEBCALL_DONE 0
#define WEBCALL_FAILED (-1)
#define WEBCALL_DENIED (-2)      // the server refused the credentials
#define WEBCALL_CHANGED (-3)     // write-back refused: the list changed on the server meanwhile
#define WEBCALL_NOT_FETCHED (-4) // write-back refused: the server holds a list this console never fetched
#define WEBCALL_READ_ACCESS 1    // access probe: read-only
#define WEBCALL_FULL_ACCESS 2    // access probe: full access

// Modes.
#define WEBCALL_FETCH 1
#define WEBCALL_WRITE_BACK 2
#define WEBCALL_PROBE 4
#define WEBCALL_END_NOTICE 5
#define WEBCALL_START_NOTICE 6

#ifdef __cplusplus
extern "C" {
#endif

// One exchange with the management server serverName:port, over HTTPS when
// useSsl is 1. Mode 1 fetches the server list into secondText (firstText is the
// transfer file), mode 2 writes firstText back (secondText is the transfer
// file), mode 4 probes the access, modes 6 and 5 send the start and end notice.
WEBCALL_API int32_t httpTransaction(const char* serverName, int32_t port, const char* userName,
                                    const char* password, int32_t mode, const char* firstText,
                                    const char* secondText, uint8_t useSsl);

#ifdef __cplusplus
}
#endif
