// Parses arbitrary bytes, edits the document and checks that it reads back
// the same from memory as from its own serialization.
#include "platform/profile/profile.h"

#include <cstdio>
#include <cstdlib>
#include <fuzzer/FuzzedDataProvider.h>
#include <string>
#include <utility>
#include <vector>

namespace {

void check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "invariant failed: %s\n", what);
        std::abort();
    }
}

// A name or value made of letters and digits only: it survives a write unchanged.
std::string plainText(FuzzedDataProvider& in, std::size_t maxLength) {
    static const char alphabet[] = "abcXYZ019";
    std::string s = in.ConsumeRandomLengthString(maxLength);
    for (char& c : s)
        c = alphabet[static_cast<unsigned char>(c) % (sizeof alphabet - 1)];
    return s;
}

std::string anyText(FuzzedDataProvider& in) {
    return in.ConsumeRandomLengthString(12);
}

void checkBounds(const profile::Document& d, const std::string& section, const std::string& key,
                 std::size_t size) {
    const std::string value = d.getString(section, key, "default", size);
    check(size == 0 ? value.empty() : value.size() < size, "value fits its buffer");
    const auto keys = d.sectionKeys(section, size);
    std::size_t used = 1;
    for (const auto& k : keys)
        used += k.size() + 1;
    check(keys.empty() || used <= size, "key list fits its buffer");
    (void)d.getInt(section, key, 7);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const int operations = in.ConsumeIntegralInRange(0, 8);
    std::vector<std::pair<std::string, std::string>> script;
    for (int i = 0; i < operations; ++i) {
        const bool plain = in.ConsumeBool();
        std::string section = plain ? plainText(in, 6) : anyText(in);
        std::string key = plain ? plainText(in, 6) : anyText(in);
        script.emplace_back(std::move(section), std::move(key));
    }
    const std::vector<std::uint8_t> choices = in.ConsumeBytes<std::uint8_t>(operations);
    const std::string text = in.ConsumeRemainingBytesAsString();

    profile::Document doc = profile::Document::parse(text);
    check(doc.serialize() == text, "an unedited document serializes to its input");
    const profile::Document snapshot = doc;

    for (std::size_t i = 0; i < script.size(); ++i) {
        const auto& [section, key] = script[i];
        const std::uint8_t choice = i < choices.size() ? choices[i] : 0;
        checkBounds(doc, section, key, choice % 20);
        switch (choice % 4) {
        case 0:
        case 1: {
            const std::string value = key + section;
            doc.writeString(section, key, value);
            const bool plain = !section.empty() && !key.empty() &&
                               section.find_first_not_of("abcXYZ019") == std::string::npos &&
                               key.find_first_not_of("abcXYZ019") == std::string::npos;
            if (plain)
                check(doc.getString(section, key, "", 100) == value, "a write reads back");
            break;
        }
        case 2:
            doc.deleteKey(section, key);
            break;
        default:
            doc.deleteSection(section);
            break;
        }
    }

    // Whatever the edits did, the document in memory and its text agree.
    const std::string edited = doc.serialize();
    const profile::Document reread = profile::Document::parse(edited);
    check(reread.serialize() == edited, "an edited document parses back to itself");
    for (const auto& [section, key] : script) {
        check(doc.getString(section, key, "-", 64) == reread.getString(section, key, "-", 64),
              "value as in the file");
        check(doc.sectionKeys(section, 256) == reread.sectionKeys(section, 256), "key list as in the file");
        check(doc.hasSection(section) == reread.hasSection(section), "section as in the file");
    }
    check(snapshot.serialize() == text, "edits leave an earlier copy alone");
    return 0;
}
