#include "SerialFramer.h"

void SerialFramer::append(const QByteArray &bytes)
{
    m_tail.append(bytes);
    int start = 0;
    for (int i = 0; i < m_tail.size(); ++i) {
        const char c = m_tail.at(i);
        if (c == '\r' || c == '\n') {
            addLine(m_tail.mid(start, i - start));
            start = i + 1;
        }
    }
    m_tail.remove(0, start);
    if (m_tail.size() > kMaxLineLength) {
        m_tail.clear();
        ++m_dropped;
    }
}

QString SerialFramer::takeMessage()
{
    return m_messages.isEmpty() ? QString() : m_messages.takeFirst();
}

void SerialFramer::clear()
{
    m_tail.clear();
    m_messages.clear();
}

bool SerialFramer::isPrintable(const QByteArray &text)
{
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u > 0x7E)
            return false;
    }
    return true;
}

void SerialFramer::addLine(const QByteArray &line)
{
    const int dollar = line.indexOf('$');
    if (dollar < 0) {
        // Line noise in front of a bare reply ends at its last unprintable byte.
        int start = line.size();
        while (start > 0 && isPrintable(line.mid(start - 1, 1)))
            --start;
        if (start > 0)
            ++m_dropped;
        const QByteArray bare = line.mid(start).trimmed();
        if (!bare.isEmpty())
            m_messages.append(QString::fromLatin1(bare));
        return;
    }
    if (dollar > 0 && !line.left(dollar).trimmed().isEmpty())
        ++m_dropped; // noise in front of the message
    const QList<QByteArray> parts = line.mid(dollar + 1).split('$');
    for (const QByteArray &part : parts) {
        const QByteArray body = part.trimmed();
        if (body.isEmpty())
            continue;
        if (isPrintable(body))
            m_messages.append(QLatin1Char('$') + QString::fromLatin1(body));
        else
            ++m_dropped;
    }
}
