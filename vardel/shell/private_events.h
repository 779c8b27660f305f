#pragma once
// The main window's private messages, as Qt event types.

#include <QEvent>
#include <memory>

#include "alert_record.h"

inline constexpr QEvent::Type kEventTrapAlert = static_cast<QEvent::Type>(QEvent::User + 1000);
inline constexpr QEvent::Type kEventTrapListenerFailed = static_cast<QEvent::Type>(QEvent::User + 1001);

// WM_USER+1000: a new trap alert, owned by the event until the handler takes it.
class TrapAlertEvent : public QEvent {
public:
    explicit TrapAlertEvent(std::unique_ptr<AlertRecord> record)
        : QEvent(kEventTrapAlert), m_record(std::move(record)) {}
    std::unique_ptr<AlertRecord> takeRecord() { return std::move(m_record); }

private:
    std::unique_ptr<AlertRecord> m_record;
};
