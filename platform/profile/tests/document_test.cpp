// The INI document against the Windows private-profile rules.
#include "platform/profile/profile.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

using profile::Document;

namespace {

// Fixture texts, each one shape of file met in the field.
const std::string kExample = "[CLIENTS]\r\n"
                             "Hostname=CONSOLE1\r\n"
                             "NumClients=1\r\n"
                             "CONSOLE1=CLIENT1\r\n"
                             "[ServerInfo]\r\n"
                             "NumServers=2\r\n"
                             "[SERVERS]\r\n"
                             "SRVB=1\r\n"
                             "SRVA=1\r\n"
                             "[SRVB]\r\n"
                             "NOS=NT\r\n"
                             "IP=10.1.1.20\r\n"
                             "IPX=\r\n"
                             "SNMP_COMMUNITY=public\r\n";

const std::string kCommented = "; written by hand\n"
                               "orphan=before any section\n"
                               "[Main]\n"
                               "; a comment line\n"
                               "   ;indented comment=1\n"
                               "alpha=1\n"
                               "\n"
                               "no equals sign\n"
                               "beta = 2 \n"
                               "\n"
                               "[Other]\n"
                               "gamma=3\n";

const std::string kDuplicates = "[Dup]\n"
                                "key=first\n"
                                "KEY=second\n"
                                "[other]\n"
                                "x=1\n"
                                "[DUP]\n"
                                "key=third\n"
                                "late=only in the second\n";

std::string keysOf(const Document& d, const std::string& section, std::size_t size) {
    std::string out;
    for (const auto& k : d.sectionKeys(section, size))
        out += k + "|";
    return out;
}

} // namespace

TEST(ProfileFixtures, EmptyTextHasNothingAndSerializesEmpty) {
    const Document d = Document::parse("");
    EXPECT_FALSE(d.hasSection("x"));
    EXPECT_EQ(d.getString("x", "y", "dflt", 100), "dflt");
    EXPECT_EQ(d.getInt("x", "y", -4), -4);
    EXPECT_TRUE(d.sectionKeys("x", 100).empty());
    EXPECT_EQ(d.serialize(), "");
}

TEST(ProfileFixtures, CommentsAndLinesBeforeTheFirstSectionAreIgnoredButKept) {
    const Document d = Document::parse(kCommented);
    EXPECT_EQ(d.getString("Main", "alpha", "", 100), "1");
    EXPECT_EQ(d.getString("Main", "beta", "", 100), "2");
    EXPECT_EQ(d.getString("Main", "; a comment line", "none", 100), "none");
    EXPECT_EQ(d.getString("Main", ";indented comment", "none", 100), "none");
    EXPECT_EQ(d.getString("Main", "orphan", "none", 100), "none");
    // A line without '=' is a key without a value: the default, and not listed.
    EXPECT_EQ(d.getString("Main", "no equals sign", "none", 100), "none");
    EXPECT_EQ(keysOf(d, "Main", 100), "alpha|beta|");
    EXPECT_EQ(d.serialize(), kCommented);
}

TEST(ProfileFixtures, FirstSectionAndFirstKeyWinIgnoringCase) {
    const Document d = Document::parse(kDuplicates);
    EXPECT_EQ(d.getString("dup", "Key", "", 100), "first");
    EXPECT_EQ(d.getString("DUP", "late", "none", 100), "none");
    EXPECT_EQ(keysOf(d, "Dup", 100), "key|KEY|");
    EXPECT_EQ(d.serialize(), kDuplicates);

    // A section found once reads as the per-call reads do.
    const Document::SectionReader dup = d.section("dUP");
    EXPECT_EQ(dup.getString("KEY", "", 100), "first");
    EXPECT_EQ(dup.getString("late", "none  ", 100), "none");
    EXPECT_EQ(dup.getString("key", "", 3), "fi");
    EXPECT_EQ(d.section("nowhere").getString("key", "'q'", 100), "q");
    EXPECT_EQ(d.section("nowhere").getInt("key", 5), 5);
}

TEST(ProfileFixtures, LineEndsAndMissingFinalNewline) {
    const Document crlf = Document::parse(kExample);
    EXPECT_EQ(crlf.getString("SRVB", "IP", "", 50), "10.1.1.20");
    EXPECT_EQ(crlf.getString("SRVB", "IPX", "x", 50), "");
    EXPECT_EQ(crlf.serialize(), kExample);

    const std::string mixed = "[a]\r\nk=1\n[b]\nk=2\r\nlast=3";
    const Document m = Document::parse(mixed);
    EXPECT_EQ(m.getString("a", "k", "", 10), "1");
    EXPECT_EQ(m.getString("b", "k", "", 10), "2");
    EXPECT_EQ(m.getString("b", "last", "", 10), "3");
    EXPECT_EQ(m.serialize(), mixed);
}

TEST(ProfileFixtures, VeryLongLinesAndBinaryGarbage) {
    const std::string longValue(300000, 'v');
    const std::string text = "[s]\nk=" + longValue + "\n[" + std::string(70000, 'n') + "]\nq=1\n";
    const Document d = Document::parse(text);
    EXPECT_EQ(d.getString("s", "k", "", longValue.size() + 1), longValue);
    EXPECT_EQ(d.getString(std::string(70000, 'N'), "q", "", 10), "1");
    EXPECT_EQ(d.serialize(), text);

    std::string garbage;
    for (int i = 0; i < 50000; ++i)
        garbage += static_cast<char>((i * 7919 + (i >> 3)) & 0xff);
    static const char tail[] = "\0[\xff\xfe]\n\0=\0\n[s]\nk\0ey=v\0al\n";
    garbage += std::string(tail, sizeof tail - 1);
    Document g = Document::parse(garbage);
    EXPECT_EQ(g.serialize(), garbage);
    g.writeString("fresh", "key", "value");
    EXPECT_EQ(Document::parse(g.serialize()).getString("fresh", "key", "", 10), "value");
}

TEST(ProfileFixtures, Utf8ByteOrderMarkDoesNotHideTheFirstSection) {
    const std::string text = "\xEF\xBB\xBF[first]\r\nk=v\r\n";
    Document d = Document::parse(text);
    EXPECT_EQ(d.getString("first", "k", "", 10), "v");
    EXPECT_EQ(d.serialize(), text);
    d.deleteSection("first");
    EXPECT_EQ(d.serialize(), "\xEF\xBB\xBF");
}

TEST(ProfileValues, TrimmingAndQuotes) {
    const Document d = Document::parse("[s]\n"
                                       "  spaced  \t=\t  value with  inner  blanks \t\n"
                                       "dq=\"quoted\"\n"
                                       "sq=' keep inner blanks '\n"
                                       "mixed=\"not closed'\n"
                                       "lone=\"\n"
                                       "empty=\"\"\n"
                                       "inner=a \"b\" c\n");
    EXPECT_EQ(d.getString(" s ", " SPACED ", "", 100), "value with  inner  blanks");
    EXPECT_EQ(d.getString("s", "dq", "", 100), "quoted");
    EXPECT_EQ(d.getString("s", "sq", "", 100), " keep inner blanks ");
    EXPECT_EQ(d.getString("s", "mixed", "", 100), "\"not closed'");
    EXPECT_EQ(d.getString("s", "lone", "", 100), "\"");
    EXPECT_EQ(d.getString("s", "empty", "x", 100), "");
    EXPECT_EQ(d.getString("s", "inner", "", 100), "a \"b\" c");
    // The default loses trailing blanks and enclosing quotes, as Windows does.
    EXPECT_EQ(d.getString("s", "missing", "dflt   ", 100), "dflt");
    EXPECT_EQ(d.getString("s", "missing", "'q'", 100), "q");
}

TEST(ProfileValues, BufferSizeTruncates) {
    const Document d = Document::parse("[s]\nk=abcdef\nq=\"abcdef\"\n");
    EXPECT_EQ(d.getString("s", "k", "", 0), "");
    EXPECT_EQ(d.getString("s", "k", "", 1), "");
    EXPECT_EQ(d.getString("s", "k", "", 4), "abc");
    EXPECT_EQ(d.getString("s", "k", "", 7), "abcdef");
    EXPECT_EQ(d.getString("s", "q", "", 7), "abcdef");
    EXPECT_EQ(d.getString("s", "q", "", 6), "abcde");
    EXPECT_EQ(d.getString("s", "missing", "defaultvalue", 5), "defa");
}

TEST(ProfileValues, IntegersReadAsWindowsReadsThem) {
    const Document d = Document::parse("[n]\n"
                                       "plain=42\nneg=-1\nplus=+7\nlead=  12\nquoted=\" 33\"\n"
                                       "trail=80abc\nword=yes\nempty=\nzero=0\nhex=0x10\n"
                                       "wrap=4294967297\n");
    EXPECT_EQ(d.getInt("n", "plain", 9), 42);
    EXPECT_EQ(d.getInt("n", "neg", 9), -1);
    EXPECT_EQ(d.getInt("n", "plus", 9), 7);
    EXPECT_EQ(d.getInt("n", "lead", 9), 12);
    EXPECT_EQ(d.getInt("n", "quoted", 9), 33);
    EXPECT_EQ(d.getInt("n", "trail", 9), 80);
    EXPECT_EQ(d.getInt("n", "word", 9), 0);
    EXPECT_EQ(d.getInt("n", "empty", 9), 9);
    EXPECT_EQ(d.getInt("n", "missing", 9), 9);
    EXPECT_EQ(d.getInt("n", "zero", 9), 0);
    EXPECT_EQ(d.getInt("n", "hex", 9), 0);
    EXPECT_EQ(d.getInt("n", "wrap", 9), 1);
}

// The NUL-separated key list: names in file order while they fit, the last
// one cut so that the buffer still ends with two NULs, the rest left out.
TEST(ProfileKeyList, TruncatesToTheBuffer) {
    const Document d = Document::parse("[SERVERS]\nabc=1\ndefgh=1\nij=1\n");
    EXPECT_EQ(keysOf(d, "servers", 100), "abc|defgh|ij|");
    EXPECT_EQ(keysOf(d, "SERVERS", 14), "abc|defgh|ij|"); // 4 + 6 + 3 + 1
    EXPECT_EQ(keysOf(d, "SERVERS", 13), "abc|defgh|i|");
    EXPECT_EQ(keysOf(d, "SERVERS", 12), "abc|defgh|");
    EXPECT_EQ(keysOf(d, "SERVERS", 11), "abc|defgh|");
    EXPECT_EQ(keysOf(d, "SERVERS", 10), "abc|defg|");
    EXPECT_EQ(keysOf(d, "SERVERS", 7), "abc|d|");
    EXPECT_EQ(keysOf(d, "SERVERS", 6), "abc|");
    EXPECT_EQ(keysOf(d, "SERVERS", 5), "abc|");
    EXPECT_EQ(keysOf(d, "SERVERS", 4), "ab|");
    EXPECT_EQ(keysOf(d, "SERVERS", 3), "a|");
    EXPECT_EQ(keysOf(d, "SERVERS", 2), "");
    EXPECT_EQ(keysOf(d, "SERVERS", 0), "");
    EXPECT_EQ(keysOf(d, "missing", 100), "");
}

TEST(ProfileKeyList, FiftyBytesAServerCutsLongNames) {
    // _FillListFromIni sizes the buffer as NumServers x 50.
    std::string text = "[SERVERS]\n";
    const std::string longName(120, 'L');
    text += "S1=1\n" + longName + "=1\nS3=1\n";
    const Document d = Document::parse(text);
    const auto keys = d.sectionKeys("SERVERS", 3 * 50);
    ASSERT_EQ(keys.size(), 3u);
    EXPECT_EQ(keys[1], longName);
    const auto cut = d.sectionKeys("SERVERS", 2 * 50);
    ASSERT_EQ(cut.size(), 2u);
    EXPECT_EQ(cut[1], std::string(100 - 3 - 2, 'L'));
}

TEST(ProfileWrite, ExampleFileBuiltByItsSequenceOfWrites) {
    Document d = Document::parse("");
    d.writeString("CLIENTS", "Hostname", "CONSOLE1");
    d.writeString("CLIENTS", "IPAddres", "10.1.1.5");
    d.writeString("CLIENTS", "NumClients", "1");
    d.writeString("CLIENTS", "CONSOLE1", "CLIENT1");
    d.writeString("ServerInfo", "NumServers", "2");
    d.writeString("SERVERS", "SRVB", "1");
    d.writeString("SRVB", "NOS", "NT");
    d.writeString("CLIENT1", "SRVB", "1");
    d.writeString("SERVERS", "SRVA", "1");
    d.writeString("SRVA", "NOS", "NetWare");
    d.writeString("CLIENT1", "SRVA", "-1");
    d.writeString("VDINFO", "RETRY", "7");
    d.writeString("clients", "LastClient", "CONSOLE1");
    EXPECT_EQ(d.serialize(), "[CLIENTS]\r\nHostname=CONSOLE1\r\nIPAddres=10.1.1.5\r\nNumClients=1\r\n"
                             "CONSOLE1=CLIENT1\r\nLastClient=CONSOLE1\r\n"
                             "[ServerInfo]\r\nNumServers=2\r\n[SERVERS]\r\nSRVB=1\r\nSRVA=1\r\n"
                             "[SRVB]\r\nNOS=NT\r\n[CLIENT1]\r\nSRVB=1\r\nSRVA=-1\r\n"
                             "[SRVA]\r\nNOS=NetWare\r\n[VDINFO]\r\nRETRY=7\r\n");
}

TEST(ProfileWrite, NewKeyGoesAfterTheLastNonBlankLineOfTheFirstSection) {
    Document d = Document::parse("[a]\nx=1\n; note\n\n\n[b]\ny=2\n[A]\nz=3\n");
    d.writeString("A", "new", "v");
    EXPECT_EQ(d.serialize(), "[a]\nx=1\n; note\nnew=v\n\n\n[b]\ny=2\n[A]\nz=3\n");
    Document empty = Document::parse("[a]\n\n[b]\n");
    empty.writeString("a", "k", "1");
    EXPECT_EQ(empty.serialize(), "[a]\nk=1\n\n[b]\n");
}

TEST(ProfileWrite, ExistingKeyKeepsItsSpellingAndLineEnd) {
    Document d = Document::parse("[s]\r\n  MixedCase  =  old  \r\nother=1\n");
    d.writeString("S", "mixedcase", "  new");
    EXPECT_EQ(d.serialize(), "[s]\r\nMixedCase=new\r\nother=1\n");
    d.writeString("s", "other", "2");
    EXPECT_EQ(d.serialize(), "[s]\r\nMixedCase=new\r\nother=2\n");
    // A key written without '=' before takes its value.
    Document bare = Document::parse("[s]\nflag\n");
    bare.writeString("s", "FLAG", "on");
    EXPECT_EQ(bare.serialize(), "[s]\nflag=on\n");
}

TEST(ProfileWrite, LineEndStyleAndMissingFinalNewline) {
    Document lf = Document::parse("[s]\nk=1");
    lf.writeString("s", "j", "2");
    EXPECT_EQ(lf.serialize(), "[s]\nk=1\nj=2\n");
    Document crlf = Document::parse("[s]\r\nk=1");
    crlf.writeString("t", "j", "2");
    EXPECT_EQ(crlf.serialize(), "[s]\r\nk=1\r\n[t]\r\nj=2\r\n");
    Document untouched = Document::parse("[s]\nk=1");
    untouched.writeString("s", "k", "1");
    EXPECT_EQ(untouched.serialize(), "[s]\nk=1");
}

TEST(ProfileWrite, NamesThatWouldNotReadBackAreRefused) {
    Document d = Document::parse("[s]\nk=1\n");
    d.writeString("s", "a=b", "v");
    d.writeString("s", "[x]", "v");
    d.writeString("s", ";c", "v");
    d.writeString("", "k", "v");
    d.writeString("s", "  ", "v");
    EXPECT_EQ(d.serialize(), "[s]\nk=1\n");
    // Line breaks and what follows a NUL never reach the file.
    d.writeString("s", "k", std::string("one\r\n[evil]\nx=1\0hidden", 22));
    EXPECT_FALSE(Document::parse(d.serialize()).hasSection("evil"));
    EXPECT_EQ(d.getString("s", "k", "", 100), "one  [evil] x=1");
}

TEST(ProfileDelete, KeysAndSections) {
    Document d = Document::parse(kDuplicates);
    d.deleteKey("DUP", "key");
    EXPECT_EQ(d.getString("dup", "key", "", 100), "second"); // the duplicate shows through
    d.deleteKey("dup", "missing");
    d.deleteKey("missing", "key");
    d.deleteSection("dup");
    EXPECT_EQ(d.getString("dup", "key", "", 100), "third"); // so does the second section
    EXPECT_EQ(d.serialize(), "[other]\nx=1\n[DUP]\nkey=third\nlate=only in the second\n");
    d.deleteSection("dup");
    EXPECT_FALSE(d.hasSection("dup"));
    EXPECT_EQ(d.serialize(), "[other]\nx=1\n");
    // Written again, the section and key go to the end as new ones.
    d.writeString("dup", "key", "again");
    EXPECT_EQ(d.serialize(), "[other]\nx=1\n[dup]\nkey=again\n");

    Document tail = Document::parse("[a]\r\nk=1\r\n[b]\r\nj=2");
    tail.deleteSection("b");
    tail.writeString("a", "n", "3");
    EXPECT_EQ(tail.serialize(), "[a]\r\nk=1\r\nn=3\r\n");
}

TEST(ProfileCopies, EditingACopyLeavesTheOriginal) {
    const Document original = Document::parse(kExample);
    Document copy = original;
    copy.writeString("SRVB", "IP", "10.9.9.9");
    copy.deleteSection("SERVERS");
    EXPECT_EQ(original.serialize(), kExample);
    EXPECT_EQ(original.getString("SRVB", "IP", "", 50), "10.1.1.20");
    EXPECT_EQ(copy.getString("SRVB", "IP", "", 50), "10.9.9.9");
    Document moved = std::move(copy);
    EXPECT_FALSE(moved.hasSection("SERVERS"));
    copy.writeString("s", "k", "v"); // a moved-from document is empty and usable
    EXPECT_EQ(copy.serialize(), "[s]\r\nk=v\r\n");
}
