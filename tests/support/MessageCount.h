#pragma once
#include <QString>
#include <QtGlobal>

// Counts, while it lives, the debug and warning lines that contain a text; every line still
// reaches the handler that was there before. One at a time, on the thread that logs.
class MessageCount
{
public:
    explicit MessageCount(const QString &text);
    ~MessageCount();
    int count() const { return m_count; }

private:
    static void handle(QtMsgType type, const QMessageLogContext &context, const QString &message);
    QString m_text;
    int m_count = 0;
    QtMessageHandler m_previous;
};
