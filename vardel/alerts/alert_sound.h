#pragma once
// The announcement of a new alert: its sound file when its playSound is 1 (the
// bell when the file cannot be played), the desktop's bell otherwise. Either
// sounds without holding the alert up; while one is still sounding, further
// announcements are dropped.

#include "vardel/alerts/alert_store.h"

#include <functional>
#include <string>

class SoundAnnouncer : public AlertAnnouncer {
public:
    using PlayFile = std::function<bool(const std::string& path)>;
    using Beep = std::function<void()>;

    // Empty functions stand for the desktop sound's announceFile (a bare file
    // name looked up in the program's directory first) and announceBell.
    explicit SoundAnnouncer(PlayFile play = {}, Beep beep = {});
    void announce(const AlertRecord& record) override;

private:
    PlayFile m_play;
    Beep m_beep;
};

// The announcer of a store constructed without one.
AlertAnnouncer& DefaultAnnouncer();
