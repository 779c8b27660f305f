// Definitions imported while the trap listener runs: its registration refreshed
// in place, and a notification whose identifier has no ".0." (UCD-SNMP-MIB's
// ucdStart) classified sent as v1 and as v2c. Real snmptrap on port 162 of
// the test's own network namespace.

#include "snmp/snmp.h"
#include "tests/support/snmpd_peer.h"
#include "tests/support/testsupport.h"
#include "vardel/alerts/alert_store.h"
#include "vardel/alerts/trap_listener.h"
#include "vardel/definitions/definitions.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>

namespace {

using namespace definitions;

const std::string kUcdMib = "/usr/share/snmp/mibs/UCD-SNMP-MIB.txt";
const std::string kUcdStart = "1.3.6.1.4.1.2021.251.1";
const std::string kUcdEnterprise = "1.3.6.1.4.1.2021.251";
const std::string kSample = "1.3.6.1.4.1.9999";

class SnmpEnvironment : public ::testing::Environment {
public:
    void SetUp() override { ASSERT_EQ(snmpInit(), 0); }
};
const auto* const g_environment = ::testing::AddGlobalTestEnvironment(new SnmpEnvironment);

// snmptrap to the listener: version, then its arguments; its exit status, or -1.
int sendTrap(const std::string& version, std::vector<std::string> args) {
    args.insert(args.begin(), {"snmptrap", "-v", version, "-c", "public", "127.0.0.1:162"});
    return testsupport::runProcess(args);
}

int sendV1(const std::string& enterprise, const std::string& specific) {
    return sendTrap("1", {enterprise, "127.0.0.1", "6", specific, "0"});
}
int sendV2c(const std::string& id) {
    return sendTrap("2c", {"", id});
}

struct Silent : AlertAnnouncer {
    void announce(const AlertRecord&) override {}
};

class TrapDefinitionsNetns : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::filesystem::exists(kUcdMib))
            GTEST_SKIP() << "no " << kUcdMib << " (Debian's libsnmp-base)";
        testsupport::copyProgramData(dir.path());
        store.programDir = dir.path();
        store.setAnnouncer(&silent);
        listener = std::make_unique<TrapListenerThread>(
            dir.path(),
            [this](std::unique_ptr<AlertRecord> record) {
                std::lock_guard<std::mutex> lock(mutex);
                records.push_back(std::move(record));
                changed.notify_all();
                return true;
            },
            [] {});
        listener->start();
        ASSERT_EQ(listener->waitForRegistration(), 0);
    }
    void TearDown() override {
        if (listener)
            listener->stop();
    }

    // Waits (bounded) for n records; true when they came.
    bool waitForCount(std::size_t n) {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(20), [&] { return records.size() >= n; });
    }
    // The keys of the records so far, in arrival order.
    std::vector<std::string> keys() {
        std::lock_guard<std::mutex> lock(mutex);
        std::vector<std::string> k;
        for (const auto& r : records)
            k.push_back(r->trapKey);
        return k;
    }
    // A sample trap after the ones sent before it: once it is in, so are
    // they, or they were dropped.
    void sendSentinel() {
        const std::size_t before = keys().size();
        ASSERT_EQ(sendV1(kSample, "1001"), 0);
        ASSERT_TRUE(waitForCount(before + 1));
        ASSERT_EQ(keys().back(), kSample + ".1001");
    }
    const AlertRecord& classify(std::size_t i) {
        std::unique_ptr<AlertRecord> copy;
        {
            std::lock_guard<std::mutex> lock(mutex);
            copy = std::make_unique<AlertRecord>(*records.at(i));
        }
        EXPECT_EQ(store.ClassifyAlert(std::move(copy)), 0);
        return *store.alerts.front();
    }

    testsupport::TempDir dir;
    Silent silent;
    AlertStore store;
    std::unique_ptr<TrapListenerThread> listener;
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::unique_ptr<AlertRecord>> records;
};

TEST_F(TrapDefinitionsNetns, ImportedWhileListeningAndKeyedAsV1AndAsV2c) {
    ScanOptions options;
    options.programDir = dir.path();
    options.baseModuleDir = std::string(std::getenv("VARDEL_PROGRAM_DIR")) + "/mibs/";
    const ScanResult scan = ScanMibFiles({kUcdMib}, options);
    ASSERT_EQ(scan.files.size(), 1u);
    ASSERT_TRUE(scan.files[0].imported) << scan.files[0].error;
    ASSERT_TRUE(WriteDefinitions(scan.notifications, WriteOptions{dir.path(), false}).ok);
    EXPECT_NE(testsupport::readFile(dir.file("VDTrap.ini"))
                  .find("[NotificationKeys]\r\n" + kUcdStart + "=" + kUcdStart + "\r\n"),
              std::string::npos);

    // Not registered yet: dropped.
    ASSERT_EQ(sendV1(kUcdEnterprise, "1"), 0);
    sendSentinel();
    EXPECT_EQ(keys().size(), 1u);

    ASSERT_EQ(listener->refreshRegistration(), 0);
    ASSERT_EQ(sendV1(kUcdEnterprise, "1"), 0);
    ASSERT_EQ(sendV2c(kUcdStart), 0);
    // The rule stays for identifiers nobody keyed: a v2c identifier of a
    // listed enterprise without ".0." is dropped.
    ASSERT_EQ(sendV2c(kSample + ".1001"), 0);
    sendSentinel();
    const std::vector<std::string> k = keys();
    ASSERT_EQ(k.size(), 4u);
    EXPECT_EQ(k[1], kUcdStart);
    EXPECT_EQ(k[2], kUcdStart);
    for (std::size_t i : {1u, 2u}) {
        const AlertRecord& a = classify(i);
        EXPECT_EQ(a.enterprise, kUcdEnterprise);
        EXPECT_EQ(a.description, "ucdStart");
        EXPECT_EQ(a.severity, 149);
        EXPECT_EQ(a.helpFile, dir.path() + "UCD-SNMP-MIB.HLP");
    }
    EXPECT_EQ(classify(3).description, "Fan failure"); // the shipped sample, unchanged

    // Removed: its traps are dropped again, v2c ones included.
    std::string error;
    ASSERT_TRUE(RemoveEnterprise(dir.path(), kUcdEnterprise, true, &error));
    EXPECT_EQ(error, "");
    EXPECT_FALSE(std::filesystem::exists(dir.file("UCD-SNMP-MIB.INI")));
    EXPECT_EQ(testsupport::readFile(dir.file("VDTrap.ini")).find("NotificationKeys"), std::string::npos);
    ASSERT_EQ(listener->refreshRegistration(), 0);
    ASSERT_EQ(sendV2c(kUcdStart), 0);
    sendSentinel();
    EXPECT_EQ(keys().size(), 5u);
}

TEST_F(TrapDefinitionsNetns, TrapsDuringRefreshesAreAllTaken) {
    constexpr int kTraps = 30;
    std::atomic<bool> sent{false};
    std::atomic<int> failed{0};
    std::thread sender([&] {
        for (int i = 0; i < kTraps; ++i)
            if (sendV1(kSample, "1001") != 0)
                ++failed;
        sent = true;
    });
    int refreshes = 0;
    while (!sent && refreshes < 100000) {
        EXPECT_EQ(listener->refreshRegistration(), 0);
        ++refreshes;
    }
    sender.join();
    ASSERT_EQ(failed, 0);
    EXPECT_TRUE(waitForCount(kTraps));
    EXPECT_EQ(keys().size(), static_cast<std::size_t>(kTraps));
}

} // namespace
