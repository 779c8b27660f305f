#pragma once
// Drives an Snmp session from the Qt event loop of the thread that owns this
// object: a socket notifier for arriving datagrams and a single-shot timer for
// the next time-out, re-armed after every event and every request sent.

#include "snmp/snmp.h"

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

class SnmpQtDriver : public QObject {
public:
    explicit SnmpQtDriver(Snmp& session, QObject* parent = nullptr);
    ~SnmpQtDriver() override;

private:
    void onReadable();
    void onTimeout();
    void reschedule();

    Snmp& m_session;
    QSocketNotifier* m_notifier = nullptr;
    QTimer m_timer;
    bool m_rescheduleQueued = false;
};
