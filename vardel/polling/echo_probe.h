#pragma once
// Echo probes of a managed server's host, and the probe runner that keeps
// them off the user-interface thread.

#include "vardel/polling/poll_cycle.h"

#include <QObject>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

// One ICMP echo probe through tamber (data size 32, TTL 128, 3 retries, first
// wait 1000 ms), ICMPv6 for an IPv6 address: 0 when the host answered, -1 when not.
int PingByIp(const std::string& address);
// One IPX diagnostic echo: 0 when the host answered, -1 when not (also when
// this host has no IPX).
int PingByIpx(const std::string& address);

// Runs probes one at a time on a thread of its own and hands each result to
// its callback on the thread that owns this object.
class ThreadedEchoProbe : public QObject, public EchoProbe {
public:
    using Ping = std::function<int(const std::string& address, bool ipx)>;
    // ping: PingByIp / PingByIpx when empty.
    explicit ThreadedEchoProbe(Ping ping = {});
    // Waits for a probe under way; results not yet delivered are dropped.
    ~ThreadedEchoProbe() override;

    void probe(const std::string& address, bool ipx, std::function<void(int result)> done) override;

private:
    struct Job {
        std::string address;
        bool ipx;
        std::function<void(int)> done;
    };
    void run();

    Ping m_ping;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Job> m_jobs;
    bool m_stop = false;
    std::thread m_thread;
};
