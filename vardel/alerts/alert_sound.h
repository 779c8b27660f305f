#pragma once
// The announcement of a new alert: its sound file played to the end when its
// playSound is 1, the desktop's bell otherwise.

#include "alert_store.h"

#include <functional>
#include <string>

class SoundAnnouncer : public AlertAnnouncer {
public:
    using PlayFile = std::function<bool(const std::string& path)>;
    using Beep = std::function<void()>;

    // Empty functions stand for the desktop sound's playFileSync and beep.
    explicit SoundAnnouncer(PlayFile play = {}, Beep beep = {});
    void announce(const AlertRecord& record) override;

private:
    PlayFile m_play;
    Beep m_beep;
};

// The announcer of a store constructed without one.
AlertAnnouncer& DefaultAnnouncer();
