#include "ErrorReportDlg.h"

#include "Paths.h"

#include <QDir>
#include <QFile>
#include <QPushButton>

ErrorReportDlg::ErrorReportDlg(QWidget *parent)
    : ScriptableDialog(parent, kPopupFlags)
{
    setObjectName("ErrorReportDlg");
    resize(500, 300);
    auto *cancel = new QPushButton(tr("Cancel"), this);
    cancel->setObjectName("BUTTON_CANCEL");
    cancel->setGeometry(290, 234, 81, 24);
    QMetaObject::connectSlotsByName(this);
    centreOnPrimaryScreen();
}

void ErrorReportDlg::setState(ErrorReportStep step)
{
    m_nStep = step;
}

bool ErrorReportDlg::checkErrorReport(QList<QFileInfo> &list, bool markers)
{
    const QDir root(Paths::path("/root"));
    list = root.entryInfoList({markers ? "exist.error*" : "vantor.error*"}, QDir::Files, QDir::Unsorted);
    return !list.isEmpty();
}

void ErrorReportDlg::removeDetectionFiles()
{
    QList<QFileInfo> markers;
    checkErrorReport(markers, true);
    for (const QFileInfo &marker : markers)
        QFile::remove(marker.absoluteFilePath());
}

void ErrorReportDlg::on_BUTTON_CANCEL_clicked()
{
    reject();
}
