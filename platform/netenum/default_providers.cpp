#include "netenum.h"
#include "smb_provider.h"

namespace netenum {

// The machine's providers, in the order the network shows them.
std::vector<std::shared_ptr<Provider>> defaultProviders() {
    return {std::make_shared<SmbProvider>()};
}

} // namespace netenum
