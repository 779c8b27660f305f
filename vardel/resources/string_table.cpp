#include "vardel/resources/string_table.h"

#include <string>
#include <unordered_map>

namespace {

const std::unordered_map<int, std::string>& table() {
    static const std::unordered_map<int, std::string> strings = {
        {IDS_SOCKETS_INIT_FAILED, "Windows sockets initialization failed."},
        {IDS_PRODUCT_TITLE, "Orv Corvanta Vardel 5.5"},
        {IDS_ALREADY_RUNNING, "Vardel is already running!!"},
        {IDS_MS_LIST_FAILED, "Could not get the server list from the Management server"},
        {IDS_USE_LOCAL, "Will use local one."},
        {IDS_NO_MEMORY, "Error allocating memory."},
        {IDS_SELECT_SERVER, "Please a select a server from the list."},
        {IDS_NOT_LAUNCHED, "There are no Servers UP. \"Corvanta For Servers\" will not be launched."},
        {IDS_SNMP_INIT_ERROR, "Error initializing SNMP."},
        {IDS_WINSOCK_INIT, "Could not initialize Winsock."},
        {IDS_INI_WRITE, "Could not write to the INI file."},
        {IDS_HOSTNAME_ERROR, "Error Getting HostName."},
        {IDS_CLIENT_IP_ERROR, "Could not get client IP address."},
        {IDS_NEW_CONSOLE, "This is a new Management Console. The Alert Destination has not been set on the "
                          "servers using this console address.\nPlease select all the servers in the "
                          "configuration Tab and press on the Reset Alert Destination Button."},
        {IDS_SERVER_LIST_FILL, "Could not fill the Server List."},
        {IDS_SNMP_POLL_INIT, "Could not initialize SNMP for Polling."},
        {IDS_ENTERPRISE_LIST, "Enterprise list Error."},
        {IDS_WRITE_BACK_QUESTION, "Would you like to write this server list back to the management Server"},
        {IDS_WRITE_BACK_FAILED, "Could not write the server list back to the management server"},
        {IDS_CANCEL_QUESTION, "All your changes to the Vardel configuration will be lost. Continue?"},
        {IDS_ENTER_IP, "Please Enter an IP Address."},
        {IDS_BAD_IP_SYNTAX,
         "The IP address does not have the right syntax:###.###.###.###.\nThe first entry should "
         "be between 1 and 223. The second, third and fourth should be between 0 and 255.\n"
         "Please enter a valid IP address."},
        {IDS_ENTER_IP_OR_IPX, "Please enter either an IP or an IPX Address."},
        {IDS_BAD_IPX_SYNTAX, "The IPX address does not have the right syntax:(8-12)\nxxxxxxxx-xxxxxxxxxxxx\n"
                             "Please enter a valid IPX address."},
        {IDS_ENTER_COMMUNITY, "Please enter an Snmp Community."},
        {IDS_SELECT_NOS, "Please select a NOS."},
        {IDS_ADD_SERVERS, "Add Servers"},
        {IDS_CLEAR_ALL_QUESTION, "Are you sure you want to clear all the Events?"},
        {IDS_SERVER_NAME, "Server Name"},
        {IDS_NOS, "NOS"},
        {IDS_IP_ADDRESS, "IP Address"},
        {IDS_IPX_ADDRESS, "IPX  Address"},
        {IDS_COMMUNITY, "Community"},
        {IDS_ALERT_DESTINATION, "Alert Destination"},
        {IDS_READ_ONLY, "READ ONLY"},
        {IDS_OUTSTANDING_ALERTS, "Outstanding Alerts"},
        {IDS_SNMP_STATUS, "SNMP Status"},
        {IDS_UNKNOWN_ALERT, "UNKNOWN Alert"},
        {IDS_CONTACTING_MS, "Trying to contact Management Server: "},
        {IDS_PLEASE_WAIT, "Please Wait..."},
        {IDS_WRITING_LIST, "Writing the Server List to the Management server: "},
        {IDS_PRINT_HEADING, "Orv Corvanta Vardel Information"},
        {IDS_DATE_AND_TIME, "Date and Time"},
        {IDS_ALERT_STRING, "Alert String"},
        {IDS_DESCRIPTION, "Description"},
        {IDS_LAUNCH_FAILED, "Could not launch Internet Explorer. Make sure Internet Explorer version 4.01 or "
                            "higher is installed on your system."},
        {IDS_RETRY_TOO_SMALL, "The Retry value cannot be less than 1."},
        {IDS_POLL_TOO_SMALL, "The Poll time value cannot be less than 1 minute."},
        {IDS_NEXT_CYCLE, "The changes will take effect on the next polling cycle."},
        {IDS_EDIT_SERVERS, "Edit Servers Information"},
        {IDS_POLLING, "Polling"},
        {IDS_AGENT_OK, "OK"},
        {IDS_NOT_RESPONDING, "Not Responding"},
        {IDS_LAUNCH_ONLY_UP,
         "You will only be able to launch\n \"Corvanta For Servers\"  for the servers that "
         "have the \"SNMP Status\" UP."},
        {IDS_MANAGEMENT_ONLY_UP, "You will only be able to see the Management Software on the servers that "
                                 "have the \"SNMP Status\" UP."},
        {IDS_AGENTS_INI_ERROR, "Error with the Agents.ini file."},
        {IDS_STATUS, "Status"},
        {IDS_AGENT_NAME, "Agent Name"},
        {IDS_DOWN, "DOWN"},
        {IDS_UP, "UP"},
        {IDS_CHECKING, "Checking...."},
        {IDS_SET, "SET"},
        {IDS_NOT_SET, "NOT SET"},
        {IDS_NO_ADDRESS, "Cannot find the Adddress of the server."},
        {IDS_NO_SERVER_INFO, "Cannot Access Server Information."},
        {IDS_GETTING_AGENTS, "Trying to get Agents status on:"},
        {IDS_FRAMEWORK_MAX_CHARS, "Please enter no more than %1 characters."},
        {IDS_LIST_CHANGED_MEANWHILE, "Another console changed the server list on the management server "
                                     "meanwhile. This console's list is kept in"},
        {IDS_SMB1_REFUSED,
         "The Microsoft Windows Network cannot be browsed: its computers refuse the SMB1 "
         "protocol that network browsing needs. Add the servers with Add Servers Manually."},
        {IDS_DESTINATION_NO_ANSWER, "No answer from the server's agent."},
        {IDS_DESTINATION_NO_SUCH_OBJECT,
         "The server's agent has no such object, or does not let this community write it "
         "(noSuchName)."},
        {IDS_DESTINATION_NOT_WRITABLE, "The object is not writable on the server's agent (notWritable)."},
        {IDS_DESTINATION_REFUSED, "The server's agent refused the SET with error status"},
        {IDS_DESTINATION_NOT_SENT, "The request could not be sent to the server."},
        {IDS_SERVER_COUNT_WRONG, "The server list in %1 holds %2 servers, but its count ([ServerInfo] "
                                 "NumServers) reads \"%3\". All %2 servers were loaded; OK saves the right "
                                 "count."},
        {IDS_SERVER_COUNT_MISSING,
         "The server list in %1 holds %2 servers, but it has no count ([ServerInfo] "
         "NumServers). All %2 servers were loaded; OK saves the right count."},
        {IDS_ENTERPRISE_COUNT_BAD, "The count of enterprises ([Header] TotalNum) in %1 reads \"%2\", which "
                                   "is no number of enterprises."},
        {IDS_SERVERS_NOT_LOADED, "%1 holds servers that are not in this console's list and were not removed "
                                 "here: %2.\nSave the server list without them?"},
        {IDS_LIST_NOT_FETCHED, "The management server holds a server list that this console has not fetched "
                               "(the fetch at start-up failed or was not asked for), and that list was left "
                               "as it is. This console's list is saved in"},
        {IDS_BAD_SERVER_NAME, "The server name \"%1\" cannot be stored in the server list. A name must not "
                              "begin or end with a blank, begin with ';', or hold a line break or another "
                              "control character, '=', '[' or ']'."},
        {IDS_ALERTS_DROPPED, "Over %1 alerts: the oldest are kept in VDLog.txt only."},
        {IDS_TRAPDEF_CHOOSE_MIBS, "Import MIB Files"},
        {IDS_TRAPDEF_CHOOSE_FOLDER, "Import a Folder of MIB Files"},
        {IDS_TRAPDEF_READ_ONLY, "This console has read-only access: it cannot import or remove trap "
                                "definitions."},
        {IDS_TRAPDEF_REMOVE_QUESTION, "Remove the enterprise %1 and its definition file %2?\nIts traps will "
                                      "no longer raise alerts."},
        {IDS_TRAPDEF_FILE_REFUSED, "%1 was not imported: %2"},
        {IDS_TRAPDEF_MISSING_MODULES, "Modules it imports that were not found: %1."},
        {IDS_TRAPDEF_NOTHING_FOUND, "No notifications were found; nothing was written."},
        {IDS_TRAPDEF_WRITE_FAILED, "The trap definitions could not be written: %1.\nThe index VDTrap.ini is "
                                   "unchanged."},
        {IDS_TRAPDEF_REMOVE_FAILED, "The enterprise %1 could not be removed: %2."},
        {IDS_TRAPDEF_PROGRESS, "Reading %1 (%2 of %3)"},
        {IDS_TRAPDEF_CANCELLED, "The import was cancelled; nothing was written."},
        {IDS_TRAPDEF_PREVIEW_SUMMARY, "%1 notifications in %2 of the %3 files chosen. A definition that "
                                      "exists is kept unless you replace it."},
        {IDS_TRAPDEF_STATUS_NEW, "new"},
        {IDS_TRAPDEF_STATUS_EXISTS, "exists"},
        {IDS_TRAPDEF_STATUS_DUPLICATE, "key given twice: left out"},
        {IDS_TRAPDEF_CHOOSE_SNMPTT, "Import snmptt.conf Files"},
        {IDS_DEFINE_WHERE, "No definition classifies the traps of enterprise %1.\n\nImport the MIB that "
                           "defines them with \"Trap Definitions...\" on the Configuration tab, or with "
                           "vardel-mib2ini -o %2 FILE."},
        {IDS_SENDER_ADDRESS, "Address"},
        {IDS_SENDER_COUNT, "Count"},
        {IDS_SENDER_LAST_TRAP, "Last trap"},
        {IDS_SENDER_LAST_TIME, "Last time"},
        {IDS_CHOOSE_SENDER, "Please select a sender from the list."},
        {IDS_TRAY_TOOLTIP, "%1 outstanding alerts, %2 servers DOWN"},
        {IDS_TRAY_SHOW_ALERTS, "Show Alerts"},
        {IDS_TRAY_SHOW_CONSOLE, "Show Console"},
        {IDS_TRAY_QUIT, "Quit"},
        {IDS_NOTIFY_STORM, "%1 new alerts from %2 servers"},
        {IDS_NOTIFY_SHOW, "Show"},
        {IDS_ALERTS_PAGE, "Alerts"},
        {IDS_ALERTS_COL_NUMBER, "#"},
        {IDS_ALERTS_COL_TIME, "Time"},
        {IDS_ALERTS_COL_SERVER, "Server"},
        {IDS_ALERTS_COL_SEVERITY, "Severity"},
        {IDS_ALERTS_COL_DESCRIPTION, "Description"},
        {IDS_ALERTS_COL_TEXT, "Alert text"},
        {IDS_ALERTS_COL_COUNT, "Count"},
        {IDS_ALERTS_COL_ACKNOWLEDGED, "Acknowledged"},
        {IDS_SEVERITY_CRITICAL, "Critical"},
        {IDS_SEVERITY_WARNING, "Warning"},
        {IDS_SEVERITY_INFORMATIONAL, "Informational"},
        {IDS_SEVERITY_NORMAL, "Normal"},
        {IDS_SEVERITY_UNKNOWN, "Unknown"},
        {IDS_SEVERITY_ANY, "All severities"},
        {IDS_ALERTS_SHOWN, "%1 of %2 alerts"},
        {IDS_ALERTS_FILTERING, "%1 of %2 alerts (filtering...)"},
        {IDS_NO_CRITICAL_SHOWN, "No critical alert is shown."},
        {IDS_LAST_ANSWER, "Last answer: %1"},
        {IDS_NO_ANSWER_YET, "Last answer: none yet"},
        {IDS_NEXT_POLL, "Next poll: %1"},
        {IDS_FAILURE_AGENT_SILENT, "The agent did not answer (%1 tries of %2 s)."},
        {IDS_FAILURE_HOST_SILENT, "The agent did not answer and the host did not answer the echo."},
        {IDS_FAILURE_NOT_SENT, "The request could not be sent (SNMP error %1)."},
        {IDS_ALERTS_PART_ACKNOWLEDGED, "%1 of %2"},
        {IDS_NOTIFY_ACKNOWLEDGE, "Acknowledge"},
        {IDS_ACKNOWLEDGED_BY, "Acknowledged by %1, %2"},
        {IDS_TRAY_SNOOZE_ALL, "Snooze All"},
        {IDS_SNOOZE_15_MIN, "15 min"},
        {IDS_SNOOZE_1_HOUR, "1 h"},
        {IDS_SNOOZE_TOMORROW, "Until tomorrow"},
        {IDS_SNOOZE_END, "End Snooze"},
        {IDS_SNOOZE_SERVER, "Snooze"},
        {IDS_GRID_ATTENTION, "Attention"},
        {IDS_SNOOZED_UNTIL, "Snoozed until %1"},
        {IDS_FLAPPING, "Flapping"},
        {IDS_FLAPPING_DESCRIPTION, "The server's status keeps changing (flapping)"},
        {IDS_FLAPPING_TEXT, "Flapping: %1 status changes in %2 minutes. Its state-change alerts are kept "
                            "quiet until it has been stable for %2 minutes."},
        {IDS_QUIET_HOURS_BAD, "The quiet hours must be given as HH:MM (00:00 to 23:59)."},
        {IDS_FLAPPING_BAD, "Flapping needs at least 2 changes in at least 1 minute."},
        {IDS_BAD_IP6_SYNTAX,
         "The IPv6 address does not have the right syntax: eight groups of one to four hexadecimal "
         "digits separated by colons, :: standing once for a run of zero groups (example: fd00::15).\n"
         "The unspecified address ::, multicast (ff00::/8), link-local (fe80::/10) and IPv4-mapped "
         "addresses cannot be used.\nPlease enter a valid IPv6 address."},
        {IDS_V3_AUTH_MARK, "AUTH"},
        {IDS_V3_TIMEOUT, "The agent did not answer (time-out)."},
        {IDS_V3_UNKNOWN_USER, "The agent does not know the SNMPv3 user (unknown user name)."},
        {IDS_V3_WRONG_DIGEST, "The agent refused the SNMPv3 authentication key (wrong digest)."},
        {IDS_V3_DECRYPTION_ERROR,
         "The SNMPv3 message could not be decrypted (decryption error: wrong privacy key)."},
        {IDS_V3_NOT_IN_TIME, "The SNMPv3 message was outside the agent's time window."},
        {IDS_V3_UNKNOWN_ENGINE, "The agent does not know the SNMPv3 engine ID."},
        {IDS_V3_UNSUPPORTED_LEVEL, "The agent does not support the security level of the SNMPv3 user."},
        {IDS_V3_FILE_UNREADABLE,
         "The SNMPv3 credentials file %1 could not be read: %2.\nServers with an SNMPv3 "
         "user are polled with their community, and the file is left as it is."},
        {IDS_V3_FILE_NOT_WRITTEN, "The SNMPv3 credentials file %1 could not be written: %2."},
        {IDS_V3_ENGINE_ID_FAILED,
         "The console's SNMPv3 engine ID could not be kept: %1.\nSNMPv3 is not used."},
        {IDS_V3_PHRASE_TOO_SHORT, "A pass phrase must have at least 8 characters."},
        {IDS_V3_USER_MISSING, "Please enter the SNMPv3 user name, or clear every field to remove the user."},
        {IDS_V3_ENGINE_ID_BAD, "The engine ID must be 5 to 32 octets in hexadecimal, for example "
                               "80001F8880C71100A1B2C3D4."},
        {IDS_V3_CAPTION, "SNMPv3"},
        {IDS_V3_PHRASE_NEEDED, "Please enter the pass phrases of the SNMPv3 user."},
    };
    return strings;
}

} // namespace

const std::string& LoadString(int id) {
    static const std::string empty;
    auto it = table().find(id);
    return it == table().end() ? empty : it->second;
}

std::string FormatString(int id, std::initializer_list<std::string> args) {
    const std::string& pattern = LoadString(id);
    std::string out;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const char next = i + 1 < pattern.size() ? pattern[i + 1] : '\0';
        const std::size_t n = static_cast<std::size_t>(next - '1');
        if (pattern[i] == '%' && next >= '1' && next <= '9' && n < args.size()) {
            out += *(args.begin() + n);
            ++i;
        } else {
            out += pattern[i];
        }
    }
    return out;
}
