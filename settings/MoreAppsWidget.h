#pragma once
#include <QWidget>

// The application-switch page: lists the other instrument applications and hands over to one.
class MoreAppsWidget : public QWidget
{
    Q_OBJECT
public:
    explicit MoreAppsWidget(QWidget *parent = nullptr);
};
