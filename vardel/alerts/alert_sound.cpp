#include "alert_sound.h"

#include "sound.h"

SoundAnnouncer::SoundAnnouncer(PlayFile play, Beep beep) : m_play(std::move(play)), m_beep(std::move(beep)) {
    if (!m_play)
        m_play = [](const std::string& path) { return sound::playFileSync(path); };
    if (!m_beep)
        m_beep = [] { sound::beep(); };
}

void SoundAnnouncer::announce(const AlertRecord& record) {
    // Neither result is looked at: a sound that cannot play is no reason to
    // hold the alert back.
    if (record.playSound == 1)
        m_play(record.soundFile);
    else
        m_beep();
}

AlertAnnouncer& DefaultAnnouncer() {
    static SoundAnnouncer announcer;
    return announcer;
}
