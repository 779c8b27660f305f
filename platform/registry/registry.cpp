#include "platform/registry/registry.h"

#include "platform/profile/profile.h"
#include "platform/text/trim.h"

#include <algorithm>
#include <fstream>
#include <sstream>
#include <vector>

namespace registry {

namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

std::string_view trim(std::string_view s) {
    return text::trim(s, " \t\r");
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; };
               return lower(x) == lower(y);
           });
}

// The file split into lines without their '\n' (a CRLF line keeps its '\r').
struct Lines {
    std::string bom;
    std::vector<std::string> lines;
    bool finalNewline = true;
    bool crlf = true;

    explicit Lines(std::string_view text) {
        if (text.substr(0, kUtf8Bom.size()) == kUtf8Bom) {
            bom = kUtf8Bom;
            text.remove_prefix(kUtf8Bom.size());
        }
        const std::size_t nl = text.find('\n');
        crlf = nl == std::string_view::npos || (nl > 0 && text[nl - 1] == '\r');
        finalNewline = text.empty() || text.back() == '\n';
        for (std::size_t pos = 0; pos < text.size();) {
            const std::size_t end = std::min(text.find('\n', pos), text.size());
            lines.emplace_back(text.substr(pos, end - pos));
            pos = end + 1;
        }
    }

    std::string join() const {
        std::string out = bom;
        for (std::size_t i = 0; i < lines.size(); ++i) {
            out += lines[i];
            if (finalNewline || i + 1 < lines.size())
                out += '\n';
        }
        return out;
    }

    void insert(std::size_t at, std::string content) {
        if (at == lines.size() && !finalNewline) {
            if (crlf && (lines.back().empty() || lines.back().back() != '\r'))
                lines.back() += '\r';
            finalNewline = true;
        }
        if (crlf)
            content += '\r';
        lines.insert(lines.begin() + std::ptrdiff_t(at), std::move(content));
    }
};

// A quoted regedit string from s[pos] == '"': \\ and \" are escapes.
bool parseQuoted(std::string_view s, std::size_t& pos, std::string& out) {
    out.clear();
    for (std::size_t i = pos + 1; i < s.size(); ++i) {
        if (s[i] == '"') {
            pos = i + 1;
            return true;
        }
        if (s[i] == '\\' && i + 1 < s.size() && (s[i + 1] == '\\' || s[i + 1] == '"'))
            ++i;
        out += s[i];
    }
    return false;
}

std::string quoted(std::string_view s) {
    std::string out = "\"";
    for (char c : s) {
        if (c == '\\' || c == '"')
            out += '\\';
        out += c;
    }
    return out + "\"";
}

struct Value {
    enum class Type { String, Dword, Binary, Other };
    std::string name;
    Type type = Type::Other;
    std::string text;          // of a string value
    std::size_t dataBytes = 0; // as the registry counts them
    std::size_t firstLine = 0, lastLine = 0;
    std::size_t prefixLength = 0; // of the first line, up to and including '='; 0: not a value
};

struct KeyView {
    std::size_t first = 0, end = 0; // the section's lines after its header
    std::vector<Value> values;
};

bool hasRegeditHeader(const Lines& l) {
    if (l.lines.empty())
        return false;
    const std::string_view first = trim(l.lines.front());
    return first == "Windows Registry Editor Version 5.00" || first == "REGEDIT4";
}

Value parseValueLine(const Lines& l, std::size_t& i, std::size_t end) {
    Value v;
    v.firstLine = v.lastLine = i;
    const std::string_view line = l.lines[i];
    std::size_t pos = line.find_first_not_of(" \t");
    if (pos == std::string_view::npos)
        return v;
    if (line[pos] == '@') {
        ++pos;
    } else if (line[pos] != '"' || !parseQuoted(line, pos, v.name)) {
        return v;
    }
    while (pos < line.size() && isBlank(line[pos]))
        ++pos;
    if (pos >= line.size() || line[pos] != '=')
        return v;
    v.prefixLength = ++pos;
    while (pos < line.size() && isBlank(line[pos]))
        ++pos;
    const std::string_view data = trim(line.substr(pos));
    if (!data.empty() && data[0] == '"') {
        std::size_t p = pos;
        if (parseQuoted(line, p, v.text)) {
            v.type = Value::Type::String;
            v.dataBytes = v.text.size() + 1;
        }
    } else if (data.substr(0, 6) == "dword:") {
        v.type = Value::Type::Dword;
        v.dataBytes = 4;
    } else if (data.substr(0, 3) == "hex") {
        // Bytes as comma-separated hex pairs, continued over lines ending in '\'.
        v.type = Value::Type::Binary;
        std::string_view rest = data.substr(std::min(data.find(':') + 1, data.size()));
        for (;;) {
            rest = trim(rest);
            const bool more = !rest.empty() && rest.back() == '\\';
            if (more)
                rest.remove_suffix(1);
            if (!trim(rest).empty())
                v.dataBytes += std::size_t(std::count(rest.begin(), rest.end(), ',')) +
                               (trim(rest).back() == ',' ? 0 : 1);
            if (!more || i + 1 >= end)
                break;
            rest = l.lines[++i];
        }
        v.lastLine = i;
    } else if (data == "-") {
        v.prefixLength = 0; // a deletion, not a value
    }
    return v;
}

// The console key's section in the file, if the file is a regedit file and has it.
std::optional<KeyView> findKey(const Lines& l) {
    if (!hasRegeditHeader(l))
        return std::nullopt;
    std::optional<KeyView> key;
    for (std::size_t i = 1; i < l.lines.size(); ++i) {
        const std::string_view t = trim(l.lines[i]);
        if (t.empty() || t.front() != '[')
            continue;
        if (key) {
            key->end = i;
            return key;
        }
        if (t.back() == ']' && equalsIgnoringCase(t.substr(1, t.size() - 2), kConsoleKeyPath)) {
            key.emplace();
            key->first = i + 1;
        }
    }
    if (key)
        key->end = l.lines.size();
    return key;
}

void parseValues(const Lines& l, KeyView& key) {
    for (std::size_t i = key.first; i < key.end; ++i) {
        std::size_t line = i;
        Value v = parseValueLine(l, line, key.end);
        if (v.prefixLength > 0)
            key.values.push_back(std::move(v));
        i = line;
    }
}

std::optional<KeyView> parseKey(const Lines& l) {
    auto key = findKey(l);
    if (key)
        parseValues(l, *key);
    return key;
}

const Value* findValue(const KeyView& key, std::string_view name) {
    for (const Value& v : key.values)
        if (equalsIgnoringCase(v.name, name))
            return &v;
    return nullptr;
}

constexpr std::string_view kUtf16LeBom = "\xFF\xFE";

void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += char(c);
    } else if (c < 0x800) {
        out += char(0xC0 | (c >> 6));
        out += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += char(0xE0 | (c >> 12));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    } else {
        out += char(0xF0 | (c >> 18));
        out += char(0x80 | ((c >> 12) & 0x3F));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    }
}

// UTF-16LE (after its byte-order mark) as UTF-8; an unpaired surrogate is kept
// as its own three bytes, so that writing the text back restores it.
std::string utf8FromUtf16Le(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() / 2);
    auto unit = [&](std::size_t i) {
        return char16_t(static_cast<unsigned char>(bytes[i]) | static_cast<unsigned char>(bytes[i + 1]) << 8);
    };
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        const char16_t u = unit(i);
        if (u >= 0xD800 && u < 0xDC00 && i + 3 < bytes.size() && unit(i + 2) >= 0xDC00 &&
            unit(i + 2) < 0xE000) {
            appendUtf8(out, 0x10000 + ((char32_t(u) - 0xD800) << 10) + (char32_t(unit(i + 2)) - 0xDC00));
            i += 2;
        } else {
            appendUtf8(out, u);
        }
    }
    return out;
}

// The reverse of utf8FromUtf16Le; a byte that starts no UTF-8 sequence stands
// for the Latin-1 character of its value.
std::string utf16LeFromUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size() * 2);
    auto put = [&](char32_t u) {
        out += char(u & 0xFF);
        out += char(u >> 8);
    };
    for (std::size_t i = 0; i < text.size();) {
        const auto b = static_cast<unsigned char>(text[i]);
        const std::size_t length = b < 0x80           ? 1
                                   : (b >> 5) == 0x6  ? 2
                                   : (b >> 4) == 0xE  ? 3
                                   : (b >> 3) == 0x1E ? 4
                                                      : 0;
        char32_t c = length == 1 ? b : length == 2 ? (b & 0x1F) : length == 3 ? (b & 0x0F) : (b & 0x07);
        bool valid = length > 0 && i + length <= text.size();
        for (std::size_t k = 1; valid && k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            valid = (next & 0xC0) == 0x80;
            c = (c << 6) | (next & 0x3F);
        }
        if (!valid || c > 0x10FFFF) {
            put(b);
            i += 1;
        } else if (c >= 0x10000) {
            put(0xD800 + ((c - 0x10000) >> 10));
            put(0xDC00 + ((c - 0x10000) & 0x3FF));
            i += length;
        } else {
            put(c);
            i += length;
        }
    }
    return out;
}

bool readText(const std::string& path, std::string& text) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    std::ostringstream s;
    s << in.rdbuf();
    if (in.bad())
        return false;
    text = s.str();
    return true;
}

} // namespace

std::optional<Key> Key::open(const std::string& regFilePath) {
    std::string text;
    if (!readText(regFilePath, text))
        return std::nullopt;
    // regedit 5.00 exports UTF-16LE with a byte-order mark; REGEDIT4 files are single-byte.
    const bool utf16 = text.compare(0, kUtf16LeBom.size(), kUtf16LeBom) == 0;
    if (utf16)
        text = utf8FromUtf16Le(std::string_view(text).substr(kUtf16LeBom.size()));
    if (!findKey(Lines(text)))
        return std::nullopt;
    Key key;
    key.m_path = regFilePath;
    key.m_utf16 = utf16;
    key.m_fileText = std::move(text);
    return key;
}

std::size_t Key::longestValueLength() const {
    const auto key = parseKey(Lines(m_fileText));
    std::size_t longest = 0;
    if (key)
        for (const Value& v : key->values)
            longest = std::max(longest, v.dataBytes);
    return longest;
}

std::optional<std::string> Key::read(std::string_view name, std::size_t bufferSize) const {
    const auto key = parseKey(Lines(m_fileText));
    const Value* v = key ? findValue(*key, name) : nullptr;
    if (!v || v->type != Value::Type::String || v->dataBytes > bufferSize)
        return std::nullopt;
    return v->text;
}

void Key::write(std::string_view name, std::string_view text, std::size_t dataLength) {
    // REG_SZ data ends at its first NUL and holds dataLength bytes with that NUL.
    std::string stored(text.substr(0, std::min(text.find('\0'), dataLength > 0 ? dataLength - 1 : 0)));
    // A line break would end the value's line; the file cannot hold one in a string.
    std::replace_if(
        stored.begin(), stored.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
    const std::string_view cleanName = name.substr(0, name.find('\0'));

    Lines lines(m_fileText);
    auto key = parseKey(lines);
    if (!key)
        return;
    const std::string data = quoted(stored);
    if (const Value* v = findValue(*key, cleanName)) {
        if (v->type == Value::Type::String && v->text == stored)
            return;
        std::string& first = lines.lines[v->firstLine];
        const bool cr = !lines.lines[v->lastLine].empty() && lines.lines[v->lastLine].back() == '\r';
        first = first.substr(0, v->prefixLength) + data + (cr ? "\r" : "");
        lines.lines.erase(lines.lines.begin() + std::ptrdiff_t(v->firstLine) + 1,
                          lines.lines.begin() + std::ptrdiff_t(v->lastLine) + 1);
    } else {
        std::size_t at = key->end;
        while (at > key->first && trim(lines.lines[at - 1]).empty())
            --at;
        lines.insert(at, (cleanName.empty() ? std::string("@") : quoted(cleanName)) + "=" + data);
    }
    m_fileText = lines.join();
    m_dirty = true;
}

bool Key::close() {
    if (!m_dirty)
        return true;
    const std::string bytes = m_utf16 ? std::string(kUtf16LeBom) + utf16LeFromUtf8(m_fileText) : m_fileText;
    if (!profile::writeFileAtomically(m_path, bytes))
        return false;
    m_dirty = false;
    return true;
}

} // namespace registry
