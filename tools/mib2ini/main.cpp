// vardel-mib2ini [-M DIR]... [-o PROGRAM-DIR] [--replace] [--snmptt FILE]... FILE...
// Writes the trap definitions of MIB files (a folder stands for its files) and
// snmptt.conf files into a console's program directory. One line per
// definition and per file refused; exit status 0 only when every file was
// imported and written.

#include "platform/progdir/progdir.h"
#include "vardel/definitions/definitions.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace definitions;

namespace {

constexpr int kExitRefused = 1;
constexpr int kExitUsage = 2;
constexpr int kExitWrite = 3;

void usage(std::FILE* to) {
    std::fputs("usage: vardel-mib2ini [-M DIR]... [-o PROGRAM-DIR] [--replace] [--snmptt FILE]... [FILE]...\n"
               "  -M DIR          also search DIR for the modules that the files import\n"
               "  -o PROGRAM-DIR  the console's program directory (default: this console's)\n"
               "  --replace       replace definitions that exist (default: keep them)\n"
               "  --snmptt FILE   import the EVENTs of an snmptt.conf file\n"
               "  FILE            a MIB file, or a folder of MIB files\n",
               to);
}

const char* actionWord(WrittenDefinition::Action a) {
    switch (a) {
    case WrittenDefinition::Action::Written:
        return "written";
    case WrittenDefinition::Action::Replaced:
        return "replaced";
    case WrittenDefinition::Action::Kept:
        return "kept";
    case WrittenDefinition::Action::Duplicate:
        break;
    }
    return "duplicate";
}

// Prints the outcome of each file; true when all were imported.
bool report(const ScanResult& scan) {
    bool all = true;
    for (const FileOutcome& f : scan.files) {
        for (const std::string& note : f.notes)
            std::printf("note      %s: %s\n", f.path.c_str(), note.c_str());
        if (f.imported)
            continue;
        all = false;
        std::string missing;
        for (const std::string& m : f.missingModules)
            missing += (missing.empty() ? "" : ", ") + m;
        std::printf("refused   %s: %s%s%s\n", f.path.c_str(), f.error.c_str(),
                    missing.empty() ? "" : "; missing modules: ", missing.c_str());
    }
    return all;
}

} // namespace

int main(int argc, char** argv) {
    ScanOptions options;
    WriteOptions write;
    std::vector<std::string> mibFiles, snmpttFiles;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&](const char* option) -> std::string {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "vardel-mib2ini: %s needs a value\n", option);
                usage(stderr);
                std::exit(kExitUsage);
            }
            return argv[++i];
        };
        if (a == "-M") {
            options.mibDirs.push_back(value("-M"));
        } else if (a == "-o") {
            write.programDir = value("-o");
        } else if (a == "--replace") {
            write.replace = true;
        } else if (a == "--snmptt") {
            snmpttFiles.push_back(value("--snmptt"));
        } else if (a == "-h" || a == "--help") {
            usage(stdout);
            return 0;
        } else if (a.size() > 1 && a[0] == '-') {
            std::fprintf(stderr, "vardel-mib2ini: unknown option %s\n", a.c_str());
            usage(stderr);
            return kExitUsage;
        } else {
            std::error_code ec;
            if (fs::is_directory(a, ec)) {
                const std::vector<std::string> inFolder = FilesInFolder(a);
                mibFiles.insert(mibFiles.end(), inFolder.begin(), inFolder.end());
            } else {
                mibFiles.push_back(a);
            }
        }
    }
    if (mibFiles.empty() && snmpttFiles.empty()) {
        usage(stderr);
        return kExitUsage;
    }
    if (write.programDir.empty())
        write.programDir = progdir::programDirectory();
    if (write.programDir.back() != '/')
        write.programDir += '/';
    options.programDir = write.programDir;
    options.releaseParser = false; // the process ends after one scan

    bool allImported = true;
    std::vector<Notification> found;
    if (!mibFiles.empty()) {
        ScanResult scan = ScanMibFiles(mibFiles, options);
        allImported = report(scan) && allImported;
        std::move(scan.notifications.begin(), scan.notifications.end(), std::back_inserter(found));
    }
    for (const std::string& f : snmpttFiles) {
        ScanResult scan = ScanSnmpttConf(f);
        allImported = report(scan) && allImported;
        std::move(scan.notifications.begin(), scan.notifications.end(), std::back_inserter(found));
    }
    if (found.empty())
        return allImported ? 0 : kExitRefused;

    const WriteResult result = WriteDefinitions(found, write);
    if (!result.ok) {
        std::fprintf(stderr, "vardel-mib2ini: %s; the index (VDTrap.ini) is unchanged\n",
                     result.error.c_str());
        return kExitWrite;
    }
    for (std::size_t i = 0; i < result.definitions.size() && i < found.size(); ++i) {
        const WrittenDefinition& w = result.definitions[i];
        const char* why = w.action == WrittenDefinition::Action::Kept ? " (exists; --replace replaces it)"
                          : w.action == WrittenDefinition::Action::Duplicate
                              ? " (key given twice; the first is kept)"
                              : "";
        std::printf("%-9s %s %s %s %s%s\n", actionWord(w.action), w.trapKey.c_str(), found[i].name.c_str(),
                    SeverityKeyword(found[i].severity), w.file.c_str(), why);
    }
    return allImported ? 0 : kExitRefused;
}
