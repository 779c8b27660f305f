// Trap keys, record building and registration failures of the trap listener.

#include "platform/msgbox/msgbox.h"
#include "tests/support/testsupport.h"
#include "vardel/alerts/trap_listener.h"

#include <atomic>
#include <gtest/gtest.h>
#include <vector>

namespace {

const std::string kEnterprise = "1.3.6.1.4.1.9999";

class SnmpEnvironment : public ::testing::Environment {
public:
    void SetUp() override { ASSERT_EQ(snmpInit(), 0); }
};
const auto* const g_environment = ::testing::AddGlobalTestEnvironment(new SnmpEnvironment);

TrapRegistration registrationFor(std::initializer_list<std::string> enterprises) {
    TrapRegistration r;
    for (const std::string& e : enterprises) {
        r.registered.push_back(e);
        r.suffixed.push_back(e + ".19");
    }
    return r;
}

} // namespace

TEST(BuildTrapKey, V1SpecificTrapAndSuffixedEnterprise) {
    TrapRegistration r = registrationFor({kEnterprise, "1.3.6.1.4.1.42"});
    std::string enterprise = kEnterprise;
    std::string key;
    ASSERT_EQ(BuildTrapKey(enterprise, kEnterprise + ".0.7", key, r), 0);
    EXPECT_EQ(key, kEnterprise + ".7");
    EXPECT_EQ(enterprise, kEnterprise);

    enterprise = kEnterprise + ".19";
    ASSERT_EQ(BuildTrapKey(enterprise, kEnterprise + ".19.0.1001", key, r), 0);
    EXPECT_EQ(enterprise, kEnterprise); // the record's enterprise loses ".19"
    EXPECT_EQ(key, kEnterprise + ".1001");
}

TEST(BuildTrapKey, RefusesUnlistedEnterprisesAndIdentifiersWithoutZeroArc) {
    TrapRegistration r = registrationFor({kEnterprise});
    std::string key = "untouched";
    std::string enterprise = "1.3.6.1.4.1.999";
    EXPECT_EQ(BuildTrapKey(enterprise, "1.3.6.1.4.1.999.0.7", key, r), -1);
    enterprise = kEnterprise + ".20";
    EXPECT_EQ(BuildTrapKey(enterprise, kEnterprise + ".20.0.7", key, r), -1);
    // Generic v1 traps map to snmpTraps.n, and v2c identifiers need not hold ".0.".
    enterprise = kEnterprise;
    EXPECT_EQ(BuildTrapKey(enterprise, "1.3.6.1.6.3.1.1.5.3", key, r), -1);
    EXPECT_EQ(BuildTrapKey(enterprise, kEnterprise + ".5", key, r), -1);
    EXPECT_EQ(key, "untouched");
    // A v2c identifier with ".0." keys like a v1 trap.
    ASSERT_EQ(BuildTrapKey(enterprise, kEnterprise + ".0.12", key, r), 0);
    EXPECT_EQ(key, kEnterprise + ".12");
}

TEST(BuildTrapKey, CutsAKeyToItsField) {
    TrapRegistration r = registrationFor({kEnterprise});
    std::string enterprise = kEnterprise;
    std::string key;
    ASSERT_EQ(BuildTrapKey(enterprise, kEnterprise + ".0." + std::string(700, '1'), key, r), 0);
    EXPECT_EQ(key.size(), alert_width::kTrapKey - 1);
}

namespace {

struct Collected {
    std::vector<std::unique_ptr<AlertRecord>> records;
};

Pdu trapPdu(const std::string& enterprise, const std::string& id, int bindings) {
    Pdu pdu;
    pdu.set_notify_enterprise(Oid(enterprise));
    pdu.set_notify_id(Oid(id));
    for (int i = 1; i <= bindings; ++i) {
        Vb vb(Oid(enterprise + ".1." + std::to_string(i)));
        vb.set_value(std::int32_t{i});
        pdu += vb;
    }
    return pdu;
}

} // namespace

class TrapRecordTest : public ::testing::Test {
protected:
    TrapRecordTest() : m_registration(registrationFor({kEnterprise})) {
        m_registration.sink = [this](std::unique_ptr<AlertRecord> r) {
            m_collected.records.push_back(std::move(r));
            return true;
        };
        m_target.set_version(version1);
    }
    void deliver(Pdu& pdu, int reason = kSnmpNotification) {
        OnTrapNotification(reason, nullptr, pdu, m_target, &m_registration);
    }

    TrapRegistration m_registration;
    Collected m_collected;
    CTarget m_target{IpAddress("127.0.0.2")};
};

TEST_F(TrapRecordTest, FillsTheRecordFromTheTrap) {
    Pdu pdu = trapPdu(kEnterprise, kEnterprise + ".0.7", 0);
    Vb text(Oid(kEnterprise + ".1.1"));
    const unsigned char withZero[] = {'f', 'a', 'n', '3', 0, 'x', 'y'};
    text.set_value(OctetStr(withZero, sizeof withZero));
    pdu += text;
    Vb number(Oid(kEnterprise + ".1.2"));
    number.set_value(std::int32_t{-5});
    pdu += number;
    deliver(pdu);

    ASSERT_EQ(m_collected.records.size(), 1u);
    const AlertRecord& r = *m_collected.records[0];
    EXPECT_EQ(r.origin, kOriginTrap);
    EXPECT_EQ(r.enterprise, kEnterprise);
    EXPECT_EQ(r.trapKey, kEnterprise + ".7");
    EXPECT_EQ(r.agentAddress, "127.0.0.2");
    EXPECT_EQ(r.addressType, Address::type_ip);
    EXPECT_EQ(r.snmpVersion, version1);
    EXPECT_FALSE(r.dateTime.empty());
    EXPECT_EQ(r.launchAllowed, 1);
    ASSERT_EQ(r.bindingCount, 2);
    EXPECT_EQ(r.bindings[0].oid, kEnterprise + ".1.1");
    EXPECT_EQ(r.bindings[0].syntax, sNMP_SYNTAX_OCTETS);
    EXPECT_EQ(r.bindings[0].value, "fan3"); // raw octets up to the first zero byte
    EXPECT_EQ(r.bindings[1].syntax, sNMP_SYNTAX_INT);
    EXPECT_EQ(r.bindings[1].value, "-5");
}

TEST_F(TrapRecordTest, KeepsTenBindingsAndCutsLongTexts) {
    Pdu pdu = trapPdu(kEnterprise, kEnterprise + ".0.1", 14);
    deliver(pdu);
    ASSERT_EQ(m_collected.records.size(), 1u);
    const AlertRecord& r = *m_collected.records[0];
    EXPECT_EQ(r.bindingCount, 10);
    EXPECT_EQ(r.bindings[9].value, "10");

    Pdu longOnes = trapPdu(kEnterprise, kEnterprise + ".0.2", 0);
    std::string oid = kEnterprise;
    for (int i = 0; i < 40; ++i)
        oid += ".12345";
    Vb vb{Oid(oid)};
    vb.set_value(std::string(2000, 'v').c_str());
    longOnes += vb;
    deliver(longOnes);
    ASSERT_EQ(m_collected.records.size(), 2u);
    const AlertRecord& cut = *m_collected.records[1];
    EXPECT_EQ(cut.bindings[0].oid.size(), alert_width::kBindingOid - 1);
    EXPECT_EQ(cut.bindings[0].value.size(), alert_width::kBindingValue - 1);
}

TEST_F(TrapRecordTest, DropsOtherReasonsAndUnkeyableTraps) {
    Pdu listed = trapPdu(kEnterprise, kEnterprise + ".0.1", 1);
    deliver(listed, kSnmpAsyncResponse);
    deliver(listed, kSnmpTimeout);
    Pdu unlisted = trapPdu("1.3.6.1.4.1.1234", "1.3.6.1.4.1.1234.0.1", 1);
    deliver(unlisted);
    Pdu generic = trapPdu(kEnterprise, "1.3.6.1.6.3.1.1.5.4", 1);
    deliver(generic);
    EXPECT_TRUE(m_collected.records.empty());
}

namespace {

struct ListenerProbe {
    std::atomic<int> failures{0};
    std::atomic<int> records{0};
};

} // namespace

// The failure goes to the window: the listener thread never waits on a box.
TEST(TrapListenerRegistration, FailsWithoutIndexOrWithTotalNumZeroOrNegativeAndShowsNothing) {
    msgbox::ScopedScript boxes;
    for (const char* index : {static_cast<const char*>(nullptr),
                              "[Header]\r\nTotalNum=0\r\n[EnterpriseList]\r\n"
                              "1.3.6.1.4.1.9999=vd9999.ini\r\n",
                              "[Header]\r\nTotalNum=-1\r\n[EnterpriseList]\r\n"
                              "1.3.6.1.4.1.9999=vd9999.ini\r\n",
                              "[EnterpriseList]\r\n1.3.6.1.4.1.9999=vd9999.ini\r\n"}) {
        testsupport::TempDir dir;
        if (index != nullptr)
            testsupport::writeFile(dir.file("VDTrap.ini"), index);
        ListenerProbe probe;
        TrapListenerThread listener(
            dir.path(),
            [&](std::unique_ptr<AlertRecord>) {
                ++probe.records;
                return true;
            },
            [&] { ++probe.failures; }, 0);
        listener.start();
        EXPECT_EQ(listener.waitForRegistration(), -1) << (index ? index : "no VDTrap.ini");
        listener.stop();
        EXPECT_EQ(probe.failures.load(), 1);
        EXPECT_EQ(probe.records.load(), 0);
    }
    EXPECT_TRUE(boxes.script.shown.empty());
}

TEST(TrapListenerRegistration, SucceedsWithAnEmptyEnterpriseListAndStops) {
    testsupport::TempDir dir;
    testsupport::writeFile(dir.file("VDTrap.ini"), "[Header]\r\nTotalNum=3\r\n[EnterpriseList]\r\n");
    ListenerProbe probe;
    TrapListenerThread listener(
        dir.path(),
        [&](std::unique_ptr<AlertRecord>) {
            ++probe.records;
            return true;
        },
        [&] { ++probe.failures; }, 0);
    listener.start();
    EXPECT_EQ(listener.waitForRegistration(), 0);
    listener.stop(); // returns: the loop ended and the thread joined
    EXPECT_EQ(probe.failures.load(), 0);
}

TEST(TrapListenerRegistration, FailsWhenThePortIsTaken) {
    testsupport::TempDir dir;
    testsupport::writeFile(dir.file("VDTrap.ini"),
                           "[Header]\r\nTotalNum=1\r\n[EnterpriseList]\r\n1.3.6.1.4.1.9999=vd9999.ini\r\n");
    int status = -99;
    Snmp holder(status, 0);
    ASSERT_EQ(status, kSnmpSuccess);
    ListenerProbe probe;
    TrapListenerThread listener(
        dir.path(),
        [&](std::unique_ptr<AlertRecord>) {
            ++probe.records;
            return true;
        },
        [&] { ++probe.failures; }, holder.localPort());
    testing::internal::CaptureStderr();
    listener.start();
    EXPECT_EQ(listener.waitForRegistration(), -1);
    listener.stop();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "vardel: cannot receive traps: UDP port " +
                                                          std::to_string(holder.localPort()) +
                                                          " is in use by another program\n");
    EXPECT_EQ(probe.failures.load(), 1);
}
