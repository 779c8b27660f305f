#pragma once
// A quick reading of a MIB file's text, beside Net-SNMP's parser: the module
// names, the notifications in definition order with their whole DESCRIPTION
// (the parser cuts it at 4096 bytes), and SNMPTT's --# comments, which the
// parser's tokenizer drops.

#include <map>
#include <string>
#include <vector>

namespace definitions {

struct MibTextDefinition {
    std::string name;
    std::string description;    // whole, as written between the quotes
    std::string summary;        // --#SUMMARY, with %s, %d, ... as written
    std::vector<int> arguments; // --#ARGUMENTS {0,1,...}: 0-based object numbers
    std::string severity;       // --#SEVERITY word
};

struct MibText {
    std::vector<std::string> modules;           // every "NAME DEFINITIONS ::= BEGIN", in order
    std::vector<MibTextDefinition> definitions; // NOTIFICATION-TYPE and TRAP-TYPE, in order
};

// Empty error when text reads as MIB text; else why not (binary, no module).
std::string ReadMibText(const std::string& text, MibText& out);

// --#SUMMARY "%s is %d" with --#ARGUMENTS {1,0} -> "%2 is %1".
std::string SummaryAlertText(const MibTextDefinition& definition);

} // namespace definitions
