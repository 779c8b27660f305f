// Draws the Trap Definitions dialog over a program directory holding the
// shipped definitions and those of Debian's UCD-SNMP-MIB, and the preview of
// an import of Debian's KEEPALIVED-MIB and VRRP-MIB beside a file that lacks
// an import (the IETF modules they import from ../shared/mibs/ietf); saves them as PNG files in the given
// directory.

#include "bench/support/screenshots.h"
#include "vardel/editing/trap_definitions_dialog.h"

#include <QApplication>
#include <QFile>
#include <QTemporaryDir>
#include <filesystem>
#include <fstream>

using namespace definitions;

int main(int argc, char** argv) {
    const std::optional<QDir> out = screenshots::outputDirectory(argc, argv);
    if (!out)
        return 2;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    // The build's program directory lies beside bench/.
    const std::string built = QApplication::applicationDirPath().toStdString() + "/../bin/";
    QTemporaryDir temp;
    const std::string dir = temp.path().toStdString() + "/";
    for (const char* f : {"VDTrap.ini", "SAMPLE.INI", "NETSNMP.INI"})
        QFile::copy(QString::fromStdString(built + f), QString::fromStdString(dir + f));
    ScanOptions options;
    options.programDir = dir;
    options.baseModuleDir = built + "mibs/";
    options.mibDirs = {VARDEL_IETF_MIBS};
    const std::string mibs = "/usr/share/snmp/mibs/";
    WriteDefinitions(ScanMibFiles({mibs + "UCD-SNMP-MIB.txt"}, options).notifications, {dir, false, false});

    const std::string lacking = dir + "ACME-RAID-MIB.my";
    std::ofstream(lacking)
        << "ACME-RAID-MIB DEFINITIONS ::= BEGIN\nIMPORTS acmeProducts FROM ACME-SMI;\nEND\n";
    std::vector<std::string> files;
    for (const std::string& f : {mibs + "KEEPALIVED-MIB.txt", mibs + "VRRP-MIB.txt", lacking})
        if (std::filesystem::exists(f))
            files.push_back(f);
    const ScanResult scan = ScanMibFiles(files, options);
    const WriteResult plan = WriteDefinitions(scan.notifications, {dir, false, true});

    bool ok = true;
    TrapDefinitionsContext context;
    context.programDir = dir;
    CTrapDefinitionsDlg dialog(nullptr, context);
    dialog.show();
    ok = screenshots::save(dialog, *out, "trap_definitions.png") && ok;
    dialog.hide();

    CTrapImportPreviewDlg preview(nullptr, scan.notifications, plan.definitions, scan.files);
    preview.show();
    ok = screenshots::save(preview, *out, "trap_import_preview.png") && ok;
    return ok ? 0 : 1;
}
