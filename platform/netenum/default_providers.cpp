#include "netenum.h"
#include "netware_provider.h"

namespace netenum {

// The machine's providers, in the order the network shows them.
std::vector<std::shared_ptr<Provider>> defaultProviders() {
    return {std::make_shared<NetWareProvider>()};
}

} // namespace netenum
