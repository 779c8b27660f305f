#pragma once
// Trap definitions from MIB files and snmptt.conf files: the notifications a
// file defines, their trap keys, alert texts and severities, and their writing
// into the definition files, help pages and index (VDTrap.ini) of a program
// directory.
//
// Threads: Net-SNMP's MIB parser keeps all its state in globals. ScanMibFiles
// holds one process-wide lock for the whole parse and is meant to run on one
// worker thread; nothing else in the program may use the parser (the trap
// thread works on numeric OIDs and never reads the MIB tree, so it is safe
// during an import). The other functions touch no parser state: any thread
// may call them, one write to a program directory at a time. Writes replace
// each file atomically and the index last, so a trap classified meanwhile
// sees either the old or the new definitions.
//
// No function throws; outcomes are values.

#include <atomic>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace definitions {

enum class Severity { Informational, Normal, Warning, Critical };

// The keyword the classifier reads: "INFORMATIONAL", "NORMAL", "WARNING", "CRITICAL".
const char* SeverityKeyword(Severity severity);
// A severity word of a MIB comment (--#SEVERITY) or an snmptt.conf EVENT, any
// case: critical, major, fatal -> Critical; warning, minor -> Warning; normal,
// ok, cleared -> Normal; informational, info, unknown, indeterminate ->
// Informational. False for any other word.
bool SeverityFromWord(const std::string& word, Severity& severity);
// The severity that a notification's name suggests, from its words (camel case
// and '-' split it): restored, recovered, up, ok, clear, cleared, normal ->
// Normal; else fail, failed, failure, fault, down, shutdown, error, critical,
// lost -> Critical; else threshold, high, low, warning, exceeded, degraded,
// alarm -> Warning; else Informational.
Severity SeverityFromName(const std::string& name);

// The trap key of a notification, by RFC 3584 section 3.1: the enterprise is
// the OID without its last sub-identifier, and without the one before it too
// when that is 0; the key is the enterprise, '.', and the last sub-identifier.
// A TRAP-TYPE's OID here is its enterprise, 0 and its number. Dotted decimal,
// no leading dot. False for an OID of fewer than two sub-identifiers.
bool TrapKeyOf(const std::string& oid, std::string& enterprise, std::string& trapKey);

// The alert text for a notification: its name and objects, the objects as %1
// .. %10 (an alert keeps 10 bindings), within the 511 bytes the classifier reads.
std::string DefaultAlertText(const std::string& name, const std::vector<std::string>& objects);

// One notification found in a file.
struct Notification {
    std::string module;                          // module name; snmptt.conf: the file name less its extension
    std::string name;                            // its descriptor (snmptt.conf: the EVENT name)
    std::string oid;                             // v2 form OID; a TRAP-TYPE's is enterprise.0.number
    bool trapType = false;                       // an SMIv1 TRAP-TYPE
    std::string enterprise;                      // TrapKeyOf(oid)
    std::string trapKey;                         // TrapKeyOf(oid)
    std::vector<std::string> objects;            // its OBJECTS / VARIABLES, in order
    std::string description;                     // DESCRIPTION (the parser keeps 4096 bytes) or SDESC..EDESC
    std::string alertText;                       // AlarmString: --#SUMMARY or FORMAT, else DefaultAlertText
    Severity severity = Severity::Informational; // editable before writing
    std::string severityFrom;                    // "--#SEVERITY", "EVENT", or "name" (the word rule)
    std::string sourceFile;
};

// What became of one input file. A refused file contributes no notification.
struct FileOutcome {
    std::string path;
    std::string module; // first module of a MIB file, where known
    bool imported = false;
    std::string error;                       // why it was refused, parser messages included
    std::vector<std::string> missingModules; // imports that were not found
    std::vector<std::string> notes;          // what was imported only in part, or left out
    int notifications = 0;
};

struct ScanResult {
    std::vector<Notification> notifications; // file order, then definition order
    std::vector<FileOutcome> files;          // one per input file, in input order
    bool cancelled = false;                  // nothing of a cancelled scan may be written
};

// Called after each file with the files done, their total and the file just
// done; returning false cancels the scan.
using Progress = std::function<bool(int done, int total, const std::string& file)>;

struct ScanOptions {
    // Searched for imported modules after each file's own folder, in this order.
    std::vector<std::string> mibDirs;
    // The program directory (trailing '/'): its mibs/ is searched after mibDirs.
    std::string programDir;
    // The program's own base modules, searched last; empty: BaseModuleDirectory().
    std::string baseModuleDir;
    // Also searched unless false: ~/.snmp/mibs, /usr/share/snmp/mibs and its ietf/ and iana/.
    bool systemDirs = true;
    Progress progress;
    const std::atomic<bool>* cancel = nullptr; // checked between files
    // False leaves the parsed tree to the process's exit (a command-line run):
    // freeing it takes the parser time in the square of the modules read
    // (about 20 s after 1,100 files). The next scan frees it first.
    bool releaseParser = true;
};

// Files larger than this are refused unread.
inline constexpr long long kMaxMibFileBytes = 16 * 1024 * 1024;

// The directories searched for the imports of a file in folder, highest
// priority first.
std::vector<std::string> SearchPath(const std::string& folder, const ScanOptions& options);
// mibs/ beside the running program file (trailing '/').
std::string BaseModuleDirectory();

// The regular files of a folder that are not hidden, sorted: its MIB files.
std::vector<std::string> FilesInFolder(const std::string& folder);
// The folders whose modules give the names of traps that have no definition:
// the program directory's mibs/, ~/.snmp/mibs, /usr/share/snmp/mibs and its
// ietf/ and iana/, and the program's own base modules.
std::vector<std::string> NameSearchPath(const std::string& programDir);

struct OidNames {
    std::string notification;         // MODULE::name; empty when no loaded module defines it
    std::vector<std::string> objects; // per binding OID: name.instance, or empty
};
// Names a notification and its bindings' objects from every module of the
// folders (read all at the first call, and again after a scan, which frees the
// parser's tree). Never waits for the parser: false, leaving names empty, while
// a scan holds it. Meant for the trap thread; the folders are loaded once per
// list given.
bool NameNotification(const std::vector<std::string>& folders, const std::string& notifyOid,
                      const std::vector<std::string>& bindingOids, OidNames& names);

// Every NOTIFICATION-TYPE and TRAP-TYPE of the files; see the lock above.
ScanResult ScanMibFiles(const std::vector<std::string>& files, const ScanOptions& options);
// The EVENTs of an snmptt.conf file. Wildcard OIDs and EXEC, PREEXEC, MATCH,
// REGEX and NODES lines are reported in the file's notes, not imported.
ScanResult ScanSnmpttConf(const std::string& file);

struct WriteOptions {
    std::string programDir; // trailing '/'
    bool replace = false;   // replace sections that exist; else they are kept
    bool dryRun = false;    // only what would be done: nothing is written
};

struct WrittenDefinition {
    std::string trapKey;
    std::string name;
    std::string file; // definition file name in the program directory
    enum class Action { Written, Replaced, Kept, Duplicate } action = Action::Written;
};

struct WriteResult {
    bool ok = true; // false: error says why; the index is then left unchanged
    std::string error;
    std::vector<WrittenDefinition> definitions; // one per notification given
    std::vector<std::string> filesWritten;      // names in the program directory
};

// Writes the notifications into one definition file per enterprise (the one
// the index names, or a new <MODULE>.INI), one help page per module
// (<MODULE>.html, one anchor per notification: its HelpID), and the index. A
// key given twice keeps its first notification (Duplicate).
WriteResult WriteDefinitions(const std::vector<Notification>& notifications, const WriteOptions& options);

// The section of VDTrap.ini that keys what the listener's rule cannot: the
// rule makes a trap's key from its enterprise, '.', and the text after the
// first ".0." of its identifier, which fails for a v2 identifier whose
// next-to-last sub-identifier is not 0 (UCD-SNMP-MIB's ucdStart) and for an
// enterprise that holds ".0." itself. Each key of the section is such an
// identifier, its value the trap key it takes. WriteDefinitions writes the
// entries of the notifications it defines (or keeps).
inline constexpr const char* kNotificationKeysSection = "NotificationKeys";
// The identifiers a notification can arrive with (its OID and the v1 form
// enterprise.0.specific) that the rule keys otherwise than as its trapKey.
std::vector<std::string> IdentifiersNotKeyedByRule(const Notification& notification);
// The entries of that section: identifier -> trap key.
std::vector<std::pair<std::string, std::string>> ReadNotificationKeys(const std::string& programDir);

// One enterprise of the index.
struct Enterprise {
    std::string oid;
    std::string file;    // definition file name
    std::string module;  // the module it was imported from, where known
    int definitions = 0; // sections of the file for this enterprise's keys
};
std::vector<Enterprise> ListEnterprises(const std::string& programDir);
// Takes the enterprise out of the index, with the identifiers its keys had
// in [NotificationKeys]; with deleteFile, then deletes its definition file
// unless another enterprise of the index names it. False when it is not
// listed or the index could not be written (nothing changed); a file that
// could not be deleted after that sets error and leaves the result true.
bool RemoveEnterprise(const std::string& programDir, const std::string& oid, bool deleteFile = false,
                      std::string* error = nullptr);

} // namespace definitions
