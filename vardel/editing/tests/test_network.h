#pragma once
// An in-process network provider for the browsing tests: fixed containers,
// a count of the enumerations asked of it, and a failure on demand.

#include "platform/netenum/netenum.h"

#include <atomic>
#include <map>
#include <memory>
#include <string>
#include <vector>

class TestNetwork : public netenum::Provider {
public:
    TestNetwork(std::string name, std::map<std::string, std::vector<netenum::Resource>> containers)
        : m_name(std::move(name)), m_containers(std::move(containers)) {}

    std::string name() const override { return m_name; }
    netenum::Failure enumerate(const std::string& container, std::vector<netenum::Resource>& out) override {
        ++enumerations;
        if (failure != netenum::Failure::none)
            return failure;
        const auto found = m_containers.find(container);
        if (found == m_containers.end())
            return netenum::Failure::noSuchContainer;
        out = found->second;
        return netenum::Failure::none;
    }

    std::atomic<int> enumerations{0};
    std::atomic<netenum::Failure> failure{netenum::Failure::none};

private:
    std::string m_name;
    std::map<std::string, std::vector<netenum::Resource>> m_containers;
};

inline netenum::Resource workgroup(const std::string& name) {
    return {name, "", netenum::RESOURCEDISPLAYTYPE_DOMAIN, netenum::RESOURCEUSAGE_CONTAINER};
}
inline netenum::Resource server(const std::string& name) {
    return {"\\\\" + name, "", netenum::RESOURCEDISPLAYTYPE_SERVER, netenum::RESOURCEUSAGE_CONTAINER};
}

// Installs providers for the lifetime of the object.
class ScopedProviders {
public:
    explicit ScopedProviders(std::vector<std::shared_ptr<netenum::Provider>> providers)
        : m_saved(netenum::providers()) {
        netenum::setProviders(std::move(providers));
    }
    ~ScopedProviders() { netenum::setProviders(m_saved); }
    ScopedProviders(const ScopedProviders&) = delete;
    ScopedProviders& operator=(const ScopedProviders&) = delete;

private:
    std::vector<std::shared_ptr<netenum::Provider>> m_saved;
};
