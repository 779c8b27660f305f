#include "vardel/definitions/mib_text.h"

#include "platform/text/trim.h"

#include <cctype>

namespace definitions {

namespace {

struct Token {
    enum Kind { Word, String, Punct, Hash } kind;
    std::string text; // Hash: the comment after "--#"
};

bool wordChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_';
}

// ASN.1 comments run from "--" to the end of the line or the next "--";
// "--#" comments are kept as Hash tokens.
std::vector<Token> tokenize(const std::string& text) {
    std::vector<Token> tokens;
    const std::size_t n = text.size();
    std::size_t i = 0;
    while (i < n) {
        const char c = text[i];
        if (std::isspace(static_cast<unsigned char>(c))) {
            ++i;
        } else if (c == '-' && i + 1 < n && text[i + 1] == '-') {
            i += 2;
            if (i < n && text[i] == '#') {
                const std::size_t end = text.find('\n', i);
                tokens.push_back(
                    {Token::Hash, text.substr(i + 1, end == std::string::npos ? end : end - i - 1)});
                i = end == std::string::npos ? n : end;
                continue;
            }
            while (i < n && text[i] != '\n' && !(text[i] == '-' && i + 1 < n && text[i + 1] == '-'))
                ++i;
            if (i < n && text[i] == '-')
                i += 2;
        } else if (c == '"') {
            const std::size_t end = text.find('"', i + 1);
            tokens.push_back(
                {Token::String, text.substr(i + 1, end == std::string::npos ? end : end - i - 1)});
            i = end == std::string::npos ? n : end + 1;
        } else if (wordChar(c)) {
            std::size_t j = i;
            while (j < n && wordChar(text[j]))
                ++j;
            tokens.push_back({Token::Word, text.substr(i, j - i)});
            i = j;
        } else {
            tokens.push_back({Token::Punct, std::string(1, c)});
            ++i;
        }
    }
    return tokens;
}

std::string trim(const std::string& s) {
    return std::string(text::trim(s));
}

// "--#SUMMARY ..." -> keyword SUMMARY and the rest.
void hashComment(const std::string& comment, MibTextDefinition& d) {
    const std::string body = trim(comment);
    std::size_t k = 0;
    while (k < body.size() && std::isalpha(static_cast<unsigned char>(body[k])))
        ++k;
    std::string keyword = body.substr(0, k);
    for (char& ch : keyword)
        ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    std::string rest = trim(body.substr(k));
    if (keyword == "SUMMARY") {
        if (rest.size() >= 2 && rest.front() == '"' && rest.back() == '"')
            rest = rest.substr(1, rest.size() - 2);
        d.summary = rest;
    } else if (keyword == "SEVERITY") {
        d.severity = rest.substr(0, rest.find_first_of(" \t"));
    } else if (keyword == "ARGUMENTS") {
        d.arguments.clear();
        int value = -1;
        for (char ch : rest) {
            if (std::isdigit(static_cast<unsigned char>(ch))) {
                value = (value < 0 ? 0 : value * 10) + (ch - '0');
                if (value > 100000)
                    value = 100000;
            } else if (value >= 0) {
                d.arguments.push_back(value);
                value = -1;
            }
        }
        if (value >= 0)
            d.arguments.push_back(value);
    }
}

} // namespace

std::string ReadMibText(const std::string& text, MibText& out) {
    if (text.find('\0') != std::string::npos)
        return "not a MIB file: it holds binary data";
    const std::vector<Token> tokens = tokenize(text);
    MibTextDefinition* current = nullptr;
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        const Token& t = tokens[i];
        if (t.kind == Token::Hash) {
            if (current)
                hashComment(t.text, *current);
            continue;
        }
        if (t.kind != Token::Word)
            continue;
        if (t.text == "DEFINITIONS" && i > 0 && tokens[i - 1].kind == Token::Word) {
            out.modules.push_back(tokens[i - 1].text);
            current = nullptr;
            continue;
        }
        const bool macro = t.text == "NOTIFICATION-TYPE" || t.text == "TRAP-TYPE";
        if (!macro || i == 0 || tokens[i - 1].kind != Token::Word)
            continue;
        // Not an import list ("NOTIFICATION-TYPE, ..." or "... FROM") nor the
        // macro's own definition ("NOTIFICATION-TYPE MACRO ::=").
        const std::string& name = tokens[i - 1].text;
        if (!std::islower(static_cast<unsigned char>(name[0])))
            continue;
        if (i + 1 < tokens.size() && tokens[i + 1].kind == Token::Word &&
            (tokens[i + 1].text == "FROM" || tokens[i + 1].text == "MACRO"))
            continue;
        if (i + 1 < tokens.size() && tokens[i + 1].kind == Token::Punct && tokens[i + 1].text == ",")
            continue;
        out.definitions.push_back({});
        current = &out.definitions.back();
        current->name = name;
        for (std::size_t j = i + 1; j < tokens.size() && j < i + 400; ++j) {
            if (tokens[j].kind == Token::Punct && tokens[j].text == ":")
                break; // "::=" ends the macro's clauses
            if (tokens[j].kind == Token::Word && tokens[j].text == "DESCRIPTION" && j + 1 < tokens.size() &&
                tokens[j + 1].kind == Token::String) {
                current->description = tokens[j + 1].text;
                break;
            }
        }
    }
    if (out.modules.empty())
        return "not a MIB file: no \"NAME DEFINITIONS ::= BEGIN\" in it";
    return {};
}

std::string SummaryAlertText(const MibTextDefinition& definition) {
    const std::string& s = definition.summary;
    std::string out;
    std::size_t next = 0; // the conversion's number
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '%') {
            out += s[i];
            continue;
        }
        if (i + 1 < s.size() && s[i + 1] == '%') {
            out += '%';
            ++i;
            continue;
        }
        std::size_t j = i + 1;
        while (j < s.size() && (std::isdigit(static_cast<unsigned char>(s[j])) || s[j] == '-' ||
                                s[j] == '.' || s[j] == 'l' || s[j] == 'h'))
            ++j;
        if (j >= s.size() || !std::isalpha(static_cast<unsigned char>(s[j]))) {
            out += s[i];
            continue;
        }
        const int object =
            next < definition.arguments.size() ? definition.arguments[next] + 1 : static_cast<int>(next) + 1;
        ++next;
        out += "%" + std::to_string(object);
        i = j;
    }
    return out;
}

} // namespace definitions
