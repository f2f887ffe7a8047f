#pragma once
#include <QByteArray>
#include <QString>
#include <QStringList>

// Cuts the byte stream of the controller board into messages, keeping what has not ended yet.
// A message ends at CR or LF; blank lines are skipped. A line holding "$" gives one message per
// "$" (a new-firmware message; any text before the first "$" is line noise). A line without "$"
// is a bare reply of the old firmware, given without its line end and surrounding blanks; noise in
// front of it ends at its last byte outside printable ASCII. A "$" message holding such a byte is
// noise and dropped, as is an unended line that grows past kMaxLineLength.
class SerialFramer
{
public:
    static constexpr int kMaxLineLength = 1024;

    void append(const QByteArray &bytes);

    bool hasMessage() const { return !m_messages.isEmpty(); }
    // The oldest complete message; empty when there is none.
    QString takeMessage();
    // The complete messages not taken yet, oldest first.
    const QStringList &messages() const { return m_messages; }
    // Puts a message back in front, to be taken first.
    void pushFront(const QString &message) { m_messages.prepend(message); }

    // Bytes of the line that has not ended yet.
    int pendingBytes() const { return m_tail.size(); }
    // Messages and bytes dropped as noise since construction (for the serial log).
    int droppedCount() const { return m_dropped; }

    void clear();

private:
    void addLine(const QByteArray &line);
    static bool isPrintable(const QByteArray &text);

    QByteArray m_tail;
    QStringList m_messages;
    int m_dropped = 0;
};
