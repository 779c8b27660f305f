// The console on a machine without any sound device: every announcement fails
// quietly, and the player is free again for the next one.

#include "platform/sound/sound.h"
#include "platform/sound/tests/wav.h"
#include "tests/support/testsupport.h"

#include <chrono>
#include <gtest/gtest.h>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

TEST(NoSoundDevice, AnnouncementsFailQuietlyAndLeaveThePlayerFree) {
    testsupport::TempDir home;
    soundtest::useAlsaDefault(home, "type hw card 97");
    soundtest::writeSilentWav(soundtest::themeSound(home, "bell"), 100);
    const std::string wav = home.file("three-seconds.wav");
    soundtest::writeSilentWav(wav, 3000);
    for (int i = 0; i < 1000; ++i) {
        sound::announceFile(i % 2 ? wav : "missing.wav", home.path());
        sound::announceBell();
    }
    for (const auto end = Clock::now() + std::chrono::seconds(10); sound::announcing() && Clock::now() < end;)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_FALSE(sound::announcing());
    EXPECT_TRUE(sound::announceFile(wav, home.path()));
}

} // namespace
