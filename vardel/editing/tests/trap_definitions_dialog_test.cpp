// The Trap Definitions dialog driven through its widgets: the enterprise list,
// an import read on the worker then previewed, edited and written, a cancelled
// import and preview, Remove, and a console that may not change definitions.

#include "platform/msgbox/msgbox.h"
#include "platform/profile/profile.h"
#include "tests/support/testsupport.h"
#include "vardel/editing/config_tab.h"
#include "vardel/editing/tests/modal_script.h"
#include "vardel/editing/trap_definitions_dialog.h"
#include "vardel/resources/string_table.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>

namespace {

using testsupport::control;

enum Ctl {
    kEnterpriseTable = 1200,
    kImportMib = 1201,
    kImportSnmptt = 1202,
    kRemove = 1203,
    kClose = 1204,
    kProgress = 1205,
    kCancelImport = 1206,
    kStatus = 1207,
    kSummary = 1210,
    kNotificationTable = 1211,
    kReplace = 1212,
    kProblems = 1213,
    kWrite = 1214,
    kTrapDefinitionsButton = 1220,
};

const char* const kAcmeMib = R"(ACME-TEST-MIB DEFINITIONS ::= BEGIN
IMPORTS MODULE-IDENTITY, NOTIFICATION-TYPE, OBJECT-TYPE, Integer32, enterprises FROM SNMPv2-SMI;
acmeTest MODULE-IDENTITY
    LAST-UPDATED "202601010000Z" ORGANIZATION "Acme" CONTACT-INFO "none"
    DESCRIPTION "Test module." ::= { enterprises 77777 }
acmeTraps OBJECT IDENTIFIER ::= { acmeTest 0 }
acmeObjects OBJECT IDENTIFIER ::= { acmeTest 1 }
acmeFanIndex OBJECT-TYPE SYNTAX Integer32 MAX-ACCESS accessible-for-notify STATUS current
    DESCRIPTION "The fan." ::= { acmeObjects 1 }
acmeFanFailure NOTIFICATION-TYPE OBJECTS { acmeFanIndex } STATUS current
    DESCRIPTION "A fan failed." ::= { acmeTraps 1 }
END
)";
const char* const kSnmpttConf = "EVENT acmeDiskFull .1.3.6.1.4.1.77778.0.4 \"Status Events\" Major\n"
                                "FORMAT Disk $1 is full\n";
const std::string kAcmeKey = "1.3.6.1.4.1.77777.1";

QString itemText(QTableWidget* table, int row, int col) {
    const QTableWidgetItem* item = table->item(row, col);
    return item ? item->text() : QString();
}

int rowOf(QTableWidget* table, const QString& oid) {
    for (int row = 0; row < table->rowCount(); ++row)
        if (itemText(table, row, 0) == oid)
            return row;
    return -1;
}

class TrapDefinitionsDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        testsupport::copyProgramData(dir.path());
        testsupport::writeFile(in.file("ACME-TEST-MIB.my"), kAcmeMib);
        testsupport::writeFile(in.file("broken.my"), "BROKEN-MIB DEFINITIONS ::= BEGIN\n"
                                                     "IMPORTS nothing FROM NOWHERE-MIB;\nEND\n");
        testsupport::writeFile(in.file("snmptt.conf"), kSnmpttConf);
        context.programDir = dir.path();
        context.baseModuleDir = std::string(std::getenv("VARDEL_PROGRAM_DIR")) + "/mibs/";
        context.definitionsChanged = [this] { ++changes; };
        context.chooseMibFiles = [this](QWidget*) { return chosen; };
        context.chooseSnmpttFiles = [this](QWidget*) { return chosen; };
        index = testsupport::readFile(dir.file("VDTrap.ini"));
    }
    std::unique_ptr<CTrapDefinitionsDlg> open() {
        auto dialog = std::make_unique<CTrapDefinitionsDlg>(nullptr, context);
        dialog->show();
        return dialog;
    }
    // Waits (bounded) until the import's worker has finished.
    static bool finished(CTrapDefinitionsDlg& dialog) {
        return QTest::qWaitFor([&] { return !dialog.importRunning(); }, 60000);
    }

    testsupport::TempDir dir, in;
    TrapDefinitionsContext context;
    std::vector<std::string> chosen;
    std::string index;
    int changes = 0;
    msgbox::ScopedScript boxes;
};

TEST_F(TrapDefinitionsDialogTest, ImportIsPreviewedEditedAndWrittenThenListed) {
    bool previewed = false;
    context.runPreview = [&](CTrapImportPreviewDlg& preview) {
        previewed = true;
        // Nothing is written before the preview is accepted.
        EXPECT_EQ(testsupport::readFile(dir.file("VDTrap.ini")), index);
        EXPECT_FALSE(std::filesystem::exists(dir.file("ACME-TEST-MIB.INI")));
        auto* table = control<QTableWidget>(&preview, kNotificationTable);
        EXPECT_EQ(table->rowCount(), 1);
        EXPECT_EQ(itemText(table, 0, 0), "acmeFanFailure");
        EXPECT_EQ(itemText(table, 0, 2).toStdString(), kAcmeKey);
        EXPECT_EQ(itemText(table, 0, 3), "CRITICAL");
        EXPECT_EQ(itemText(table, 0, 5).toStdString(), LoadString(IDS_TRAPDEF_STATUS_NEW));
        EXPECT_FALSE(control<QCheckBox>(&preview, kReplace)->isEnabled()); // nothing exists yet
        // The refused file, with the module it lacks.
        const std::string problems =
            control<QPlainTextEdit>(&preview, kProblems)->toPlainText().toStdString();
        EXPECT_NE(problems.find(in.file("broken.my") + " was not imported"), std::string::npos) << problems;
        EXPECT_NE(problems.find("NOWHERE-MIB"), std::string::npos) << problems;
        EXPECT_NE(control<QLabel>(&preview, kSummary)->text().indexOf("1 notifications in 1 of the 2 files"),
                  -1);
        table->item(0, 3)->setText("WARNING");
        table->item(0, 4)->setText("Fan %1 stopped");
        QTest::mouseClick(control<QPushButton>(&preview, kWrite), Qt::LeftButton);
        return preview.result() == QDialog::Accepted;
    };
    auto dialog = open();
    auto* list = control<QTableWidget>(dialog.get(), kEnterpriseTable);
    const int sample = rowOf(list, "1.3.6.1.4.1.9999");
    ASSERT_GE(sample, 0);
    EXPECT_EQ(itemText(list, sample, 2), "SAMPLE.INI");
    EXPECT_GT(itemText(list, sample, 3).toInt(), 0);

    chosen = {in.file("ACME-TEST-MIB.my"), in.file("broken.my")};
    dialog->findChild<QAction*>("importFilesAction")->trigger();
    ASSERT_TRUE(finished(*dialog));
    ASSERT_TRUE(previewed);
    EXPECT_TRUE(boxes.script.shown.empty());

    const std::string ini = dir.file("ACME-TEST-MIB.INI");
    EXPECT_EQ(profile::getString(ini, kAcmeKey, "Severity", "", 512), "WARNING");
    EXPECT_EQ(profile::getString(ini, kAcmeKey, "AlarmString", "", 512), "Fan %1 stopped");
    EXPECT_EQ(profile::getString(dir.file("VDTrap.ini"), "EnterpriseList", "1.3.6.1.4.1.77777", "", 512),
              "ACME-TEST-MIB.INI");
    EXPECT_EQ(changes, 1);
    const int acme = rowOf(list, "1.3.6.1.4.1.77777");
    ASSERT_GE(acme, 0);
    EXPECT_EQ(itemText(list, acme, 1), "ACME-TEST-MIB");
    EXPECT_EQ(itemText(list, acme, 3), "1");

    // Again: the definition exists, is kept unless replaced, and is marked so.
    context.runPreview = {};
    dialog.reset();
    context.runPreview = [&](CTrapImportPreviewDlg& preview) {
        auto* table = control<QTableWidget>(&preview, kNotificationTable);
        EXPECT_EQ(itemText(table, 0, 5).toStdString(), LoadString(IDS_TRAPDEF_STATUS_EXISTS));
        EXPECT_TRUE(control<QCheckBox>(&preview, kReplace)->isEnabled());
        return true;
    };
    dialog = open();
    chosen = {in.file("ACME-TEST-MIB.my")};
    dialog->findChild<QAction*>("importFilesAction")->trigger();
    ASSERT_TRUE(finished(*dialog));
    EXPECT_EQ(profile::getString(ini, kAcmeKey, "Severity", "", 512), "WARNING");
}

TEST_F(TrapDefinitionsDialogTest, CancelledImportOrPreviewWritesNothing) {
    int previews = 0;
    context.runPreview = [&](CTrapImportPreviewDlg& preview) {
        ++previews;
        EXPECT_EQ(itemText(control<QTableWidget>(&preview, kNotificationTable), 0, 4), "Disk %1 is full");
        return false;
    };
    auto dialog = open();
    chosen = {in.file("snmptt.conf")};
    QTest::mouseClick(control<QPushButton>(dialog.get(), kImportSnmptt), Qt::LeftButton);
    ASSERT_TRUE(finished(*dialog));
    EXPECT_EQ(previews, 1);

    chosen = {in.file("ACME-TEST-MIB.my")};
    dialog->findChild<QAction*>("importFilesAction")->trigger();
    ASSERT_TRUE(dialog->importRunning());
    EXPECT_TRUE(control<QProgressBar>(dialog.get(), kProgress)->isVisible());
    EXPECT_FALSE(control<QPushButton>(dialog.get(), kImportMib)->isEnabled());
    EXPECT_FALSE(control<QPushButton>(dialog.get(), kClose)->isEnabled());
    // Escape cancels the reading and leaves the dialog open.
    QTest::keyClick(dialog.get(), Qt::Key_Escape);
    ASSERT_TRUE(finished(*dialog));
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(previews, 1);
    EXPECT_EQ(control<QLabel>(dialog.get(), kStatus)->text().toStdString(),
              LoadString(IDS_TRAPDEF_CANCELLED));
    EXPECT_TRUE(control<QPushButton>(dialog.get(), kImportMib)->isEnabled());
    EXPECT_FALSE(control<QPushButton>(dialog.get(), kCancelImport)->isVisible());

    EXPECT_EQ(testsupport::readFile(dir.file("VDTrap.ini")), index);
    EXPECT_FALSE(std::filesystem::exists(dir.file("ACME-TEST-MIB.INI")));
    EXPECT_FALSE(std::filesystem::exists(dir.file("SNMPTT.INI")));
    EXPECT_EQ(changes, 0);
}

TEST_F(TrapDefinitionsDialogTest, RemoveAsksThenTakesTheEntryAndItsFile) {
    definitions::ScanOptions options;
    options.baseModuleDir = context.baseModuleDir;
    const definitions::ScanResult scan = definitions::ScanMibFiles({in.file("ACME-TEST-MIB.my")}, options);
    ASSERT_TRUE(definitions::WriteDefinitions(scan.notifications, {dir.path(), false, false}).ok);
    auto dialog = open();
    auto* list = control<QTableWidget>(dialog.get(), kEnterpriseTable);
    const int row = rowOf(list, "1.3.6.1.4.1.77777");
    ASSERT_GE(row, 0);
    list->selectRow(row);
    const std::string written = testsupport::readFile(dir.file("VDTrap.ini"));

    boxes.script.answers = {msgbox::IDNO, msgbox::IDYES};
    auto* remove = control<QPushButton>(dialog.get(), kRemove);
    QTest::mouseClick(remove, Qt::LeftButton);
    EXPECT_EQ(testsupport::readFile(dir.file("VDTrap.ini")), written);
    QTest::mouseClick(remove, Qt::LeftButton);
    ASSERT_EQ(boxes.script.shown.size(), 2u);
    EXPECT_EQ(boxes.script.shown[1].text,
              FormatString(IDS_TRAPDEF_REMOVE_QUESTION, {"1.3.6.1.4.1.77777", "ACME-TEST-MIB.INI"}));
    EXPECT_EQ(rowOf(list, "1.3.6.1.4.1.77777"), -1);
    EXPECT_FALSE(std::filesystem::exists(dir.file("ACME-TEST-MIB.INI")));
    EXPECT_EQ(testsupport::readFile(dir.file("VDTrap.ini")), index);
    EXPECT_EQ(changes, 1);
}

TEST_F(TrapDefinitionsDialogTest, ConsolesThatMayNotChangeDefinitionsSaySo) {
    // Read-only: the tab's button opens the list, whose changes are disabled.
    ServerList servers;
    ConsoleSettings settings;
    settings.programDirectory = dir.path();
    settings.readOnly = 1;
    ConfigTabContext tabContext{servers, settings, nullptr, nullptr, {}, {}, {}, {}};
    CConfigTab tab(tabContext);
    tab.OnInitDialog();
    ModalScript script;
    bool checked = false;
    script.then([&](QDialog* dialog) {
        checked = true;
        EXPECT_EQ(dialog->property("ctlId").toInt(), 300);
        EXPECT_TRUE(dialog->isModal());
        EXPECT_EQ(dialog->windowModality(), Qt::WindowModal);
        EXPECT_GT(control<QTableWidget>(dialog, kEnterpriseTable)->rowCount(), 0);
        for (int id : {kImportMib, kImportSnmptt, kRemove})
            EXPECT_FALSE(control<QPushButton>(dialog, id)->isEnabled()) << id;
        EXPECT_EQ(control<QLabel>(dialog, kStatus)->text().toStdString(), LoadString(IDS_TRAPDEF_READ_ONLY));
        dialog->reject();
    });
    QTest::mouseClick(control<QPushButton>(&tab, kTrapDefinitionsButton), Qt::LeftButton);
    EXPECT_TRUE(checked);

    // A program directory that cannot be written: told before any file is read.
    context.programDir = dir.file("gone/");
    bool asked = false;
    context.chooseMibFiles = [&](QWidget*) {
        asked = true;
        return chosen;
    };
    auto dialog = open();
    dialog->findChild<QAction*>("importFilesAction")->trigger();
    EXPECT_FALSE(asked);
    ASSERT_EQ(boxes.script.shown.size(), 1u);
    EXPECT_NE(boxes.script.shown[0].text.find("cannot write to the program directory " + dir.file("gone/")),
              std::string::npos)
        << boxes.script.shown[0].text;
}

} // namespace
