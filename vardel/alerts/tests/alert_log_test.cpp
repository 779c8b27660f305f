// The alert log's blocks, byte for byte.

#include "tests/support/testsupport.h"
#include "vardel/alerts/alert_log.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::unique_ptr<AlertRecord> alert(std::int16_t severity, const std::string& description = "Fan failure",
                                   const std::string& text = "Fan fan3 failed on cpu") {
    auto r = std::make_unique<AlertRecord>();
    r->dateTime = "March 05, 2001, 14:07:33";
    r->serverName = "SRV1";
    r->description = description;
    r->alertText = text;
    r->severity = severity;
    return r;
}

class AlertLogTest : public ::testing::Test {
protected:
    void add(std::unique_ptr<AlertRecord> r) {
        store.count += 1;
        r->sequence = store.count;
        store.alerts.push_front(std::move(r));
    }
    testsupport::TempDir dir;
    SilentAnnouncer silent;
    AlertStore store{&silent};
    std::string log = dir.file("VDLog.txt");
};

TEST_F(AlertLogTest, BlockIsWrittenWithCrLf) {
    add(alert(kSeverityCritical));
    EXPECT_EQ(AppendAlertLog(log, store, 1, kSeverityCritical), 1);
    EXPECT_EQ(testsupport::readFile(log), "\r\nDate:March 05, 2001, 14:07:33\r\nServer Name:SRV1\r\n"
                                          "Description:Fan failure\r\nAlarm String:Fan fan3 failed on cpu\r\n"
                                          "Severity:Critical\r\n");
}

TEST_F(AlertLogTest, TwoAlertsAppendTwoBlocks) {
    testsupport::writeFile(log, "kept\r\n");
    add(alert(kSeverityWarning, "first"));
    add(alert(kSeverityNormal, "second"));
    AppendAlertLog(log, store, 1, kSeverityWarning);
    AppendAlertLog(log, store, 2, kSeverityNormal);
    const std::string block1 =
        "\r\nDate:March 05, 2001, 14:07:33\r\nServer Name:SRV1\r\nDescription:first\r\n"
        "Alarm String:Fan fan3 failed on cpu\r\nSeverity:Warning\r\n";
    const std::string block2 =
        "\r\nDate:March 05, 2001, 14:07:33\r\nServer Name:SRV1\r\nDescription:second\r\n"
        "Alarm String:Fan fan3 failed on cpu\r\nSeverity:Normal\r\n";
    EXPECT_EQ(testsupport::readFile(log), "kept\r\n" + block1 + block2);
}

TEST_F(AlertLogTest, PercentTextsAndUnknownSeverityAreLoggedLiterally) {
    add(alert(kSeverityUnclassified, "disk %s at 100%", "%1 %d %n"));
    AppendAlertLog(log, store, 1, kSeverityUnclassified);
    EXPECT_EQ(testsupport::readFile(log), "\r\nDate:March 05, 2001, 14:07:33\r\nServer Name:SRV1\r\n"
                                          "Description:disk %s at 100%\r\nAlarm String:%1 %d %n\r\n"
                                          "Severity:Unknown\r\n");
}

TEST_F(AlertLogTest, SeverityWordIsTheOneOnDisplay) {
    add(alert(kSeverityCritical));
    AppendAlertLog(log, store, 1, kSeverityInformational);
    EXPECT_NE(testsupport::readFile(log).find("Severity:Informational\r\n"), std::string::npos);
}

TEST_F(AlertLogTest, MissingAlertLeavesOneLineEnd) {
    add(alert(kSeverityCritical));
    AppendAlertLog(log, store, 5, kSeverityCritical);
    EXPECT_EQ(testsupport::readFile(log), "\r\n");
}

TEST_F(AlertLogTest, ControlCharactersAndUnicodeLineBreaksCannotForgeLines) {
    auto r = alert(kSeverityCritical, "line\r\nDate:forged\xc2\x85Severity:x\xe2\x80\xa8y\xe2\x80\xa9z",
                   std::string("tab\there\x1b[2J\x7f") + "\xc3\xa9\xc2\xa0\xe2\x80\xa6\xe2\x80\xaa");
    r->serverName = "SRV\n1";
    add(std::move(r));
    AppendAlertLog(log, store, 1, kSeverityCritical);
    EXPECT_EQ(testsupport::readFile(log),
              "\r\nDate:March 05, 2001, 14:07:33\r\nServer Name:SRV 1\r\n"
              "Description:line  Date:forged Severity:x y z\r\n"
              "Alarm String:tab\there [2J \xc3\xa9\xc2\xa0\xe2\x80\xa6\xe2\x80\xaa\r\n"
              "Severity:Critical\r\n");
}

TEST_F(AlertLogTest, UnopenableLogIsSkipped) {
    add(alert(kSeverityCritical));
    EXPECT_EQ(AppendAlertLog(dir.file("no/such/dir/VDLog.txt"), store, 1, kSeverityCritical), 1);
    // A directory in the log's place cannot be opened for appending either.
    ASSERT_EQ(mkdir(log.c_str(), 0755), 0);
    EXPECT_EQ(AppendAlertLog(log, store, 1, kSeverityCritical), 1);
    EXPECT_NE(access(dir.file("no").c_str(), F_OK), 0);
}

} // namespace
