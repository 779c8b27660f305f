// The server dialogs and Advanced Options, driven through their widgets with
// the scripted message boxes.

#include "platform/msgbox/msgbox.h"
#include "tests/support/testsupport.h"
#include "vardel/editing/advanced_options_dialog.h"
#include "vardel/editing/server_dialogs.h"
#include "vardel/resources/string_table.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <gtest/gtest.h>

namespace {

enum Ctl {
    kOk = 1,
    kCancel = 2,
    kNetWareManual = 1018,
    kWindowsNt = 1019,
    kSco = 1020,
    kServers = 1022,
    kName = 1023,
    kIp = 1024,
    kManagementServer = 1025,
    kPollTime = 1028,
    kRetry = 1030,
    kIpx = 1050,
    kCommunity = 1053,
    kNetWare = 1055,
    kPort = 1060,
    kSsl = 1094,
    kSound = 1097,
    kSoundFile = 1098,
    kAlertCeiling = 1099,
    kDesktopNotifications = 1300,
    kQuietHours = 1312,
    kTrapTargets = 1460,
    kQuietStart = 1313,
    kQuietEnd = 1314,
    kFlapping = 1315,
    kFlappingChanges = 1316,
    kFlappingMinutes = 1317,
    kIp6 = 1450,
};

using Box = std::tuple<std::string, std::string, msgbox::Icon>; // caption, text, icon

class DialogTest : public ::testing::Test {
protected:
    DialogTest() { QCoreApplication::setApplicationName("vardel"); }

    template <typename T> T* ctl(QWidget* dialog, int id) {
        T* widget = testsupport::control<T>(dialog, id);
        EXPECT_NE(widget, nullptr) << "control " << id;
        return widget;
    }
    // On the left end, where a radio button or check box has its mark.
    void click(QWidget* dialog, int id) {
        QAbstractButton* button = ctl<QAbstractButton>(dialog, id);
        QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(6, button->height() / 2));
    }
    void type(QWidget* dialog, int id, const QString& text) {
        auto* edit = ctl<QLineEdit>(dialog, id);
        edit->clear();
        QTest::keyClicks(edit, text);
    }
    // Presses OK and hands back the boxes it showed.
    std::vector<Box> ok(QWidget* dialog, int id = kOk) {
        boxes.script.shown.clear();
        click(dialog, id);
        std::vector<Box> shown;
        for (const msgbox::Box& box : boxes.script.shown)
            shown.emplace_back(box.caption, box.text, box.icon);
        return shown;
    }
    static Box framework(const std::string& text) { return {"vardel", text, msgbox::Icon::Warning}; }

    msgbox::ScopedScript boxes;
};

const std::string kTitle = "Orv Corvanta Vardel 5.5";
const std::string kBadIp =
    "The IP address does not have the right syntax:###.###.###.###.\nThe first entry should be "
    "between 1 and 223. The second, third and fourth should be between 0 and 255.\nPlease "
    "enter a valid IP address.";
const std::string kBadIpx =
    "The IPX address does not have the right syntax:(8-12)\nxxxxxxxx-xxxxxxxxxxxx\nPlease "
    "enter a valid IPX address.";
const std::string kIpOrIpx = "Please enter either an IP or an IPX Address.";
const std::string kBadIp6 = LoadString(IDS_BAD_IP6_SYNTAX);

} // namespace

TEST_F(DialogTest, AddServersManuallyWantsANosThenHandsBackCapitalsLastLineFirst) {
    CAddServersManuallyDlg dialog;
    dialog.show();
    auto* servers = ctl<QPlainTextEdit>(&dialog, kServers);
    QTest::keyClicks(servers, "srv1");
    QTest::keyClick(servers, Qt::Key_Return);
    QTest::keyClicks(servers, "Srv2");
    QTest::keyClick(servers, Qt::Key_Return);
    EXPECT_TRUE(dialog.isVisible()) << "Enter starts a new line";

    EXPECT_EQ(ok(&dialog), (std::vector<Box>{{"Add Servers", "Please select a NOS.", msgbox::Icon::None}}));
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_TRUE(dialog.lines().empty());

    click(&dialog, kSco);
    click(&dialog, kNetWareManual);
    EXPECT_TRUE(ok(&dialog).empty());
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.nosCode(), 5);
    EXPECT_EQ(dialog.lines(), (std::list<std::string>{"", "SRV2", "SRV1"}));
}

TEST_F(DialogTest, AddServersManuallyRefusesALineTooLongForItsBufferAndCancelHandsBackNothing) {
    CAddServersManuallyDlg dialog;
    dialog.show();
    click(&dialog, kWindowsNt);
    auto* servers = ctl<QPlainTextEdit>(&dialog, kServers);
    // Pasted text is put in capitals too.
    servers->insertPlainText(QString(511, 'a') + "\n" + QString(512, 'b'));
    EXPECT_EQ(servers->toPlainText(), QString(511, 'A') + "\n" + QString(512, 'B'));

    EXPECT_EQ(ok(&dialog), (std::vector<Box>{{"vardel", "Please enter no more than 511 characters.",
                                              msgbox::Icon::Warning}}));
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(servers->textCursor().blockNumber(), 1) << "the cursor goes to the refused line";

    click(&dialog, kCancel);
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_TRUE(dialog.lines().empty());
}

TEST_F(DialogTest, AddServersManuallyRefusesNamesTheServerListCannotHold) {
    for (const char* name : {"EQ=NAME", "BR]ACKET", "[OPEN", ";SEMI", " LEAD", "TRAIL ", "TAB\tX"}) {
        CAddServersManuallyDlg dialog;
        dialog.show();
        click(&dialog, kWindowsNt);
        auto* servers = ctl<QPlainTextEdit>(&dialog, kServers);
        servers->insertPlainText(QString("GOOD.NAME-1\n") + name + "\n");
        EXPECT_EQ(ok(&dialog), std::vector<Box>{framework(FormatString(IDS_BAD_SERVER_NAME, {name}))})
            << name;
        EXPECT_TRUE(dialog.isVisible()) << name;
        EXPECT_EQ(servers->textCursor().blockNumber(), 1) << name;
        EXPECT_TRUE(dialog.lines().empty()) << name;
    }
}

TEST_F(DialogTest, EnterIpAddressRefusesInOrderAndNeverCutsATextToFit) {
    CEnterIpAddressDlg dialog(nullptr, "SRV1");
    dialog.show();
    EXPECT_EQ(ctl<QLabel>(&dialog, kName)->text(), "SRV1");
    EXPECT_EQ(dialog.focusWidget(), ctl<QLineEdit>(&dialog, kIp));

    EXPECT_EQ(ok(&dialog), (std::vector<Box>{{kTitle, "Please Enter an IP Address.", msgbox::Icon::None}}));
    type(&dialog, kIp, "1.2.3");
    EXPECT_EQ(ok(&dialog), std::vector<Box>{framework(kBadIp)});
    // 40 characters: cut to the 39 of the work buffer it would read 10.1.2.3.
    type(&dialog, kIp, "10.1.2.3" + QString(31, '.') + "5");
    EXPECT_EQ(ok(&dialog), std::vector<Box>{framework(kBadIp)});
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_TRUE(dialog.ipAddress().empty());

    type(&dialog, kIp, "10.1.2.3");
    EXPECT_TRUE(ok(&dialog).empty());
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.ipAddress(), "10.1.2.3");
}

TEST_F(DialogTest, EnterIpAddressCannotConfirmANameLongerThanTheFrameworkTakes) {
    CEnterIpAddressDlg dialog(nullptr, std::string(257, 'N'));
    dialog.show();
    type(&dialog, kIp, "10.1.2.3");
    EXPECT_EQ(ok(&dialog), (std::vector<Box>{{"vardel", "Please enter no more than 256 characters.",
                                              msgbox::Icon::Warning}}));
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_TRUE(dialog.ipAddress().empty());
}

TEST_F(DialogTest, EnterAddressRefusesInOrderAndTakesEitherAddressAlone) {
    CEnterAddressDlg dialog(nullptr, "NW1");
    dialog.show();
    EXPECT_EQ(ok(&dialog), std::vector<Box>{framework(kIpOrIpx)});
    type(&dialog, kIp, "0.1.2.3");
    type(&dialog, kIpx, "D5533216:000000000001");
    EXPECT_EQ(ok(&dialog), std::vector<Box>{framework(kBadIp)});
    type(&dialog, kIp, "10.1.2.3");
    EXPECT_EQ(ok(&dialog), std::vector<Box>{framework(kBadIpx)});
    // Valid once the hyphens are squeezed out of a 40-character work copy: still refused.
    type(&dialog, kIpx, "D5533216" + QString(20, '-') + "000000000001");
    EXPECT_EQ(ok(&dialog), std::vector<Box>{framework(kBadIpx)});
    EXPECT_TRUE(dialog.ipAddress().empty());

    type(&dialog, kIp, "");
    type(&dialog, kIpx, "D5533216-000000000001");
    EXPECT_TRUE(ok(&dialog).empty());
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.ipAddress(), "");
    EXPECT_EQ(dialog.ipxAddress(), "D5533216-000000000001");

    CEnterAddressDlg cancelled(nullptr, "NW2");
    cancelled.show();
    type(&cancelled, kIp, "10.1.2.3");
    click(&cancelled, kCancel);
    EXPECT_EQ(cancelled.ipAddress(), "");
    EXPECT_EQ(cancelled.ipxAddress(), "");
}

TEST_F(DialogTest, EditServerInfoChecksTheCommunityFirstAndKeepsAnUnknownNos) {
    CEditServerInfoDlg dialog(nullptr, "SRV1", "Windows", "10.1.2.3", "", "public");
    dialog.show();
    for (int id : {kWindowsNt, kNetWare, kSco})
        EXPECT_FALSE(ctl<QRadioButton>(&dialog, id)->isChecked());

    type(&dialog, kCommunity, "");
    EXPECT_EQ(ok(&dialog), std::vector<Box>{framework("Please enter an Snmp Community.")});
    type(&dialog, kCommunity, "private");
    type(&dialog, kIp, "");
    EXPECT_EQ(ok(&dialog), std::vector<Box>{framework(kIpOrIpx)});
    type(&dialog, kIp, "1.2.3.256");
    type(&dialog, kIpx, "D553321G-000000000001");
    EXPECT_EQ(ok(&dialog), std::vector<Box>{framework(kBadIp)});
    type(&dialog, kIp, "10.9.9.9");
    EXPECT_EQ(ok(&dialog), std::vector<Box>{framework(kBadIpx)});
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(dialog.community(), "public") << "nothing is taken before OK passes";

    type(&dialog, kIpx, "d5533216-000000000001");
    EXPECT_TRUE(ok(&dialog).empty());
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.nosText(), "Windows");
    EXPECT_EQ(dialog.ipAddress(), "10.9.9.9");
    EXPECT_EQ(dialog.ipxAddress(), "d5533216-000000000001");
    EXPECT_EQ(dialog.community(), "private");
}

TEST_F(DialogTest, EditServerInfoShowsTheNosAndHandsBackTheOneChosen) {
    CEditServerInfoDlg dialog(nullptr, "SRV1", "NetWare", "", "D5533216-000000000001", "public");
    dialog.show();
    EXPECT_TRUE(ctl<QRadioButton>(&dialog, kNetWare)->isChecked());
    click(&dialog, kSco);
    EXPECT_TRUE(ok(&dialog).empty());
    EXPECT_EQ(dialog.nosText(), "SCO");
}

// Each manual-entry dialog has an IPv6 field beside the IP one, checked after
// the others; an IPv6 address alone is enough.
TEST_F(DialogTest, IPv6FieldsAreCheckedLastAndStandAlone) {
    CEnterIpAddressDlg enterIp(nullptr, "SRV6");
    enterIp.show();
    type(&enterIp, kIp6, "fe80::1");
    EXPECT_EQ(ok(&enterIp), std::vector<Box>{framework(kBadIp6)});
    type(&enterIp, kIp, "1.2.3");
    EXPECT_EQ(ok(&enterIp), std::vector<Box>{framework(kBadIp)});
    type(&enterIp, kIp, "");
    type(&enterIp, kIp6, "fd00::15");
    EXPECT_TRUE(ok(&enterIp).empty());
    EXPECT_EQ(enterIp.ipAddress(), "");
    EXPECT_EQ(enterIp.ip6Address(), "fd00::15");

    CEnterAddressDlg enter(nullptr, "NW6");
    enter.show();
    type(&enter, kIpx, "D5533216-000000000001");
    type(&enter, kIp6, "fd00:::1");
    EXPECT_EQ(ok(&enter), std::vector<Box>{framework(kBadIp6)});
    type(&enter, kIpx, "");
    type(&enter, kIp6, "::1");
    EXPECT_TRUE(ok(&enter).empty());
    EXPECT_EQ(enter.ip6Address(), "::1");
    EXPECT_EQ(enter.ipxAddress(), "");

    CEditServerInfoDlg edit(nullptr, "SRV6", "NT", "", "", "public");
    edit.setIp6Address("fd00::6");
    edit.show();
    EXPECT_EQ(ctl<QLineEdit>(&edit, kIp6)->text(), "fd00::6");
    type(&edit, kIp6, "");
    EXPECT_EQ(ok(&edit), std::vector<Box>{framework(kIpOrIpx)});
    type(&edit, kIp6, "ff02::1");
    EXPECT_EQ(ok(&edit), std::vector<Box>{framework(kBadIp6)});
    EXPECT_EQ(edit.ip6Address(), "fd00::6");
    type(&edit, kIp, "10.1.2.3");
    type(&edit, kIp6, "fd00::7");
    EXPECT_TRUE(ok(&edit).empty());
    EXPECT_EQ(edit.ipAddress(), "10.1.2.3");
    EXPECT_EQ(edit.ip6Address(), "fd00::7");
}

TEST_F(DialogTest, AdvancedOptionsRefusesAZeroRetryThenAZeroPollTimeAndCancelKeepsTheRetry) {
    AdvancedOptions given;
    given.retry = 7;
    given.pollTime = 3;
    CAdvancedOptionsDlg dialog(nullptr, given);
    dialog.show();

    type(&dialog, kRetry, "0");
    type(&dialog, kPollTime, "5");
    EXPECT_EQ(ok(&dialog),
              (std::vector<Box>{{kTitle, "The Retry value cannot be less than 1.", msgbox::Icon::Warning}}));
    EXPECT_EQ(ctl<QLineEdit>(&dialog, kRetry)->text(), "1");
    EXPECT_TRUE(dialog.isVisible());

    type(&dialog, kRetry, "3");
    type(&dialog, kPollTime, "0");
    EXPECT_EQ(ok(&dialog), (std::vector<Box>{{kTitle, "The Poll time value cannot be less than 1 minute.",
                                              msgbox::Icon::Warning}}));
    EXPECT_EQ(ctl<QLineEdit>(&dialog, kPollTime)->text(), "1");
    EXPECT_EQ(ctl<QLineEdit>(&dialog, kRetry)->text(), "3");

    click(&dialog, kCancel);
    EXPECT_EQ(dialog.values().retry, 3);
    EXPECT_EQ(dialog.values().pollTime, 3);
}

TEST_F(DialogTest, AdvancedOptionsSaveFillsEmptyFieldsAndTakesCapitalsAndDigitsOnly) {
    AdvancedOptions given;
    given.managementServerName = "MS1";
    given.soundFile = "ding.wav";
    given.port = 8080;
    given.alertCeiling = 5000;
    CAdvancedOptionsDlg dialog(nullptr, given);
    dialog.show();
    EXPECT_EQ(ctl<QLineEdit>(&dialog, kAlertCeiling)->text(), "5000");
    auto* soundFile = ctl<QLineEdit>(&dialog, kSoundFile);
    EXPECT_FALSE(soundFile->isEnabled());
    click(&dialog, kSound);
    EXPECT_TRUE(soundFile->isEnabled());

    type(&dialog, kManagementServer, "ms.example");
    type(&dialog, kPort, "");
    type(&dialog, kPollTime, "1x0");
    type(&dialog, kSoundFile, "");
    type(&dialog, kAlertCeiling, "0");
    EXPECT_FALSE(ctl<QCheckBox>(&dialog, kDesktopNotifications)->isChecked());
    click(&dialog, kDesktopNotifications);
    click(&dialog, kSsl);
    EXPECT_TRUE(ok(&dialog).empty());
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(ctl<QLineEdit>(&dialog, kPort)->text(), "80");
    EXPECT_EQ(soundFile->text(), "newmail.wav");
    EXPECT_EQ(ctl<QLineEdit>(&dialog, kAlertCeiling)->text(), "1000000");

    const AdvancedOptions& saved = dialog.values();
    EXPECT_EQ(saved.managementServerName, "MS.EXAMPLE");
    EXPECT_EQ(saved.port, 80u);
    EXPECT_EQ(saved.pollTime, 10);
    EXPECT_EQ(saved.retry, 7);
    EXPECT_EQ(saved.soundFile, "newmail.wav");
    EXPECT_EQ(saved.useSsl, 1);
    EXPECT_EQ(saved.playSound, 1);
    EXPECT_EQ(saved.useDhcp, 0);
    EXPECT_EQ(saved.alertCeiling, kDefaultAlertCeiling);
    EXPECT_EQ(saved.desktopNotifications, 1);
}

// Quiet hours and flapping: off and at their defaults unless set; a bad time
// or limit is refused only while its box is checked.
TEST_F(DialogTest, AdvancedOptionsQuietHoursAndFlapping) {
    CAdvancedOptionsDlg dialog(nullptr, AdvancedOptions{});
    dialog.show();
    EXPECT_FALSE(ctl<QCheckBox>(&dialog, kQuietHours)->isChecked());
    EXPECT_EQ(ctl<QLineEdit>(&dialog, kQuietStart)->text(), "22:00");
    EXPECT_EQ(ctl<QLineEdit>(&dialog, kQuietEnd)->text(), "07:00");
    EXPECT_EQ(ctl<QLineEdit>(&dialog, kFlappingChanges)->text(), "4");
    EXPECT_EQ(ctl<QLineEdit>(&dialog, kFlappingMinutes)->text(), "15");
    type(&dialog, kQuietEnd, "7");
    type(&dialog, kFlappingMinutes, "0");
    EXPECT_TRUE(ok(&dialog).empty()) << "unchecked: nothing refused";
    EXPECT_EQ(dialog.values().quietHoursEnd, "07:00");
    EXPECT_EQ(dialog.values().flappingMinutes, 15);
    EXPECT_EQ(dialog.values().quietHours, 0);
    EXPECT_EQ(dialog.values().standardTrapTargets, 0) << "stock agents' tables are left alone unless asked";

    CAdvancedOptionsDlg second(nullptr, AdvancedOptions{});
    second.show();
    click(&second, kQuietHours);
    type(&second, kQuietStart, "23:5");
    const std::string& title = LoadString(IDS_PRODUCT_TITLE);
    EXPECT_EQ(ok(&second),
              (std::vector<Box>{{title, LoadString(IDS_QUIET_HOURS_BAD), msgbox::Icon::Warning}}));
    type(&second, kQuietStart, "23:05");
    click(&second, kFlapping);
    type(&second, kFlappingChanges, "1");
    EXPECT_EQ(ok(&second), (std::vector<Box>{{title, LoadString(IDS_FLAPPING_BAD), msgbox::Icon::Warning}}));
    type(&second, kFlappingChanges, "6");
    type(&second, kFlappingMinutes, "30");
    click(&second, kTrapTargets);
    EXPECT_TRUE(ok(&second).empty());
    const AdvancedOptions& saved = second.values();
    EXPECT_EQ(saved.quietHours, 1);
    EXPECT_EQ(saved.quietHoursStart, "23:05");
    EXPECT_EQ(saved.flapping, 1);
    EXPECT_EQ(saved.flappingChanges, 6);
    EXPECT_EQ(saved.flappingMinutes, 30);
    EXPECT_EQ(saved.standardTrapTargets, 1);
}

TEST_F(DialogTest, EveryDialogIsFixedInSizeAndOpensTheProgramHelpOnF1) {
    CAddServersManuallyDlg manual;
    CEnterIpAddressDlg ip(nullptr, "SRV1");
    CEnterAddressDlg address(nullptr, "SRV1");
    CEditServerInfoDlg edit(nullptr, "SRV1", "NT", "10.1.2.3", "", "public");
    CAdvancedOptionsDlg options(nullptr, AdvancedOptions{});
    for (QDialog* dialog : std::initializer_list<QDialog*>{&manual, &ip, &address, &edit, &options}) {
        SCOPED_TRACE(dialog->windowTitle().toStdString());
        dialog->show();
        EXPECT_EQ(dialog->minimumSize(), dialog->maximumSize());
        dialog->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(dialog));
        boxes.script.shown.clear();
        QTest::keyClick(dialog->focusWidget() ? dialog->focusWidget() : dialog, Qt::Key_F1);
        // No help file beside the test program: the help layer says which one it looked for.
        ASSERT_EQ(boxes.script.shown.size(), 1u);
        EXPECT_NE(boxes.script.shown[0].text.find("/Vardel.html"), std::string::npos);
        dialog->hide();
    }
}
