#include "platform/netenum/netenum.h"
#include "platform/netenum/netware_provider.h"
#include "platform/netenum/smb_provider.h"

namespace netenum {

// The machine's providers, in enumeration order. A provider of another network
// is added here.
std::vector<std::shared_ptr<Provider>> defaultProviders() {
    return {
        std::make_shared<SmbProvider>(),
        std::make_shared<NetWareProvider>(),
    };
}

} // namespace netenum
