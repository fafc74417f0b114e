#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <algorithm>

// Measures how responsive the event loop is: a 10 ms timer that records how late it fires.
// Its lateness is the time the GUI thread spent on something else (a stall).
class StallProbe
{
public:
    StallProbe()
    {
        m_ticker.setTimerType(Qt::PreciseTimer);
        m_ticker.setInterval(10);
        QObject::connect(&m_ticker, &QTimer::timeout, [this] {
            const double late = m_sinceTick.nsecsElapsed() / 1e6 - 10.0;
            if (late > m_worstMs) {
                m_worstMs = late;
                m_worstAtMs = m_sinceStart.nsecsElapsed() / 1e6 - late - 10.0;
            }
            m_over50 += late > 50 ? 1 : 0;
            m_sinceTick.start();
        });
    }

    void start()
    {
        m_sinceTick.start();
        m_sinceStart.start();
        m_ticker.start();
    }

    double worstMs() const { return m_worstMs; }
    // When the worst stall began, from start().
    double worstAtMs() const { return m_worstAtMs; }
    int stallsOver50() const { return m_over50; }

private:
    QTimer m_ticker;
    QElapsedTimer m_sinceTick;
    QElapsedTimer m_sinceStart;
    double m_worstMs = 0;
    double m_worstAtMs = 0;
    int m_over50 = 0;
};
