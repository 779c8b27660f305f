#pragma once
// The program's string table: every user-visible text not in a dialog form.

#include <initializer_list>
#include <string>

enum StringId : int {
    IDS_SOCKETS_INIT_FAILED = 103,
    IDS_PRODUCT_TITLE = 104,
    IDS_ALREADY_RUNNING = 105,
    IDS_MS_LIST_FAILED = 106,
    IDS_USE_LOCAL = 107,
    IDS_NO_MEMORY = 108,
    IDS_SELECT_SERVER = 111,
    IDS_NOT_LAUNCHED = 112,
    IDS_SNMP_INIT_ERROR = 118,
    IDS_WINSOCK_INIT = 119,
    IDS_INI_WRITE = 120,
    IDS_HOSTNAME_ERROR = 121,
    IDS_CLIENT_IP_ERROR = 122,
    IDS_NEW_CONSOLE = 123,
    IDS_SERVER_LIST_FILL = 124,
    IDS_SNMP_POLL_INIT = 125,
    IDS_ENTERPRISE_LIST = 126,
    IDS_WRITE_BACK_QUESTION = 127,
    IDS_WRITE_BACK_FAILED = 128,
    IDS_CANCEL_QUESTION = 129,
    IDS_ENTER_IP = 130,
    IDS_BAD_IP_SYNTAX = 131,
    IDS_ENTER_IP_OR_IPX = 132,
    IDS_BAD_IPX_SYNTAX = 133,
    IDS_ENTER_COMMUNITY = 134,
    IDS_SELECT_NOS = 135,
    IDS_ADD_SERVERS = 136,
    IDS_CLEAR_ALL_QUESTION = 137,
    IDS_SERVER_NAME = 142,
    IDS_NOS = 143,
    IDS_IP_ADDRESS = 144,
    IDS_IPX_ADDRESS = 145,
    IDS_COMMUNITY = 146,
    IDS_ALERT_DESTINATION = 147,
    IDS_READ_ONLY = 148,
    IDS_OUTSTANDING_ALERTS = 149,
    IDS_SNMP_STATUS = 150,
    IDS_UNKNOWN_ALERT = 151,
    IDS_CONTACTING_MS = 152,
    IDS_PLEASE_WAIT = 153,
    IDS_WRITING_LIST = 154,
    IDS_PRINT_HEADING = 155,
    IDS_DATE_AND_TIME = 156,
    IDS_ALERT_STRING = 157,
    IDS_DESCRIPTION = 158,
    IDS_LAUNCH_FAILED = 159,
    IDS_RETRY_TOO_SMALL = 160,
    IDS_POLL_TOO_SMALL = 161,
    IDS_NEXT_CYCLE = 162,
    IDS_EDIT_SERVERS = 163,
    IDS_POLLING = 164,
    IDS_AGENT_OK = 165,
    IDS_NOT_RESPONDING = 166,
    IDS_LAUNCH_ONLY_UP = 167,
    IDS_MANAGEMENT_ONLY_UP = 168,
    IDS_AGENTS_INI_ERROR = 169,
    IDS_STATUS = 170,
    IDS_AGENT_NAME = 171,
    IDS_DOWN = 172,
    IDS_UP = 173,
    IDS_CHECKING = 174,
    IDS_SET = 175,
    IDS_NOT_SET = 176,
    IDS_NO_ADDRESS = 177,
    IDS_NO_SERVER_INFO = 178,
    IDS_GETTING_AGENTS = 179,
    // The dialog framework's own text for a field longer than it takes; %1 is the limit.
    IDS_FRAMEWORK_MAX_CHARS = 0xF113,
    // Follows string 128 when the list changed on the management server.
    IDS_LIST_CHANGED_MEANWHILE = 180,
    // Shown instead of an empty tree when the peers refuse the protocol browsing needs.
    IDS_SMB1_REFUSED = 181,
    // Why the alert destination is NOT SET.
    IDS_DESTINATION_NO_ANSWER = 182,
    IDS_DESTINATION_NO_SUCH_OBJECT = 183,
    IDS_DESTINATION_NOT_WRITABLE = 184,
    IDS_DESTINATION_REFUSED = 185,
    IDS_DESTINATION_NOT_SENT = 186,
    // The count of the server list disagrees with its names: %1 file, %2 names, %3 the count's text.
    IDS_SERVER_COUNT_WRONG = 187,
    IDS_SERVER_COUNT_MISSING = 188,
    // Follows string 126: %1 the trap-definition index, %2 its count's text.
    IDS_ENTERPRISE_COUNT_BAD = 189,
    // OK would save a list without servers nobody removed: %1 file, %2 their names.
    IDS_SERVERS_NOT_LOADED = 190,
    // Follows string 128 when the server holds a list this console never fetched.
    IDS_LIST_NOT_FETCHED = 191,
    // A server name the console file cannot hold: %1 the name.
    IDS_BAD_SERVER_NAME = 192,
    // The notify window's line once the outstanding alerts reached their ceiling; %1 is the ceiling.
    IDS_ALERTS_DROPPED = 193,
    // The Trap Definitions dialog and its import.
    IDS_TRAPDEF_CHOOSE_MIBS = 194,
    IDS_TRAPDEF_CHOOSE_FOLDER = 195,
    IDS_TRAPDEF_READ_ONLY = 196,
    // %1 the enterprise, %2 its definition file.
    IDS_TRAPDEF_REMOVE_QUESTION = 197,
    // %1 a file, %2 why it was refused (the parser's messages).
    IDS_TRAPDEF_FILE_REFUSED = 198,
    // %1 the modules.
    IDS_TRAPDEF_MISSING_MODULES = 199,
    IDS_TRAPDEF_NOTHING_FOUND = 200,
    // %1 why.
    IDS_TRAPDEF_WRITE_FAILED = 201,
    // %1 the enterprise, %2 why.
    IDS_TRAPDEF_REMOVE_FAILED = 202,
    // %1 the file just read, %2 files read, %3 files in all.
    IDS_TRAPDEF_PROGRESS = 203,
    IDS_TRAPDEF_CANCELLED = 204,
    // %1 notifications, %2 files imported, %3 files chosen.
    IDS_TRAPDEF_PREVIEW_SUMMARY = 205,
    IDS_TRAPDEF_STATUS_NEW = 206,
    IDS_TRAPDEF_STATUS_EXISTS = 207,
    IDS_TRAPDEF_STATUS_DUPLICATE = 208,
    IDS_TRAPDEF_CHOOSE_SNMPTT = 209,
    // Define... of an unclassified alert without a handler: %1 the enterprise, %2 the program directory.
    IDS_DEFINE_WHERE = 210,
    // Unknown senders: the list's column headers.
    IDS_SENDER_ADDRESS = 211,
    IDS_SENDER_COUNT = 212,
    IDS_SENDER_LAST_TRAP = 213,
    IDS_SENDER_LAST_TIME = 214,
    // Add Server... with no sender chosen.
    IDS_CHOOSE_SENDER = 215,
    // The status-area icon: %1 outstanding alerts, %2 servers DOWN.
    IDS_TRAY_TOOLTIP = 230,
    IDS_TRAY_SHOW_ALERTS = 231,
    IDS_TRAY_SHOW_CONSOLE = 232,
    IDS_TRAY_QUIT = 233,
    // One desktop notification standing for a burst: %1 alerts, %2 servers.
    IDS_NOTIFY_STORM = 234,
    // The desktop notification's action.
    IDS_NOTIFY_SHOW = 235,
    // The Alerts page: its tab, its columns, the severity words.
    IDS_ALERTS_PAGE = 270,
    IDS_ALERTS_COL_NUMBER = 271,
    IDS_ALERTS_COL_TIME = 272,
    IDS_ALERTS_COL_SERVER = 273,
    IDS_ALERTS_COL_SEVERITY = 274,
    IDS_ALERTS_COL_DESCRIPTION = 275,
    IDS_ALERTS_COL_TEXT = 276,
    IDS_ALERTS_COL_COUNT = 277,
    IDS_ALERTS_COL_ACKNOWLEDGED = 278,
    IDS_SEVERITY_CRITICAL = 279,
    IDS_SEVERITY_WARNING = 280,
    IDS_SEVERITY_INFORMATIONAL = 281,
    IDS_SEVERITY_NORMAL = 282,
    IDS_SEVERITY_UNKNOWN = 283,
    IDS_SEVERITY_ANY = 284,
    // %1 alerts shown of %2 outstanding.
    IDS_ALERTS_SHOWN = 285,
    IDS_ALERTS_FILTERING = 286,
    IDS_NO_CRITICAL_SHOWN = 287,
    // Server Status tooltips: a time; %1 tries of %2 seconds.
    IDS_LAST_ANSWER = 288,
    IDS_NO_ANSWER_YET = 289,
    IDS_NEXT_POLL = 290,
    IDS_FAILURE_AGENT_SILENT = 291,
    IDS_FAILURE_HOST_SILENT = 292,
    IDS_FAILURE_NOT_SENT = 293,
    // Acknowledged members of a group: %1 of %2.
    IDS_ALERTS_PART_ACKNOWLEDGED = 294,
    // Acknowledge: the notification's action; the notify window's line, %1 the user, %2 when.
    IDS_NOTIFY_ACKNOWLEDGE = 240,
    IDS_ACKNOWLEDGED_BY = 241,
    // Snooze: the tray's submenu, the Server Status tab's context menu and its periods.
    IDS_TRAY_SNOOZE_ALL = 242,
    IDS_SNOOZE_15_MIN = 243,
    IDS_SNOOZE_1_HOUR = 244,
    IDS_SNOOZE_TOMORROW = 245,
    IDS_SNOOZE_END = 246,
    IDS_SNOOZE_SERVER = 247,
    // The status grid's attention column: its header, a snooze (%1 its end), flapping.
    IDS_GRID_ATTENTION = 248,
    IDS_SNOOZED_UNTIL = 249,
    IDS_FLAPPING = 250,
    // The flapping alert: its description, and its text (%1 changes, %2 minutes).
    IDS_FLAPPING_DESCRIPTION = 251,
    IDS_FLAPPING_TEXT = 252,
    // Advanced Options: a quiet-hours time that does not read as HH:MM.
    IDS_QUIET_HOURS_BAD = 253,
    // Advanced Options: flapping limits below 2 changes or 1 minute.
    IDS_FLAPPING_BAD = 254,
    // A typed IPv6 address refused by its syntax check.
    IDS_BAD_IP6_SYNTAX = 440,
    // SNMPv3: the mark beside DOWN for an agent that refused the credentials,
    // and the reasons of a refusal.
    IDS_V3_AUTH_MARK = 400,
    IDS_V3_TIMEOUT = 401,
    IDS_V3_UNKNOWN_USER = 402,
    IDS_V3_WRONG_DIGEST = 403,
    IDS_V3_DECRYPTION_ERROR = 404,
    IDS_V3_NOT_IN_TIME = 405,
    IDS_V3_UNKNOWN_ENGINE = 406,
    IDS_V3_UNSUPPORTED_LEVEL = 407,
    // The credentials file: %1 its path, %2 the reason.
    IDS_V3_FILE_UNREADABLE = 408,
    IDS_V3_FILE_NOT_WRITTEN = 409,
    // The console's engine ID: %1 the reason.
    IDS_V3_ENGINE_ID_FAILED = 410,
    // The SNMPv3 dialog's refusals.
    IDS_V3_PHRASE_TOO_SHORT = 411,
    IDS_V3_USER_MISSING = 412,
    IDS_V3_ENGINE_ID_BAD = 413,
    IDS_V3_CAPTION = 414,
    IDS_V3_PHRASE_NEEDED = 415,
};

// The text of a string; empty for a number the table does not hold.
const std::string& LoadString(int id);
// The text of a string with %1, %2, ... replaced by args in turn.
std::string FormatString(int id, std::initializer_list<std::string> args);
