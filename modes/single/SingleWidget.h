#pragma once
#include <QWidget>

// The single-image capture page.
class SingleWidget : public QWidget
{
    Q_OBJECT
public:
    explicit SingleWidget(QWidget *parent = nullptr);
};
