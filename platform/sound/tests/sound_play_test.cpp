// Announcements played into a FIFO that stands for the sound device: a sound
// lasts until the test has read what reached the device.

#include "platform/sound/sound.h"
#include "platform/sound/tests/wav.h"
#include "tests/support/testsupport.h"

#include <chrono>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// Bytes of sound data in the test sounds (8000 samples/s, 16-bit mono).
constexpr std::size_t kProgramSoundBytes = 2000, kThemeSoundBytes = 1200, kMailSoundBytes = 800,
                      kBellBytes = 2464;

class FifoSoundDevice : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_home = new testsupport::TempDir;
        const std::string fifo = s_home->file("device");
        ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
        soundtest::useAlsaDefault(*s_home, "type file slave.pcm null file \"" + fifo + "\" format raw");
        soundtest::writeSilentWav(soundtest::themeSound(*s_home, "bell"), 154);
        soundtest::writeSilentWav(soundtest::themeSound(*s_home, "chime"), 75);
        soundtest::writeSilentWav(soundtest::themeSound(*s_home, "message"), 50);
        soundtest::writeSilentWav(s_home->file("alert.wav"), 125);
    }
    static void TearDownTestSuite() {
        delete s_home;
        s_home = nullptr;
    }

    // Everything one sound wrote to the device, once the player has closed it
    // (empty when nothing sounded within ten seconds).
    static std::string heard() {
        const int fd = ::open(s_home->file("device").c_str(), O_RDONLY | O_NONBLOCK);
        std::string bytes;
        bool writerSeen = false;
        char buffer[4096];
        for (const auto end = Clock::now() + 10s; Clock::now() < end;) {
            pollfd p{fd, POLLIN, 0};
            ::poll(&p, 1, 100);
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n > 0) {
                bytes.append(buffer, std::size_t(n));
                writerSeen = true;
            } else if (n == 0 && writerSeen) {
                break;
            } else {
                std::this_thread::sleep_for(5ms);
            }
        }
        ::close(fd);
        return bytes;
    }

    static bool quietWithin(std::chrono::seconds limit) {
        for (const auto end = Clock::now() + limit; sound::announcing() && Clock::now() < end;)
            std::this_thread::sleep_for(10ms);
        return !sound::announcing();
    }

    // The bytes that announcing file gave the device.
    static std::size_t announced(const std::string& file) {
        EXPECT_TRUE(quietWithin(10s));
        EXPECT_TRUE(sound::announceFile(file, s_home->path())) << file;
        return heard().size();
    }

    static testsupport::TempDir* s_home;
};

testsupport::TempDir* FifoSoundDevice::s_home = nullptr;

TEST_F(FifoSoundDevice, BareNamesAreLookedUpAndWhatCannotPlayGivesTheBell) {
    EXPECT_EQ(announced("alert.wav"), kProgramSoundBytes); // the program directory
    EXPECT_EQ(announced("chime.wav"), kThemeSoundBytes);   // the sound theme
    EXPECT_EQ(announced("newmail.wav"), kMailSoundBytes);  // the theme's new-mail sound
    EXPECT_EQ(announced(s_home->file("alert.wav")), kProgramSoundBytes);

    const std::string junk = s_home->file("junk.wav");
    testsupport::writeFile(junk, std::string(4096, 'x'));
    const std::string unreadable = s_home->file("unreadable.wav");
    soundtest::writeSilentWav(unreadable, 125);
    chmod(unreadable.c_str(), 0);
    for (const std::string& file :
         {s_home->file("missing.wav"), std::string("missing.wav"), junk, std::string()})
        EXPECT_EQ(announced(file), kBellBytes) << file;
    if (access(unreadable.c_str(), R_OK) != 0) { // root reads it anyway
        EXPECT_EQ(announced(unreadable), kBellBytes);
    }
}

TEST_F(FifoSoundDevice, WhileOneSoundsFurtherAnnouncementsAreDroppedNotQueued) {
    ASSERT_TRUE(quietWithin(10s));
    // The device takes nothing until heard(): the sound goes on, the caller does not wait.
    ASSERT_TRUE(sound::announceFile("alert.wav", s_home->path()));
    EXPECT_TRUE(sound::announcing());
    EXPECT_FALSE(sound::announceFile("chime.wav", s_home->path()));
    EXPECT_FALSE(sound::announceBell());
    EXPECT_EQ(heard().size(), kProgramSoundBytes);
    // Nothing was queued: a second sound would wait on the device for good.
    EXPECT_TRUE(quietWithin(10s));

    // The bell likewise.
    ASSERT_TRUE(sound::announceBell());
    EXPECT_FALSE(sound::announceFile("alert.wav", s_home->path()));
    EXPECT_EQ(heard().size(), kBellBytes);
    EXPECT_EQ(announced("alert.wav"), kProgramSoundBytes);
}

} // namespace
