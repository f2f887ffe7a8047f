#include "QElideLabel.h"

#include <QPainter>
#include <QResizeEvent>

QElideLabel::QElideLabel(QWidget *parent, Qt::WindowFlags flags)
    : QLabel(parent, flags)
{
}

QElideLabel::QElideLabel(const QString &text, QWidget *parent, Qt::WindowFlags flags)
    : QLabel(text, parent, flags)
{
}

QElideLabel::QElideLabel(const QString &text, Qt::TextElideMode mode, QWidget *parent, Qt::WindowFlags flags)
    : QLabel(text, parent, flags)
    , m_ElideMode(mode)
{
}

void QElideLabel::setText(const QString &text)
{
    QLabel::setText(text);
    cacheElidedText(width());
}

void QElideLabel::cacheElidedText(int width)
{
    m_ElidedText = fontMetrics().elidedText(text(), m_ElideMode, width, Qt::TextShowMnemonic);
}

void QElideLabel::resizeEvent(QResizeEvent *event)
{
    QLabel::resizeEvent(event);
    cacheElidedText(event->size().width());
}

void QElideLabel::paintEvent(QPaintEvent *event)
{
    if (m_ElideMode == Qt::ElideNone) {
        QLabel::paintEvent(event);
        return;
    }
    QPainter painter(this);
    painter.drawText(QRect(0, 0, width(), height()), int(alignment()), m_ElidedText);
}
