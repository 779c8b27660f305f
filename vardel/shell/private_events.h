#pragma once
// The main window's private messages, as Qt event types.

#include <QEvent>

// WM_USER+1000: new trap alerts wait in the main window's queue.
inline constexpr QEvent::Type kEventTrapAlert = static_cast<QEvent::Type>(QEvent::User + 1000);
inline constexpr QEvent::Type kEventTrapListenerFailed = static_cast<QEvent::Type>(QEvent::User + 1001);
// The trap thread found datagrams dropped before it could read them.
inline constexpr QEvent::Type kEventTrapsLost = static_cast<QEvent::Type>(QEvent::User + 1002);
// The trap thread refused SNMPv3 messages (their senders wait in the window).
inline const QEvent::Type kEventTrapsRefused = static_cast<QEvent::Type>(QEvent::registerEventType());
