#include "MoreAppsWidget.h"
#include "ui_MoreAppsWidget.h"

#include "MessageDlg.h"
#include "Paths.h"
#include "PrivateProfile.h"
#include "SystemActions.h"

#include <QDir>
#include <QPainter>
#include <QStyleOption>

namespace {
// This application's own folder.
const char *kOwnFolder = "NIMBO";
// The launcher starts the application named in Shell.ini when this one ends with it.
const int kSwitchExitCode = 2;
}

MoreAppsWidget::MoreAppsWidget(QWidget *parent)
    : QWidget(parent), ui(new Ui::MoreAppsWidget)
{
    ui->setupUi(this);
    LoadApps();
}

MoreAppsWidget::~MoreAppsWidget()
{
    delete ui;
}

void MoreAppsWidget::LoadApps()
{
    const QDir apps(Paths::path("/root/Microscope"));
    for (const QString &folder : apps.entryList(QDir::Dirs, QDir::Name | QDir::IgnoreCase)) {
        if (folder == kOwnFolder)
            continue;
        const QString pattern = QString("%1_*_*_*").arg(folder.toLower());
        const QDir installed(QString("%1/%2").arg(apps.absolutePath(), folder), pattern, QDir::NoSort,
                             QDir::AllEntries | QDir::System);
        if (!installed.entryList().isEmpty())
            ui->LISTWIDGET_EXIST_APPLICATION->addItem(folder);
    }
}

void MoreAppsWidget::on_LISTWIDGET_EXIST_APPLICATION_itemClicked(QListWidgetItem *item)
{
    // Ending without the choice written would start an application the user did not choose.
    if (!WritePrivateProfileBatch({{"CurrentApp", "Name", item->text().toStdString()}},
                                  Paths::path("/root/Microscope/Shell.ini").toStdString())) {
        MessageDlg message(true, nullptr);
        message.setMessage("<p><b>Error!</b><br/><br/>The choice could not be saved.<br/>"
                           "The application was not switched.</p>");
        message.exec();
        return;
    }
    SystemActions::instance().exitProcess(kSwitchExitCode);
}

void MoreAppsWidget::paintEvent(QPaintEvent *event)
{
    QStyleOption option;
    option.initFrom(this);
    QPainter painter(this);
    style()->drawPrimitive(QStyle::PE_Widget, &option, &painter, this);
    QWidget::paintEvent(event);
}
