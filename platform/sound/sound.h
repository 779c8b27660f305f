#pragma once
// Announcing alerts through the desktop's event-sound service. An announcement
// sounds on a thread of its own, so the caller never waits for it; while one is
// still sounding, further ones are dropped, not queued. Without a sound server
// every announcement fails silently.

#include <string>

namespace sound {

// Starts playing the sound file and returns at once. A bare file name is looked
// up in programDirectory (with its trailing '/'), then in the desktop's sound
// theme; a file that cannot be played (missing, unreadable, no sound) gives the
// bell instead. False, with nothing played, while an announcement is sounding.
bool announceFile(const std::string& file, const std::string& programDirectory);

// The desktop's bell, on the same terms.
bool announceBell();

// True while an announcement is sounding.
bool announcing();

} // namespace sound
