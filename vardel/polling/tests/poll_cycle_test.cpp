// The poll cycle's logic without widgets or a network: the two verdicts per
// server, the alerts they raise, pollPending, and the order kept while echo
// probes run elsewhere.

#include "vardel/polling/poll_cycle.h"

#include <gtest/gtest.h>

namespace {

// Records what the cycle writes, sends, probes and raises, in one sequence.
struct Rig : StatusCells, PollSession, EchoProbe {
    void MarkAllChecking(const std::string& t) override { log.push_back("mark all " + t); }
    void MarkServerChecking(const std::string& n, const std::string& t) override {
        log.push_back("mark " + n + " " + t);
    }
    void SetSnmpStatusCell(const std::string& n, const std::string& t) override {
        log.push_back("snmp " + n + " " + t);
    }
    void SetPollStatusCell(const std::string& n, const std::string& t) override {
        log.push_back("poll " + n + " " + t);
    }
    void SetLastPollTime(const std::string& t) override { log.push_back("label " + t); }

    int get(const Pdu& pdu, const SnmpTarget& target, std::function<void(int)> done) override {
        GenAddress a;
        target.get_address(a);
        Vb vb;
        pdu.get_vb(vb, 0);
        OctetStr community;
        static_cast<const CTarget&>(target).get_readcommunity(community);
        log.push_back("get " + a.get_printable() + " " + vb.get_printable_oid() + " r" +
                      std::to_string(target.get_retry()) + " t" + std::to_string(target.get_timeout()) + " " +
                      community.get_printable());
        if (refuse != 0)
            return refuse;
        pending[a.get_printable()] = std::move(done);
        return 0;
    }
    int refuse = 0;
    void answer(const std::string& address, int reason) {
        auto done = std::move(pending.at(address));
        pending.erase(address);
        done(reason);
    }

    void probe(const std::string& address, bool ipx, std::function<void(int)> done) override {
        log.push_back(std::string(ipx ? "ipx echo " : "echo ") + address);
        probes.push_back(std::move(done));
    }
    void echoResult(int r) {
        auto done = std::move(probes.front());
        probes.erase(probes.begin());
        done(r);
    }

    std::vector<std::string> log;
    std::map<std::string, std::function<void(int)>> pending;
    std::vector<std::function<void(int)>> probes;
};

class PollCycleTest : public ::testing::Test {
protected:
    PollCycleTest() {
        settings.retry = 2;
        settings.timeout = 150;
    }
    ManagedServer& add(const std::string& name, const std::string& ip, const std::string& ipx = "") {
        auto s = std::make_unique<ManagedServer>();
        s->name = name;
        s->ipAddress = ip;
        s->ipxAddress = ipx;
        servers.push_back(std::move(s));
        return *servers.back();
    }
    // One cycle's outcome for the server at address: the agent's answer, and
    // the echo's when the agent is silent.
    void cycle(const std::string& address, bool agent, bool host = true) {
        rig.log.clear();
        poll.PollAllServers();
        rig.log.clear();
        rig.answer(address, agent ? kSnmpAsyncResponse : kSnmpTimeout);
        if (!agent)
            rig.echoResult(host ? 0 : -1);
    }

    ServerList servers;
    ConsoleSettings settings;
    Rig rig;
    PollCycle poll{
        {servers, settings, rig, rig, rig, [this](const std::string& n, const std::string& s, int src) {
             rig.log.push_back("alert " + s + " " + std::to_string(src) + " " + n);
             return 1;
         }}};
};

} // namespace

TEST_F(PollCycleTest, AgentVerdictFollowsItsTable) {
    ManagedServer& s = add("S", "10.0.0.1");
    cycle("10.0.0.1", true); // INIT, answered: UP, no alert
    EXPECT_EQ(rig.log, (std::vector<std::string>{"snmp S UP", "poll S UP"}));
    EXPECT_EQ(s.snmpStatus, "UP");
    EXPECT_EQ(s.pollPending, 0);

    cycle("10.0.0.1", false, true); // UP, silent, host answers: DOWN with its alert
    EXPECT_EQ(rig.log,
              (std::vector<std::string>{"echo 10.0.0.1", "poll S UP", "alert DOWN 2000 S", "snmp S DOWN"}));
    EXPECT_EQ(s.snmpStatus, "DOWN");

    cycle("10.0.0.1", false, true); // DOWN, silent: no alert
    EXPECT_EQ(rig.log, (std::vector<std::string>{"echo 10.0.0.1", "poll S UP", "snmp S DOWN"}));

    cycle("10.0.0.1", true); // DOWN, answered: UP with its alert
    EXPECT_EQ(rig.log, (std::vector<std::string>{"alert UP 2000 S", "snmp S UP", "poll S UP"}));
    EXPECT_EQ(s.pollPending, 0);
}

TEST_F(PollCycleTest, SwitchedOffServerRaisesOnlyTheHostAlertAndComesBackInOrder) {
    ManagedServer& s = add("S", "10.0.0.1");
    cycle("10.0.0.1", false, false); // INIT: host DOWN alert only
    EXPECT_EQ(rig.log,
              (std::vector<std::string>{"echo 10.0.0.1", "alert DOWN 1000 S", "poll S DOWN", "snmp S DOWN"}));
    EXPECT_EQ(s.networkStatus, "DOWN");
    EXPECT_EQ(s.snmpStatus, "DOWN");

    cycle("10.0.0.1", false, false); // DOWN stays DOWN: nothing raised
    EXPECT_EQ(rig.log, (std::vector<std::string>{"echo 10.0.0.1", "poll S DOWN", "snmp S DOWN"}));

    cycle("10.0.0.1", true); // back: agent UP first, then host UP
    EXPECT_EQ(rig.log,
              (std::vector<std::string>{"alert UP 2000 S", "snmp S UP", "alert UP 1000 S", "poll S UP"}));
    EXPECT_EQ(s.networkStatus, "UP");
}

TEST_F(PollCycleTest, UpHostGoingSilentRaisesHostDownOnly) {
    ManagedServer& s = add("S", "10.0.0.1");
    s.snmpStatus = "UP";
    s.networkStatus = "UP";
    cycle("10.0.0.1", false, false);
    EXPECT_EQ(rig.log,
              (std::vector<std::string>{"echo 10.0.0.1", "alert DOWN 1000 S", "poll S DOWN", "snmp S DOWN"}));
}

TEST_F(PollCycleTest, CycleAsksEachServerOnceWithTheConsoleSettingsAndSkipsPendingOnes) {
    add("A", "10.0.0.1");
    ManagedServer& b = add("B", "", "0000ABCD-00A0C9112233");
    b.community = "secret";
    add("C", "10.0.0.3").pollPending = 1;
    poll.PollAllServers();
    EXPECT_EQ(rig.log,
              (std::vector<std::string>{"get 10.0.0.1 1.3.6.1.2.1.1.2 r2 t150 public",
                                        "get 0000ABCD-00A0C9112233 1.3.6.1.2.1.1.2 r2 t150 secret"}));
    rig.log.clear();
    poll.OnPollTimer("May 01, 2026, 10:00:00");
    EXPECT_EQ(settings.lastPollTime, "May 01, 2026, 10:00:00");
    // Everything is outstanding: the cells are marked and nobody is asked again.
    EXPECT_EQ(rig.log, (std::vector<std::string>{"label May 01, 2026, 10:00:00", "mark all Checking...."}));
    poll.PollServer("A");
    EXPECT_EQ(rig.log.size(), 2u);

    // The IPX-only server times out and is probed over IPX.
    rig.log.clear();
    rig.answer("0000ABCD-00A0C9112233", kSnmpTimeout);
    EXPECT_EQ(rig.log, (std::vector<std::string>{"ipx echo 0000ABCD-00A0C9112233"}));
    rig.echoResult(-1);
    EXPECT_EQ(b.pollPending, 0);
    poll.PollServer("B");
    EXPECT_EQ(rig.log.back(), "get 0000ABCD-00A0C9112233 1.3.6.1.2.1.1.2 r2 t150 secret");
}

TEST_F(PollCycleTest, ResultsForAddressesNoServerHasChangeNothing) {
    add("S", "10.0.0.1");
    poll.PollAllServers();
    servers.clear(); // removed while its request was outstanding
    rig.log.clear();
    EXPECT_EQ(poll.OnAgentSilent("10.0.0.1"), -1);
    rig.answer("10.0.0.1", kSnmpAsyncResponse);
    poll.OnHostUnreachable("10.0.0.1");
    EXPECT_TRUE(rig.log.empty());
    EXPECT_TRUE(rig.probes.empty());
}

TEST_F(PollCycleTest, WhileAHostIsProbedItsServerWaitsAndOthersGoOn) {
    ManagedServer& a = add("A", "10.0.0.1");
    ManagedServer& b = add("B", "10.0.0.2");
    add("C", "10.0.0.3");
    poll.PollAllServers();
    rig.log.clear();
    rig.answer("10.0.0.1", kSnmpTimeout);
    rig.answer("10.0.0.2", kSnmpTimeout); // waits for A's probe: one at a time
    EXPECT_EQ(rig.log, (std::vector<std::string>{"echo 10.0.0.1"}));
    EXPECT_TRUE(poll.isSettling("A"));
    EXPECT_TRUE(poll.isSettling("B"));

    // Meanwhile C answers, a trap from A arrives and the next cycle begins.
    rig.answer("10.0.0.3", kSnmpAsyncResponse);
    poll.whenSettled("10.0.0.1", [&] { rig.log.push_back("trap A"); });
    poll.OnPollTimer("T2");
    EXPECT_EQ(rig.log, (std::vector<std::string>{"echo 10.0.0.1", "snmp C UP", "poll C UP", "label T2",
                                                 "mark C Checking....",
                                                 "get 10.0.0.3 1.3.6.1.2.1.1.2 r2 t150 public"}));
    rig.log.clear();

    // A's host does not answer: A settles, then its trap and its new cycle run;
    // then B's probe starts.
    rig.echoResult(-1);
    EXPECT_EQ(rig.log, (std::vector<std::string>{
                           "alert DOWN 1000 A", "poll A DOWN", "snmp A DOWN", "trap A", "mark A Checking....",
                           "get 10.0.0.1 1.3.6.1.2.1.1.2 r2 t150 public", "echo 10.0.0.2"}));
    EXPECT_EQ(a.pollPending, 1);
    EXPECT_FALSE(poll.isSettling("A"));
    rig.log.clear();
    rig.echoResult(0);
    EXPECT_EQ(rig.log, (std::vector<std::string>{"poll B UP", "alert DOWN 2000 B", "snmp B DOWN",
                                                 "mark B Checking....",
                                                 "get 10.0.0.2 1.3.6.1.2.1.1.2 r2 t150 public"}));
    EXPECT_EQ(b.snmpStatus, "DOWN");
    EXPECT_FALSE(poll.isSettling("B"));
}

TEST_F(PollCycleTest, EachServerKeepsItsLastAnswerAndWhyItsLastPollFailed) {
    ManagedServer& s = add("S", "10.0.0.1");
    cycle("10.0.0.1", true);
    EXPECT_NE(s.lastAnswer, 0);
    EXPECT_EQ(s.lastFailure, "");
    cycle("10.0.0.1", false, true);
    EXPECT_EQ(s.lastFailure, "The agent did not answer (3 tries of 1.5 s).");
    cycle("10.0.0.1", false, false);
    EXPECT_EQ(s.lastFailure, "The agent did not answer and the host did not answer the echo.");
    EXPECT_NE(s.lastFailureTime, 0);
    // A request the session refuses leaves the server free for the next cycle.
    rig.refuse = -3;
    poll.PollAllServers();
    EXPECT_EQ(s.pollPending, 0);
    EXPECT_EQ(s.lastFailure, "The request could not be sent (SNMP error -3).");
}

// A server without an IPv4 address is asked and probed at its IPv6 address;
// results and traps name it in whatever form the address comes.
TEST_F(PollCycleTest, AnIpv6ServerIsPolledAtItsIpv6AddressAndFoundByValue) {
    ManagedServer& v6 = add("V6", "");
    v6.ip6Address = "FD00:0::5";
    ManagedServer& both = add("BOTH", "10.0.0.2");
    both.ip6Address = "fd00::6";
    poll.PollAllServers();
    EXPECT_EQ(rig.log, (std::vector<std::string>{"get fd00::5 1.3.6.1.2.1.1.2 r2 t150 public",
                                                 "get 10.0.0.2 1.3.6.1.2.1.1.2 r2 t150 public"}));
    rig.log.clear();
    rig.answer("fd00::5", kSnmpTimeout);
    rig.echoResult(0);
    EXPECT_EQ(rig.log, (std::vector<std::string>{"echo FD00:0::5", "poll V6 UP", "alert DOWN 2000 V6",
                                                 "snmp V6 DOWN"}));
    rig.log.clear();
    // A trap from either address of BOTH, and from V6's in its canonical form.
    EXPECT_EQ(poll.OnHostReachable("fd00:0:0::6"), 0);
    EXPECT_EQ(poll.OnAgentAnswered("fd00::5"), 0);
    EXPECT_EQ(rig.log,
              (std::vector<std::string>{"poll BOTH UP", "alert UP 2000 V6", "snmp V6 UP", "poll V6 UP"}));
}
