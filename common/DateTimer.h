#pragma once
#include <QDate>
#include <QObject>
#include <QString>
#include <QTime>
#include <QTimer>

// The clock behind the date and time labels: every 10 seconds (and on updateDateTime) it sends
// the local date as "yyyy/MM/dd" and the time as "HH:mm". It sends nothing until the first tick
// or the owner's first updateDateTime call.
class DateTimer : public QObject
{
    Q_OBJECT
public:
    explicit DateTimer(QObject *parent = nullptr);
    ~DateTimer() override;

public slots:
    void updateDateTime();

signals:
    void updateCurrentDateTime(QString _LocalDate, QString _LocalTime);

private:
    QTimer m_Timer;
    QDate m_CurrentDate;
    QTime m_CurrentTime;
    QString m_strDate;
    QString m_strTime;
};
