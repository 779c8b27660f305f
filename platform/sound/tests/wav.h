#pragma once
// Writes small PCM WAV files for the sound tests.

#include "tests/support/testsupport.h"

#include <cstdint>
#include <filesystem>
#include <string>

namespace soundtest {

// A mono 16-bit WAV file of the given length in milliseconds of silence.
inline void writeSilentWav(const std::string& path, int milliseconds) {
    const uint32_t rate = 8000;
    const uint32_t dataSize = rate * 2 * static_cast<uint32_t>(milliseconds) / 1000;
    std::string bytes;
    auto u32 = [&](uint32_t v) {
        for (int i = 0; i < 4; ++i)
            bytes.push_back(static_cast<char>((v >> (8 * i)) & 0xff));
    };
    auto u16 = [&](uint16_t v) {
        bytes.push_back(static_cast<char>(v & 0xff));
        bytes.push_back(static_cast<char>(v >> 8));
    };
    bytes += "RIFF";
    u32(36 + dataSize);
    bytes += "WAVEfmt ";
    u32(16);
    u16(1); // PCM
    u16(1); // mono
    u32(rate);
    u32(rate * 2);
    u16(2);
    u16(16);
    bytes += "data";
    u32(dataSize);
    bytes.append(dataSize, '\0');
    testsupport::writeFile(path, bytes);
}

// Points ALSA (through HOME/.asoundrc) at the given default PCM, pins
// libcanberra to its ALSA driver and gives it a sound theme of its own in
// HOME/share, so that no sound server or theme of the machine is used.
inline void useAlsaDefault(const testsupport::TempDir& home, const std::string& pcm) {
    testsupport::writeFile(home.file(".asoundrc"), "pcm.!default { " + pcm + " }\n");
    const std::string share = home.file("share");
    std::filesystem::create_directories(share + "/sounds/freedesktop/stereo");
    testsupport::writeFile(
        home.file("share/sounds/freedesktop/index.theme"),
        "[Sound Theme]\nName=Test\nDirectories=stereo\n\n[stereo]\nOutputProfile=stereo\n");
    setenv("HOME", home.path().c_str(), 1);
    setenv("XDG_CONFIG_HOME", home.path().c_str(), 1);
    setenv("XDG_DATA_HOME", share.c_str(), 1);
    setenv("XDG_DATA_DIRS", share.c_str(), 1);
    setenv("CANBERRA_DRIVER", "alsa", 1);
}

// Where useAlsaDefault's theme keeps the sound of an event name.
inline std::string themeSound(const testsupport::TempDir& home, const std::string& name) {
    return home.file("share/sounds/freedesktop/stereo/" + name + ".wav");
}

} // namespace soundtest
