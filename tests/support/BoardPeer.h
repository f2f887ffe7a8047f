#pragma once
#include <QByteArray>
#include <QList>
#include <QPair>
#include <QProcess>
#include <QString>

// A board played by an independent script (tests/instrument/board_peer.py) on a pseudo-terminal:
// it answers as firmware 2.6 and logs every line it receives, with its time, to logPath.
class BoardPeer
{
public:
    // Starts the peer for at most seconds; device() is empty when it did not start.
    BoardPeer(const QString &logPath, int seconds);
    ~BoardPeer();
    QString device() const { return m_device; }
    void stop();

    // The lines received so far: (milliseconds, bytes as sent).
    QList<QPair<qint64, QByteArray>> lines() const;

private:
    QProcess m_process;
    QString m_logPath;
    QString m_device;
};
