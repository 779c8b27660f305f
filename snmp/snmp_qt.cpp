#include "snmp/snmp_qt.h"

SnmpQtDriver::SnmpQtDriver(Snmp& session, QObject* parent) : QObject(parent), m_session(session) {
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, [this] { onTimeout(); });
    if (m_session.socketDescriptor() >= 0) {
        m_notifier = new QSocketNotifier(m_session.socketDescriptor(), QSocketNotifier::Read, this);
        connect(m_notifier, &QSocketNotifier::activated, this, [this] { onReadable(); });
    }
    if (m_session.ipxSocketDescriptor() >= 0) {
        auto* ipx = new QSocketNotifier(m_session.ipxSocketDescriptor(), QSocketNotifier::Read, this);
        connect(ipx, &QSocketNotifier::activated, this, [this] { onReadable(); });
    }
    if (m_session.ip6SocketDescriptor() >= 0) {
        auto* ip6 = new QSocketNotifier(m_session.ip6SocketDescriptor(), QSocketNotifier::Read, this);
        connect(ip6, &QSocketNotifier::activated, this, [this] { onReadable(); });
    }
    // A burst of requests re-arms the timer once, when control returns to the
    // event loop.
    m_session.setScheduleHook([this] {
        if (m_rescheduleQueued)
            return;
        m_rescheduleQueued = true;
        QMetaObject::invokeMethod(
            this,
            [this] {
                m_rescheduleQueued = false;
                reschedule();
            },
            Qt::QueuedConnection);
    });
    reschedule();
}

SnmpQtDriver::~SnmpQtDriver() {
    m_session.setScheduleHook({});
}

void SnmpQtDriver::onReadable() {
    m_session.processReadable();
    // Answers only take requests away, so an armed timer is early at worst;
    // attempts sent meanwhile re-arm it through the schedule hook.
    if (!m_timer.isActive())
        reschedule();
}

void SnmpQtDriver::onTimeout() {
    m_session.processTimeouts();
    reschedule();
}

void SnmpQtDriver::reschedule() {
    int ms = m_session.nextTimeoutMs();
    if (ms < 0)
        m_timer.stop();
    else
        m_timer.start(ms);
}
