#pragma once
#include <QWidget>

class QListWidgetItem;
namespace Ui {
class MoreAppsWidget;
}

// The application-switch page: lists the other instrument applications installed beside this one
// under "/root/Microscope" (a folder Foo holding an entry foo_<a>_<b>_<c>), and a tap on one
// records it as [CurrentApp] Name in "/root/Microscope/Shell.ini" and ends this application with
// exit status 2, on which the launcher starts the chosen one.
class MoreAppsWidget : public QWidget
{
    Q_OBJECT
public:
    explicit MoreAppsWidget(QWidget *parent = nullptr);
    ~MoreAppsWidget() override;

    // Fills the list once, in folder-name order ignoring case.
    void LoadApps();

protected:
    void paintEvent(QPaintEvent *event) override;

private slots:
    void on_LISTWIDGET_EXIST_APPLICATION_itemClicked(QListWidgetItem *item);

private:
    Ui::MoreAppsWidget *ui;
};
