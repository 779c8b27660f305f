// The EVENTs of SNMPTT's snmptt.conf: EVENT name OID "category" severity,
// FORMAT, SDESC .. EDESC.

#include "platform/text/trim.h"
#include "vardel/definitions/definitions.h"

#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>

namespace definitions {

namespace {

std::string trim(const std::string& s) {
    return std::string(text::trim(s));
}

std::string firstWord(const std::string& line) {
    const std::size_t end = line.find_first_of(" \t");
    std::string w = line.substr(0, end);
    for (char& c : w)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return w;
}

// FORMAT's $n, $+n, $-n -> %n; $* -> every binding an alert keeps; $N the
// event's name, $s its severity, $c its category; other variables stay.
std::string formatText(const std::string& format, const std::string& name, const std::string& severity,
                       const std::string& category) {
    std::string out;
    for (std::size_t i = 0; i < format.size(); ++i) {
        if (format[i] != '$' || i + 1 >= format.size()) {
            out += format[i];
            continue;
        }
        std::size_t j = i + 1;
        if (format[j] == '+' || format[j] == '-')
            ++j;
        if (j < format.size() && std::isdigit(static_cast<unsigned char>(format[j]))) {
            std::size_t k = j;
            while (k < format.size() && std::isdigit(static_cast<unsigned char>(format[k])))
                ++k;
            out += "%" + format.substr(j, k - j);
            i = k - 1;
            continue;
        }
        switch (format[i + 1]) {
        case '*':
            for (int n = 1; n <= 10; ++n)
                out += (n == 1 ? "%" : " %") + std::to_string(n);
            break;
        case 'N':
            out += name;
            break;
        case 's':
            out += severity;
            break;
        case 'c':
            out += category;
            break;
        default:
            out += format.substr(i, 2);
            break;
        }
        ++i;
    }
    return out.substr(0, 511);
}

} // namespace

ScanResult ScanSnmpttConf(const std::string& file) {
    ScanResult result;
    result.files.resize(1);
    FileOutcome& outcome = result.files.front();
    outcome.path = file;
    struct stat st {};
    if (::stat(file.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        outcome.error = "cannot read it: not a file";
        return result;
    }
    if (st.st_size > kMaxMibFileBytes) {
        outcome.error = "not imported: " + std::to_string(st.st_size / (1024 * 1024)) +
                        " MB is more than an snmptt.conf holds";
        return result;
    }
    std::ifstream in(file, std::ios::binary);
    std::ostringstream whole;
    whole << in.rdbuf();
    const std::string text = whole.str();
    if (!in.good() && !in.eof()) {
        outcome.error = "cannot read it";
        return result;
    }
    if (text.find('\0') != std::string::npos) {
        outcome.error = "not an snmptt.conf file: it holds binary data";
        return result;
    }
    const std::string module = std::filesystem::path(file).stem().string();
    outcome.module = module;

    std::istringstream lines(text);
    std::string raw;
    int lineNo = 0;
    // The EVENT being read: the last notification, while haveCurrent.
    bool haveCurrent = false;
    auto cur = [&]() -> Notification* { return haveCurrent ? &result.notifications.back() : nullptr; };
    bool skipping = false; // an EVENT not imported: its lines are skipped
    bool inDesc = false;
    std::string category, severityWord;
    auto finish = [&] {
        if (Notification* c = cur(); c && c->alertText.empty())
            c->alertText = DefaultAlertText(c->name, {});
        haveCurrent = false;
    };
    while (std::getline(lines, raw)) {
        ++lineNo;
        const std::string line = trim(raw);
        const std::string where = "line " + std::to_string(lineNo);
        if (inDesc) {
            if (firstWord(line) == "EDESC") {
                inDesc = false;
            } else if (Notification* c = cur()) {
                c->description += (c->description.empty() ? "" : "\n") + line;
            }
            continue;
        }
        if (line.empty() || line[0] == '#')
            continue;
        const std::string word = firstWord(line);
        if (word == "EVENT") {
            finish();
            skipping = false;
            std::istringstream fields(line.substr(5));
            std::string name, oid;
            fields >> name >> oid;
            std::string rest;
            std::getline(fields, rest);
            rest = trim(rest);
            category.clear();
            if (!rest.empty() && rest[0] == '"') {
                const std::size_t end = rest.find('"', 1);
                category = rest.substr(1, end == std::string::npos ? std::string::npos : end - 1);
                rest = end == std::string::npos ? std::string() : trim(rest.substr(end + 1));
            }
            severityWord = rest.substr(0, rest.find_first_of(" \t"));
            Notification n;
            n.module = module;
            n.name = name;
            n.sourceFile = file;
            std::string numeric = oid;
            if (!numeric.empty() && numeric[0] == '.')
                numeric.erase(0, 1);
            if (oid.find('*') != std::string::npos) {
                outcome.notes.push_back(where + ": EVENT " + name + " " + oid +
                                        ": a wildcard OID matches many traps; not imported");
                skipping = true;
                continue;
            }
            if (!TrapKeyOf(numeric, n.enterprise, n.trapKey)) {
                outcome.notes.push_back(where + ": EVENT " + name + " " + oid +
                                        ": not a numeric OID; not imported");
                skipping = true;
                continue;
            }
            n.oid = numeric;
            if (SeverityFromWord(severityWord, n.severity)) {
                n.severityFrom = "EVENT";
            } else {
                n.severity = SeverityFromName(name);
                n.severityFrom = "name";
            }
            result.notifications.push_back(std::move(n));
            haveCurrent = true;
        } else if (word == "FORMAT") {
            if (Notification* c = cur())
                c->alertText = formatText(trim(line.substr(6)), c->name, severityWord, category);
        } else if (word == "SDESC") {
            inDesc = true;
        } else if (word == "EXEC" || word == "PREEXEC" || word == "MATCH" || word == "REGEX" ||
                   word == "NODES") {
            if (!skipping)
                outcome.notes.push_back(where + ": " + word + (cur() ? " of EVENT " + cur()->name : "") +
                                        " is not imported");
        } else if (word != "EDESC") {
            outcome.notes.push_back(where + ": unknown line \"" + line.substr(0, 60) + "\"; left out");
        }
    }
    finish();
    if (inDesc)
        outcome.notes.push_back("SDESC without EDESC at the end of the file");
    outcome.imported = true;
    outcome.notifications = static_cast<int>(result.notifications.size());
    return result;
}

} // namespace definitions
