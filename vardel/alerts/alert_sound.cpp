#include "vardel/alerts/alert_sound.h"

#include "platform/sound/sound.h"
#include "vardel/store/program_env.h"

SoundAnnouncer::SoundAnnouncer(PlayFile play, Beep beep) : m_play(std::move(play)), m_beep(std::move(beep)) {
    if (!m_play)
        m_play = [](const std::string& file) { return sound::announceFile(file, ProgramDirectory()); };
    if (!m_beep)
        m_beep = [] { sound::announceBell(); };
}

void SoundAnnouncer::announce(const AlertRecord& record) {
    // Neither result is looked at: the sound plays on while the alert goes on,
    // and one still sounding drops this one.
    if (record.playSound == 1)
        m_play(record.soundFile);
    else
        m_beep();
}

AlertAnnouncer& DefaultAnnouncer() {
    static SoundAnnouncer announcer;
    return announcer;
}
