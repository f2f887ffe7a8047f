#include "DateTimer.h"

#include <QDateTime>

DateTimer::DateTimer(QObject *parent)
    : QObject(parent)
{
    connect(&m_Timer, &QTimer::timeout, this, &DateTimer::updateDateTime);
    m_Timer.start(10000);
}

DateTimer::~DateTimer()
{
    if (m_Timer.isActive())
        m_Timer.stop();
}

void DateTimer::updateDateTime()
{
    const QDateTime now = QDateTime::currentDateTime(); // one reading for both texts
    m_CurrentDate = now.date();
    m_CurrentTime = now.time();
    m_strDate = m_CurrentDate.toString("yyyy/MM/dd");
    m_strTime = m_CurrentTime.toString("HH:mm");
    emit updateCurrentDateTime(m_strDate, m_strTime);
}
