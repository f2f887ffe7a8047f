#pragma once
#include <QLabel>

// A label that reports the pointer entering and leaving it.
class LBLabel : public QLabel
{
    Q_OBJECT
public:
    explicit LBLabel(QWidget *parent = nullptr);

signals:
    void entered();
    void leaved();

protected:
    void enterEvent(QEvent *event) override;
    void leaveEvent(QEvent *event) override;
};
