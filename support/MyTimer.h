#pragma once
// A small interval timer owned by each download task (unit TimerUnit).

#include <QObject>
#include <functional>

class QTimer;

// Calls OnTimer on the owning thread every Interval ms while enabled. The underlying timer runs
// only while Interval != 0, Enabled is true and OnTimer is set; every change restarts it, except
// setting Interval or Enabled to the value it already has. An exception thrown by the handler
// is reported and the timer goes on.
class MyTimer : public QObject {
    Q_OBJECT
public:
    explicit MyTimer(QObject *parent = nullptr);
    ~MyTimer() override;

    quint32 Interval() const { return m_interval; }
    bool Enabled() const { return m_enabled; }
    void SetInterval(quint32 ms);
    void SetEnabled(bool enabled);
    void SetOnTimer(std::function<void()> handler);
    bool IsActive() const;

private:
    void Update();
    void Timer();

    QTimer *m_timer;
    quint32 m_interval = 0;
    bool m_enabled = false;
    std::function<void()> m_onTimer;
};
