// The console on a machine without any sound device: every call fails, quietly and fast.

#include "sound.h"
#include "testsupport.h"
#include "wav.h"

#include <chrono>
#include <gtest/gtest.h>

namespace {

using Clock = std::chrono::steady_clock;

class NoSoundDevice : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_home = new testsupport::TempDir;
        soundtest::useAlsaDefault(*s_home, "type hw card 97");
    }
    static void TearDownTestSuite() {
        delete s_home;
        s_home = nullptr;
    }
    static double secondsSince(Clock::time_point start) {
        return std::chrono::duration<double>(Clock::now() - start).count();
    }
    static testsupport::TempDir* s_home;
};

testsupport::TempDir* NoSoundDevice::s_home = nullptr;

TEST_F(NoSoundDevice, FilesThatAreNotThereFailAtOnce) {
    const auto start = Clock::now();
    EXPECT_FALSE(sound::playFileSync(s_home->file("missing.wav")));
    EXPECT_FALSE(sound::playFileSync(""));
    EXPECT_FALSE(sound::playFileSync(s_home->path())); // a directory
    EXPECT_LT(secondsSince(start), 0.5);
}

TEST_F(NoSoundDevice, APlayableFileFailsWithoutWaitingForItsLength) {
    const std::string wav = s_home->file("three-seconds.wav");
    soundtest::writeSilentWav(wav, 3000);
    const auto start = Clock::now();
    for (int i = 0; i < 20; ++i)
        EXPECT_FALSE(sound::playFileSync(wav));
    EXPECT_LT(secondsSince(start), 2.0);
}

TEST_F(NoSoundDevice, ABurstOfBeepsDoesNotStall) {
    const auto start = Clock::now();
    for (int i = 0; i < 2000; ++i)
        sound::beep();
    EXPECT_LT(secondsSince(start), 2.0);
}

} // namespace
