#pragma once
#include <QWidget>

// The single-image page's image area.
class SingleImageWidget : public QWidget
{
    Q_OBJECT
public:
    explicit SingleImageWidget(QWidget *parent = nullptr);
};
