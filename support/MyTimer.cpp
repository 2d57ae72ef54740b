#include "support/MyTimer.h"

#include <QTimer>
#include <QtDebug>

#include <exception>
#include <limits>

MyTimer::MyTimer(QObject *parent) : QObject(parent), m_timer(new QTimer(this)) {
    m_timer->setSingleShot(false);
    connect(m_timer, &QTimer::timeout, this, &MyTimer::Timer);
}

MyTimer::~MyTimer() {
    m_enabled = false;
    Update();
}

void MyTimer::SetInterval(quint32 ms) {
    if (ms == m_interval)
        return;
    m_interval = ms;
    Update();
}

void MyTimer::SetEnabled(bool enabled) {
    if (enabled == m_enabled)
        return;
    m_enabled = enabled;
    Update();
}

void MyTimer::SetOnTimer(std::function<void()> handler) {
    m_onTimer = std::move(handler);
    Update();
}

bool MyTimer::IsActive() const {
    return m_timer->isActive();
}

void MyTimer::Update() {
    m_timer->stop();
    if (m_interval != 0 && m_enabled && m_onTimer) {
        // QTimer takes an int; longer intervals than about 24 days are clamped.
        const quint32 limit = static_cast<quint32>(std::numeric_limits<int>::max());
        m_timer->start(static_cast<int>(qMin(m_interval, limit)));
    }
}

void MyTimer::Timer() {
    if (!m_onTimer)
        return;
    // A copy, so a handler that replaces itself does not destroy the function it runs in.
    const std::function<void()> handler = m_onTimer;
    try {
        handler();
    } catch (const std::exception &e) {
        qWarning("MyTimer: handler failed: %s", e.what());
    } catch (...) {
        qWarning("MyTimer: handler failed with an unknown exception");
    }
}
