#pragma once
// "Microsoft Windows Network": the SMB browse lists through libsmbclient.
// The top level holds the workgroups, a workgroup its servers ("\\NAME").

#include "platform/netenum/netenum.h"

namespace netenum {

class SmbProvider : public Provider {
public:
    static constexpr const char* kName = "Microsoft Windows Network";
    std::string name() const override { return kName; }
    Failure enumerate(const std::string& container, std::vector<Resource>& out) override;
};

} // namespace netenum
