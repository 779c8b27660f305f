// Playback into ALSA's null device: the file is decoded and played, and the call
// returns once libcanberra reports the end.

#include "sound.h"
#include "testsupport.h"
#include "wav.h"

#include <chrono>
#include <gtest/gtest.h>

namespace {

class NullSoundDevice : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_home = new testsupport::TempDir;
        soundtest::useAlsaDefault(*s_home, "type null");
    }
    static void TearDownTestSuite() {
        delete s_home;
        s_home = nullptr;
    }
    static testsupport::TempDir* s_home;
};

testsupport::TempDir* NullSoundDevice::s_home = nullptr;

TEST_F(NullSoundDevice, PlaysAWavFileAndReturns) {
    const std::string wav = s_home->file("short.wav");
    soundtest::writeSilentWav(wav, 200);
    EXPECT_TRUE(sound::playFileSync(wav));
    EXPECT_TRUE(sound::playFileSync(wav)); // the context is reused
}

TEST_F(NullSoundDevice, AFileThatIsNoSoundFails) {
    const std::string junk = s_home->file("junk.wav");
    testsupport::writeFile(junk, std::string(4096, 'x'));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(sound::playFileSync(junk));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

} // namespace
