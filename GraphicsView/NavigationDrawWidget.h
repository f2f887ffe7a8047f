#pragma once
#include "Navigation.h"

#include <QWidget>

// The navigator over an image view: paints its view's Navigation record. Transparent for the
// mouse, so touches reach the view beneath.
class NavigationDrawWidget : public QWidget
{
    Q_OBJECT
public:
    explicit NavigationDrawWidget(QWidget *parent = nullptr);

    // Copies the record and repaints at once.
    void setNavigation(const Navigation &navigation);
    const Navigation &navigation() const { return m_Navigation; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    Navigation m_Navigation;
};
