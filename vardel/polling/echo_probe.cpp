#include "vardel/polling/echo_probe.h"

#include "platform/handoff/handoff.h"
#include "quillet/quillet.h"
#include "tamber/tamber.h"
#include "vardel/store/managed_server.h"

#include <vector>

int PingByIp(const std::string& address) {
    auto* ping = new CIcmpPing(32, 128);
    const int answered = IsIp6Address(address) ? ping->TamberByAddr6(address.c_str(), 3, 1000)
                                               : ping->TamberByAddr(address.c_str(), 3, 1000);
    delete ping;
    return answered != 0 ? 0 : -1;
}

int PingByIpx(const std::string& address) {
    std::vector<char> text(address.begin(), address.end());
    text.push_back('\0');
    auto* quillet = new CQuillet();
    const int answered = quillet->QuilletByAddr(text.data(), 3, 1000.0f);
    delete quillet;
    return answered != 0 ? 0 : -1;
}

ThreadedEchoProbe::ThreadedEchoProbe(Ping ping) : m_ping(std::move(ping)) {
    if (!m_ping)
        m_ping = [](const std::string& address, bool ipx) {
            return ipx ? PingByIpx(address) : PingByIp(address);
        };
    m_thread = std::thread([this] { run(); });
}

ThreadedEchoProbe::~ThreadedEchoProbe() {
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
        m_jobs.clear();
    }
    m_wake.notify_all();
    m_thread.join();
}

void ThreadedEchoProbe::probe(const std::string& address, bool ipx, std::function<void(int result)> done) {
    {
        std::lock_guard lock(m_mutex);
        m_jobs.push_back(Job{address, ipx, std::move(done)});
    }
    m_wake.notify_all();
}

void ThreadedEchoProbe::run() {
    for (;;) {
        Job job;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stop || !m_jobs.empty(); });
            if (m_stop)
                return;
            job = std::move(m_jobs.front());
            m_jobs.pop_front();
        }
        const int result = m_ping(job.address, job.ipx);
        // Delivered through this object's thread; dropped if it is gone first.
        handoff::post(this, [done = std::move(job.done), result] { done(result); });
    }
}
