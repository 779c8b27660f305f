// The INI document: lines kept as read, indexed by section and key name.

#include "platform/profile/document_access.h"
#include "platform/profile/profile.h"
#include "platform/text/trim.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <list>
#include <memory_resource>
#include <unordered_map>
#include <unordered_set>

namespace profile {

namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

// The characters the Windows profile code skips around names and values
// (CR and the DOS end-of-file mark ^Z included).
constexpr std::string_view kProfileBlanks = " \t\r\n\v\f\x1a";

std::string_view trimLeft(std::string_view s) {
    return text::trimLeft(s, kProfileBlanks);
}

std::string_view trim(std::string_view s) {
    return text::trim(s, kProfileBlanks);
}

char lowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}

// Names and values reach the Windows calls as C strings.
std::string_view cutAtNul(std::string_view s) {
    return s.substr(0, s.find('\0'));
}

// A line break inside a name or value would split its line and let the rest
// be read as another key or a section header; it is written as a blank.
std::string withoutLineBreaks(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c == '\r' || c == '\n')
            c = ' ';
    return out;
}

std::string cleanName(std::string_view s) {
    return std::string(trim(withoutLineBreaks(cutAtNul(s))));
}

// cleanName for a look-up: a view of the name itself unless a line break
// has to be replaced (then of storage).
std::string_view lookupName(std::string_view s, std::string& storage) {
    s = cutAtNul(s);
    if (s.find_first_of("\r\n") == std::string_view::npos)
        return trim(s);
    storage = cleanName(s);
    return storage;
}

std::string cleanValue(std::string_view s) {
    return std::string(trimLeft(withoutLineBreaks(cutAtNul(s))));
}

std::string_view stripQuotes(std::string_view s) {
    if (s.size() >= 2 && (s[0] == '\'' || s[0] == '"') && s.back() == s[0])
        return s.substr(1, s.size() - 2);
    return s;
}

enum class LineKind : unsigned char { Blank, Comment, Header, Key, Other };

struct LineInfo {
    LineKind kind = LineKind::Blank;
    std::string_view name;  // section name (as between the brackets) or key name (trimmed)
    std::string_view value; // trimmed value of a key line
    bool hasValue = false;  // the key line has an '='
};

LineInfo classify(std::string_view text) {
    const std::string_view t = trim(text);
    if (t.empty())
        return {};
    if (t[0] == ';')
        return {LineKind::Comment, {}, {}, false};
    if (t[0] == '[') {
        const std::size_t close = t.rfind(']');
        if (close != std::string_view::npos)
            return {LineKind::Header, t.substr(1, close - 1), {}, false};
    }
    const std::size_t eq = t.find('=');
    if (eq == std::string_view::npos)
        return {LineKind::Key, t, {}, false};
    const std::string_view name = trim(t.substr(0, eq));
    if (name.empty())
        return {LineKind::Other, {}, {}, false};
    return {LineKind::Key, name, trim(t.substr(eq + 1)), true};
}

struct Line {
    std::string text;          // without its '\n'; a CRLF line keeps its '\r'
    std::uint64_t section = 0; // the section the line belongs to; 0 before the first
    std::uint32_t nameBegin = 0, nameLength = 0;
    LineKind kind = LineKind::Blank;
    bool hasValue = false;

    std::string_view name() const { return std::string_view(text).substr(nameBegin, nameLength); }
    void describe() {
        const LineInfo info = classify(text);
        kind = info.kind;
        hasValue = info.hasValue;
        nameBegin = info.name.empty() ? 0 : std::uint32_t(info.name.data() - text.data());
        nameLength = std::uint32_t(info.name.size());
    }
};
using LineList = std::pmr::list<Line>;
using LineIt = LineList::iterator;

struct Section {
    std::uint64_t id;
    LineIt header;
};
using SectionList = std::pmr::list<Section>;
using SectionIt = SectionList::iterator;

bool sameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (lowerAscii(a[i]) != lowerAscii(b[i]))
            return false;
    return true;
}

std::size_t nameHash(std::uint64_t section, std::string_view name) {
    std::uint64_t h = 14695981039346656037ull ^ (section * 0x9E3779B97F4A7C15ull);
    for (char c : name) {
        h ^= static_cast<unsigned char>(lowerAscii(c));
        h *= 1099511628211ull;
    }
    return std::size_t(h ^ (h >> 29));
}

// A name looked up within a section (section 0 for section names).
struct NameRef {
    std::uint64_t section;
    std::string_view name;
};

NameRef nameOf(LineIt line) {
    return {line->section, line->name()};
}
NameRef nameOf(SectionIt s) {
    return {0, s->header->name()};
}
NameRef nameOf(const NameRef& r) {
    return r;
}

struct NameHash {
    using is_transparent = void;
    template <typename T> std::size_t operator()(const T& x) const {
        const NameRef r = nameOf(x);
        return nameHash(r.section, r.name);
    }
};

struct NameEqual {
    using is_transparent = void;
    template <typename A, typename B> bool operator()(const A& a, const B& b) const {
        const NameRef x = nameOf(a), y = nameOf(b);
        return x.section == y.section && sameName(x.name, y.name);
    }
};

std::string lowered(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        c = lowerAscii(c);
    return out;
}

// Key of a name within a section in the maps of duplicates.
std::string duplicateId(const NameRef& r) {
    std::string k(sizeof r.section, '\0');
    std::memcpy(k.data(), &r.section, sizeof r.section);
    return k + lowered(r.name);
}

} // namespace

// The file as a list of lines. Every section and key is indexed by its
// case-insensitive name (keys within their section); the index holds the
// first of equal names, later ones wait in a side map until the first goes.
// A read or write so touches only the lines it concerns.
struct Document::Impl {
    // The nodes of the lists and indexes: one pool a document, freed at once.
    std::pmr::unsynchronized_pool_resource pool;
    LineList lines{&pool};
    SectionList sections{&pool};
    std::pmr::unordered_set<SectionIt, NameHash, NameEqual> sectionIndex{&pool};
    std::pmr::unordered_set<LineIt, NameHash, NameEqual> keyIndex{&pool};
    std::unordered_map<std::string, std::vector<SectionIt>> laterSections;
    std::unordered_map<std::string, std::vector<LineIt>> laterKeys;
    std::uint64_t lastSectionId = 0;
    bool crlf = true;
    bool finalNewline = true;
    bool bom = false;

    void parse(std::string_view text) {
        if (text.substr(0, kUtf8Bom.size()) == kUtf8Bom) {
            bom = true;
            text.remove_prefix(kUtf8Bom.size());
        }
        const std::size_t firstNl = text.find('\n');
        crlf = firstNl == std::string_view::npos || (firstNl > 0 && text[firstNl - 1] == '\r');
        finalNewline = text.empty() || text.back() == '\n';
        keyIndex.reserve(std::size_t(std::count(text.begin(), text.end(), '\n')) + 1);
        std::size_t headers = text.starts_with('[') ? 1 : 0;
        for (std::size_t at = text.find("\n["); at != std::string_view::npos; at = text.find("\n[", at + 2))
            ++headers;
        sectionIndex.reserve(headers);
        std::uint64_t current = 0;
        std::size_t pos = 0;
        while (pos < text.size()) {
            std::size_t end = text.find('\n', pos);
            if (end == std::string_view::npos)
                end = text.size();
            lines.push_back({std::string(text.substr(pos, end - pos)), current});
            const LineIt it = std::prev(lines.end());
            it->describe();
            if (it->kind == LineKind::Header) {
                current = it->section = ++lastSectionId;
                addSection(it);
            } else if (it->kind == LineKind::Key && current != 0) {
                addKey(it);
            }
            pos = end + 1;
        }
    }

    std::shared_ptr<Impl> clone() const {
        auto copy = std::make_shared<Impl>();
        copy->parse(serialize());
        copy->crlf = crlf;
        copy->bom = bom;
        return copy;
    }

    std::string serialize() const {
        std::size_t size = bom ? kUtf8Bom.size() : 0;
        for (const Line& l : lines)
            size += l.text.size() + 1;
        std::string out;
        out.reserve(size);
        if (bom)
            out += kUtf8Bom;
        for (auto it = lines.begin(); it != lines.end(); ++it) {
            out += it->text;
            if (finalNewline || std::next(it) != lines.end())
                out += '\n';
        }
        return out;
    }

    // Sections always join at the end of the file, so duplicates queue in file order.
    void addSection(LineIt header) {
        sections.push_back({header->section, header});
        const SectionIt s = std::prev(sections.end());
        if (!sectionIndex.insert(s).second)
            laterSections[duplicateId(nameOf(s))].push_back(s);
    }

    // Parsing adds keys in file order; a write adds one only when the name is new.
    void addKey(LineIt line) {
        if (!keyIndex.insert(line).second)
            laterKeys[duplicateId(nameOf(line))].push_back(line);
    }

    SectionIt findSection(std::string_view name) const {
        std::string storage;
        const std::string_view n = lookupName(name, storage);
        if (n.empty())
            return const_cast<SectionList&>(sections).end();
        const auto found = sectionIndex.find(NameRef{0, n});
        return found == sectionIndex.end() ? const_cast<SectionList&>(sections).end() : *found;
    }

    // The first line of the section's key, or lines.end().
    LineIt findKey(SectionIt s, std::string_view key) const {
        std::string storage;
        const std::string_view k = lookupName(key, storage);
        const auto found = k.empty() ? keyIndex.end() : keyIndex.find(NameRef{s->id, k});
        return found == keyIndex.end() ? const_cast<LineList&>(lines).end() : *found;
    }

    LineIt sectionEnd(SectionIt s) {
        const auto next = std::next(s);
        return next == sections.end() ? lines.end() : next->header;
    }

    LineIt lastNonBlankLine(SectionIt s) {
        LineIt it = sectionEnd(s);
        do
            --it;
        while (it != s->header && it->kind == LineKind::Blank);
        return it;
    }

    LineIt insertBefore(LineIt next, std::string content, std::uint64_t section) {
        if (next == lines.end() && !finalNewline) {
            // The old last line gets its line end first.
            if (crlf && (lines.back().text.empty() || lines.back().text.back() != '\r'))
                lines.back().text += '\r';
            finalNewline = true;
        }
        if (crlf)
            content += '\r';
        const LineIt it = lines.insert(next, {std::move(content), section});
        it->describe();
        return it;
    }

    void eraseLines(LineIt first, LineIt last) {
        if (first != last && last == lines.end())
            finalNewline = true; // the new last line kept its line end
        lines.erase(first, last);
    }

    static bool readsBackAs(std::string_view text, std::string_view key) {
        const LineInfo info = classify(text);
        return info.kind == LineKind::Key && info.hasValue && sameName(info.name, key);
    }

    // -1: not a usable section or key name (or one that would not read back
    // as written, such as a key holding '='); 0: value already there; 1: written.
    int write(std::string_view section, std::string_view key, std::string_view value) {
        const std::string sec = cleanName(section);
        const std::string k = cleanName(key);
        if (sec.empty() || k.empty())
            return -1;
        const std::string val = cleanValue(value);
        const std::string newLine = k + "=" + val;
        const SectionIt s = findSection(sec);
        if (s == sections.end()) {
            if (!readsBackAs(newLine, k))
                return -1;
            const std::uint64_t id = ++lastSectionId;
            addSection(insertBefore(lines.end(), "[" + sec + "]", id));
            addKey(insertBefore(lines.end(), newLine, id));
            return 1;
        }
        const LineIt line = findKey(s, k);
        if (line != lines.end()) {
            const LineInfo info = classify(line->text);
            if (info.hasValue && info.value == val)
                return 0;
            // The file's spelling of the name and the line's own line end stay.
            std::string text = std::string(info.name) + "=" + val;
            if (!readsBackAs(text, info.name))
                return -1;
            if (!line->text.empty() && line->text.back() == '\r')
                text += '\r';
            line->text = std::move(text); // same name, so its place in the index holds
            line->describe();
            return 1;
        }
        if (!readsBackAs(newLine, k))
            return -1;
        addKey(insertBefore(std::next(lastNonBlankLine(s)), newLine, s->id));
        return 1;
    }

    // Drops a line from the key index; a later key of the same name takes its place.
    void unindexKey(LineIt line) {
        const auto found = keyIndex.find(line);
        if (found == keyIndex.end() || *found != line)
            return;
        keyIndex.erase(found);
        if (laterKeys.empty())
            return;
        const auto later = laterKeys.find(duplicateId(nameOf(line)));
        if (later == laterKeys.end())
            return;
        keyIndex.insert(later->second.front());
        later->second.erase(later->second.begin());
        if (later->second.empty())
            laterKeys.erase(later);
    }

    bool deleteKey(std::string_view section, std::string_view key) {
        const SectionIt s = findSection(section);
        if (s == sections.end())
            return false;
        const LineIt line = findKey(s, key);
        if (line == lines.end())
            return false;
        unindexKey(line);
        eraseLines(line, std::next(line));
        return true;
    }

    bool deleteSection(std::string_view section) {
        const SectionIt s = findSection(section);
        if (s == sections.end())
            return false;
        const LineIt end = sectionEnd(s);
        for (LineIt it = std::next(s->header); it != end; ++it) {
            if (it->kind != LineKind::Key)
                continue;
            const auto found = keyIndex.find(it);
            if (found != keyIndex.end() && *found == it)
                keyIndex.erase(found);
            if (!laterKeys.empty())
                laterKeys.erase(duplicateId(nameOf(it)));
        }
        sectionIndex.erase(s);
        if (!laterSections.empty()) {
            const auto later = laterSections.find(duplicateId(nameOf(s)));
            if (later != laterSections.end()) {
                sectionIndex.insert(later->second.front());
                later->second.erase(later->second.begin());
                if (later->second.empty())
                    laterSections.erase(later);
            }
        }
        eraseLines(s->header, end);
        sections.erase(s);
        return true;
    }

    // The first line of the key in the first section of that name, or null.
    const Line* keyLine(std::string_view section, std::string_view key) const {
        const SectionIt s = findSection(section);
        if (s == sections.end())
            return nullptr;
        const LineIt line = findKey(s, key);
        return line == lines.end() ? nullptr : &*line;
    }
};

int DocumentAccess::write(Document& d, std::string_view s, std::string_view k, std::string_view v) {
    if (cleanName(s).empty() || cleanName(k).empty())
        return -1; // no edit, so no copy of shared content either
    return d.mutableImpl().write(s, k, v);
}

bool DocumentAccess::deleteKey(Document& d, std::string_view s, std::string_view k) {
    if (!d.m_impl->keyLine(s, k))
        return false;
    return d.mutableImpl().deleteKey(s, k);
}

bool DocumentAccess::deleteSection(Document& d, std::string_view s) {
    if (!d.hasSection(s))
        return false;
    return d.mutableImpl().deleteSection(s);
}

const std::shared_ptr<Document::Impl>& DocumentAccess::emptyImpl() {
    static const auto empty = std::make_shared<Document::Impl>();
    return empty;
}

Document::Document() : m_impl(DocumentAccess::emptyImpl()) {}
Document::~Document() = default;
Document::Document(const Document&) = default;
Document& Document::operator=(const Document&) = default;
Document::Document(Document&& other) noexcept : m_impl(std::move(other.m_impl)) {
    other.m_impl = DocumentAccess::emptyImpl();
}
Document& Document::operator=(Document&& other) noexcept {
    if (this != &other) {
        m_impl = std::move(other.m_impl);
        other.m_impl = DocumentAccess::emptyImpl();
    }
    return *this;
}

Document::Impl& Document::mutableImpl() {
    if (m_impl.use_count() != 1)
        m_impl = m_impl->clone();
    return *m_impl;
}

Document Document::parse(std::string_view text) {
    Document d;
    auto impl = std::make_shared<Impl>();
    impl->parse(text);
    d.m_impl = std::move(impl);
    return d;
}

std::string Document::serialize() const {
    return m_impl->serialize();
}

namespace {

// GetPrivateProfileString's answer for the key's line (null when missing).
std::string valueOf(const std::string* lineText, std::string_view defaultValue, std::size_t bufferSize) {
    if (bufferSize == 0)
        return {};
    std::string_view text;
    const LineInfo info = lineText ? classify(*lineText) : LineInfo{};
    if (lineText && info.hasValue) {
        text = info.value;
    } else {
        // Windows drops trailing blanks of the default.
        text = cutAtNul(defaultValue);
        while (!text.empty() && text.back() == ' ')
            text.remove_suffix(1);
    }
    text = stripQuotes(text);
    return std::string(text.substr(0, bufferSize - 1));
}

// GetPrivateProfileInt's reading of a value read into a 30-character buffer.
int intOf(const std::string& text, int defaultValue) {
    if (text.empty())
        return defaultValue;
    std::size_t i = 0;
    while (i < text.size() && static_cast<unsigned char>(text[i]) <= ' ')
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    std::uint32_t value = 0; // wraps like the Windows conversion
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        value = value * 10u + std::uint32_t(text[i] - '0');
    if (negative)
        value = 0u - value;
    return static_cast<int>(value);
}

} // namespace

std::string Document::getString(std::string_view section, std::string_view key, std::string_view defaultValue,
                                std::size_t bufferSize) const {
    const Line* line = m_impl->keyLine(section, key);
    return valueOf(line ? &line->text : nullptr, defaultValue, bufferSize);
}

int Document::getInt(std::string_view section, std::string_view key, int defaultValue) const {
    return intOf(getString(section, key, "", 30), defaultValue);
}

Document::SectionReader Document::section(std::string_view name) const {
    const SectionIt s = m_impl->findSection(name);
    return SectionReader(m_impl.get(), s == m_impl->sections.end() ? 0 : s->id);
}

std::string Document::SectionReader::getString(std::string_view key, std::string_view defaultValue,
                                               std::size_t bufferSize) const {
    const std::string* text = nullptr;
    std::string storage;
    const std::string_view k = lookupName(key, storage);
    if (m_section != 0 && !k.empty()) {
        const auto found = m_impl->keyIndex.find(NameRef{m_section, k});
        if (found != m_impl->keyIndex.end())
            text = &(*found)->text;
    }
    return valueOf(text, defaultValue, bufferSize);
}

int Document::SectionReader::getInt(std::string_view key, int defaultValue) const {
    return intOf(getString(key, "", 30), defaultValue);
}

std::vector<std::string> Document::sectionKeys(std::string_view section, std::size_t bufferSize) const {
    std::vector<std::string> names;
    auto* impl = m_impl.get();
    const SectionIt s = impl->findSection(section);
    if (s == impl->sections.end())
        return names;
    // Each name takes its length plus a NUL, and one more NUL ends the list.
    std::size_t room = bufferSize;
    const LineIt end = impl->sectionEnd(s);
    for (LineIt it = std::next(s->header); it != end && room > 2; ++it) {
        if (it->kind != LineKind::Key || !it->hasValue)
            continue;
        const std::string_view name = it->name();
        if (name.size() + 2 <= room) {
            names.emplace_back(name);
            room -= name.size() + 1;
        } else {
            names.emplace_back(name.substr(0, room - 2));
            break;
        }
    }
    return names;
}

bool Document::hasSection(std::string_view section) const {
    return m_impl->findSection(section) != m_impl->sections.end();
}

void Document::writeString(std::string_view section, std::string_view key, std::string_view value) {
    DocumentAccess::write(*this, section, key, value);
}

void Document::deleteKey(std::string_view section, std::string_view key) {
    DocumentAccess::deleteKey(*this, section, key);
}

void Document::deleteSection(std::string_view section) {
    DocumentAccess::deleteSection(*this, section);
}

bool isPortableName(std::string_view name) {
    if (name.empty() || name.front() == ';' || name.front() == ' ' || name.back() == ' ')
        return false;
    for (const char c : name) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7f || c == '=' || c == '[' || c == ']')
            return false;
    }
    return true;
}

} // namespace profile
