#pragma once
// "NetWare Network": the file servers that SAP reports on the IPX network,
// listed directly at the provider's top level as "\\NAME".

#include "platform/netenum/netenum.h"

#include <chrono>

namespace netenum {

class NetWareProvider : public Provider {
public:
    // Two general service queries, each followed by `wait` for the answers.
    explicit NetWareProvider(std::chrono::milliseconds wait = std::chrono::milliseconds(750))
        : m_wait(wait) {}

    std::string name() const override;
    // The top level only: a machine without IPX gives noNetwork, a network
    // where no file server answers an empty list; a server has nothing under it.
    Failure enumerate(const std::string& container, std::vector<Resource>& out) override;

private:
    std::chrono::milliseconds m_wait;
};

} // namespace netenum
