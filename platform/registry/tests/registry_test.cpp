// The console key in a regedit export file.
#include "platform/registry/registry.h"
#include "tests/support/testsupport.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>

using registry::Key;
using testsupport::readFile;
using testsupport::TempDir;
using testsupport::writeFile;

namespace {

const std::string kHeader = "Windows Registry Editor Version 5.00\r\n\r\n";
const std::string kSection =
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvane\\Orv Corvanta Vardel\\ManagementServer]\r\n";
const std::string kOther = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvane\\Other]\r\n\"Name\"=\"other key\"\r\n\r\n";

} // namespace

TEST(RegistryOpen, MissingFileOrKeyIsAMissingKey) {
    TempDir dir;
    const std::string reg = dir.file("vardel.reg");
    EXPECT_FALSE(Key::open(reg));
    EXPECT_FALSE(std::filesystem::exists(reg)); // never created

    writeFile(reg, kHeader + kOther);
    EXPECT_FALSE(Key::open(reg));
    writeFile(reg,
              kHeader + "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvane\\Orv Corvanta Vardel\\ManagementServer]\r\n");
    EXPECT_FALSE(Key::open(reg));
    writeFile(reg, "not a registry file\r\n\r\n" + kSection);
    EXPECT_FALSE(Key::open(reg));
    writeFile(reg, "");
    EXPECT_FALSE(Key::open(reg));

    writeFile(reg, kHeader + kSection);
    auto key = Key::open(reg);
    ASSERT_TRUE(key);
    EXPECT_EQ(key->longestValueLength(), 0u);
    EXPECT_FALSE(key->read("Name", 256));
    writeFile(reg,
              "REGEDIT4\n\n[hkey_local_machine\\software\\orvane\\orv corvanta vardel\\managementserver]\n");
    EXPECT_TRUE(Key::open(reg));
}

TEST(RegistryRead, ValuesAndTheirBufferSizes) {
    TempDir dir;
    const std::string reg = dir.file("vardel.reg");
    writeFile(reg, kHeader + kSection +
                       "\"Name\"=\"mgmt.example.com\"\r\n"
                       "\"SoundFile\"=\"C:\\\\Sounds\\\\\\\"alert\\\".wav\"\r\n"
                       "\"Port\"=\"8080x\"\r\n"
                       "\"Count\"=dword:00000010\r\n"
                       "\"Blob\"=hex:01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,\\\r\n"
                       "  13,14,15,16,17,18,19,1a\r\n"
                       "\"Gone\"=-\r\n"
                       "@=\"default\"\r\n"
                       "\r\n" +
                       kOther);
    auto key = Key::open(reg);
    ASSERT_TRUE(key);
    EXPECT_EQ(key->read("name", 17), "mgmt.example.com");
    EXPECT_FALSE(key->read("Name", 16)); // no room for the NUL
    EXPECT_EQ(key->read("SoundFile", 256), "C:\\Sounds\\\"alert\".wav");
    EXPECT_EQ(key->read("PORT", 256), "8080x");
    EXPECT_FALSE(key->read("Count", 256)); // not a string
    EXPECT_FALSE(key->read("Gone", 256));
    EXPECT_FALSE(key->read("Missing", 256));
    EXPECT_EQ(key->read("", 256), "default");
    EXPECT_EQ(key->longestValueLength(), 26u); // the binary value's bytes
}

TEST(RegistryWrite, TextIsCutToTheDataLength) {
    TempDir dir;
    const std::string reg = dir.file("vardel.reg");
    writeFile(reg, kHeader + kSection + "\"Name\"=\"old\"\r\n\r\n" + kOther);
    auto key = Key::open(reg);
    ASSERT_TRUE(key);
    const std::string longName(150, 'n');
    key->write("Name", longName, 102);
    key->write("Port", "80", 102);
    key->write("SSL", "1", 2);
    key->write("DHCP", "0", 1);
    EXPECT_EQ(key->read("Name", 256), std::string(101, 'n'));
    EXPECT_EQ(readFile(reg), kHeader + kSection + "\"Name\"=\"old\"\r\n\r\n" + kOther); // not before close
    ASSERT_TRUE(key->close());
    EXPECT_EQ(readFile(reg), kHeader + kSection + "\"Name\"=\"" + std::string(101, 'n') +
                                 "\"\r\n\"Port\"=\"80\"\r\n\"SSL\"=\"1\"\r\n\"DHCP\"=\"\"\r\n\r\n" + kOther);
    auto again = Key::open(reg);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->longestValueLength(), 102u);
    EXPECT_EQ(again->read("Name", 102), std::string(101, 'n'));
}

TEST(RegistryWrite, EscapesRoundTripAndOtherContentStays) {
    TempDir dir;
    const std::string reg = dir.file("vardel.reg");
    const std::string before =
        "Windows Registry Editor Version 5.00\n\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvane\\Orv Corvanta Vardel\\ManagementServer]\n"
        "\"Browser\"=\"/usr/bin/firefox\"\n"
        "\"Blob\"=hex:01,\\\n  02\n"
        "\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvane\\Other]\n"
        "\"Name\"=\"keep\"\n";
    writeFile(reg, before);
    ::chmod(reg.c_str(), 0640);
    const std::string tricky = "C:\\Program Files\\\"Sounds\"\\a.wav";
    auto key = Key::open(reg);
    ASSERT_TRUE(key);
    key->write("SoundFile", tricky, 102);
    key->write("blob", "now text", 102);
    key->write("Name", "line\r\nbreak", 102);
    ASSERT_TRUE(key->close());
    EXPECT_EQ(readFile(reg), "Windows Registry Editor Version 5.00\n\n"
                             "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvane\\Orv Corvanta Vardel\\ManagementServer]\n"
                             "\"Browser\"=\"/usr/bin/firefox\"\n"
                             "\"Blob\"=\"now text\"\n"
                             "\"SoundFile\"=\"C:\\\\Program Files\\\\\\\"Sounds\\\"\\\\a.wav\"\n"
                             "\"Name\"=\"line  break\"\n"
                             "\n"
                             "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvane\\Other]\n"
                             "\"Name\"=\"keep\"\n");
    struct stat st {};
    ASSERT_EQ(::stat(reg.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    auto again = Key::open(reg);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->read("SoundFile", 256), tricky);
    EXPECT_EQ(again->read("Browser", 256), "/usr/bin/firefox");
}

// regedit writes UTF-16LE with a byte-order mark; texts reach the program as UTF-8.
TEST(RegistryEncoding, ARegeditExportIsReadAndWrittenBackAsUtf16) {
    auto utf16 = [](const std::u16string& text) {
        std::string bytes = "\xFF\xFE";
        for (char16_t c : text)
            bytes += {char(c & 0xFF), char(c >> 8)};
        return bytes;
    };
    const std::u16string header =
        u"Windows Registry Editor Version 5.00\r\n\r\n"
        u"[HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvane\\Orv Corvanta Vardel\\ManagementServer]\r\n";
    TempDir dir;
    const std::string reg = dir.file("vardel.reg");
    writeFile(reg, utf16(header + u"\"Name\"=\"m\u00fcnchen-\U0001F514\"\r\n\"Odd\"=\"\xDC00\"\r\n\r\n"));
    auto key = Key::open(reg);
    ASSERT_TRUE(key);
    EXPECT_EQ(key->read("Name", 256), "m\xC3\xBCnchen-\xF0\x9F\x94\x94");
    key->write("SoundFile", "C:\\Sounds\\\xC3\xA9t\xC3\xA9.wav", 102);
    ASSERT_TRUE(key->close());
    EXPECT_EQ(readFile(reg), utf16(header + u"\"Name\"=\"m\u00fcnchen-\U0001F514\"\r\n\"Odd\"=\"\xDC00\"\r\n"
                                            u"\"SoundFile\"=\"C:\\\\Sounds\\\\\u00e9t\u00e9.wav\"\r\n\r\n"));
}

TEST(RegistryClose, UnchangedKeyIsNotWrittenAndAFailedWriteIsReported) {
    TempDir dir;
    const std::string reg = dir.file("vardel.reg");
    const std::string text = kHeader + kSection + "\"Name\"=\"same\"";
    writeFile(reg, text);
    auto key = Key::open(reg);
    ASSERT_TRUE(key);
    key->write("Name", "same", 102);
    std::filesystem::remove(reg);
    EXPECT_TRUE(key->close());
    EXPECT_FALSE(std::filesystem::exists(reg));

    writeFile(reg, text);
    key = Key::open(reg);
    ASSERT_TRUE(key);
    key->write("Port", "80", 102);
    std::filesystem::remove(reg);
    std::filesystem::create_directory(reg);
    EXPECT_FALSE(key->close());
    EXPECT_TRUE(std::filesystem::is_directory(reg));

    std::filesystem::remove(reg);
    writeFile(reg, text);
    key = Key::open(reg);
    ASSERT_TRUE(key);
    key->write("Port", "80", 102);
    ASSERT_TRUE(key->close());
    EXPECT_EQ(readFile(reg), text + "\r\n\"Port\"=\"80\"\r\n");
}
