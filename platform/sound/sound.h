#pragma once
// Sound for alerts, through the desktop's event-sound service. Without a sound
// server both calls fail silently and at once.

#include <string>

namespace sound {

// Plays the sound file at path and returns once it has played to its end.
// False when the file is missing or cannot be played.
bool playFileSync(const std::string& path);

// The desktop's bell; returns at once (after a sound that is still playing).
void beep();

} // namespace sound
