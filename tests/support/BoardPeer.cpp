#include "BoardPeer.h"
#include "HangBound.h"

#include <QFile>

BoardPeer::BoardPeer(const QString &logPath, int seconds)
    : m_logPath(logPath)
{
    m_process.start("python3", {qEnvironmentVariable("VANTOR_SOURCE_DIR") + "/tests/instrument/board_peer.py", logPath,
                                QString::number(seconds)});
    // The peer prints its device once its pseudo-terminal is open. The bounds only catch a
    // hang: a loaded machine may take many seconds to start Python.
    if (!m_process.waitForStarted(kHangBoundMs))
        return;
    while (!m_process.canReadLine() && m_process.waitForReadyRead(kHangBoundMs)) {
    }
    const QString device = QString::fromLocal8Bit(m_process.readLine()).trimmed();
    if (device.startsWith("/dev/"))
        m_device = device;
}

BoardPeer::~BoardPeer()
{
    stop();
}

void BoardPeer::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.kill();
    m_process.waitForFinished(kHangBoundMs);
}

QList<QPair<qint64, QByteArray>> BoardPeer::lines() const
{
    QList<QPair<qint64, QByteArray>> out;
    QFile log(m_logPath);
    if (!log.open(QIODevice::ReadOnly))
        return out;
    for (const QByteArray &entry : log.readAll().split('\n')) {
        const QList<QByteArray> parts = entry.split(' ');
        if (parts.size() == 2)
            out.append({parts[0].toLongLong(), QByteArray::fromHex(parts[1])});
    }
    return out;
}
