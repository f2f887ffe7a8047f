#pragma once
#include <QLabel>

// A label that shortens its text with an ellipsis to fit its width (on the right unless told
// otherwise). With Qt::ElideNone it is a plain label.
class QElideLabel : public QLabel
{
    Q_OBJECT
public:
    explicit QElideLabel(QWidget *parent = nullptr, Qt::WindowFlags flags = {});
    explicit QElideLabel(const QString &text, QWidget *parent = nullptr, Qt::WindowFlags flags = {});
    QElideLabel(const QString &text, Qt::TextElideMode mode, QWidget *parent = nullptr,
                Qt::WindowFlags flags = {});

    // Hides QLabel::setText (not virtual there): also shortens the text for the current width.
    void setText(const QString &text);
    // The text as painted.
    QString elidedText() const { return m_ElidedText; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void cacheElidedText(int width);

    Qt::TextElideMode m_ElideMode = Qt::ElideRight;
    QString m_ElidedText;
};
