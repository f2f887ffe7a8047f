#pragma once
#include "Navigation.h"

#include <QWidget>

// The navigator box over a zoomed image view: the whole image and the part of it on screen.
class NavigationDrawWidget : public QWidget
{
    Q_OBJECT
public:
    explicit NavigationDrawWidget(QWidget *parent = nullptr);

    // Copies the record and repaints.
    void setNavigation(const Navigation &navigation);
    const Navigation &navigation() const { return m_Navigation; }

private:
    Navigation m_Navigation;
};
