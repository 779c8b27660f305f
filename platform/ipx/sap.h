#pragma once
// SAP (service advertising) queries on the IPX layer: a general service query
// broadcast on the local network, and the services the answers list.

#include "platform/ipx/ipx.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

namespace ipx::sap {

inline constexpr std::uint16_t kSocket = 0x0452;
inline constexpr std::uint16_t kFileServer = 0x0004;

struct Service {
    std::uint16_t type = 0;
    std::string name;
    Address address; // with the service's socket
    std::uint16_t hops = 0;
};

// Sends the query `queries` times, each followed by `wait` for answers, and
// hands every service an answer lists to found (a service at 16 hops or more
// is going down and is left out); found returns false to end the query.
// 0 when the query went out, -1 (errno set) when the machine has no IPX or it
// could not be sent.
int generalQuery(std::uint16_t type, int queries, std::chrono::milliseconds wait,
                 const std::function<bool(const Service&)>& found);

} // namespace ipx::sap
