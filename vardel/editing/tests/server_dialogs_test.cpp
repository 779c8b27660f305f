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
