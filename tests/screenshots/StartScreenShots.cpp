#include "StartScreenShots.h"

#include "ErrorReportDlg.h"
#include "Globals.h"
#include "LicenseAgreementDlg.h"
#include "MoreAppsWidget.h"
#include "Paths.h"
#include "ShowLogDlg.h"
#include "SimSandbox.h"
#include "WelcomeDlg.h"

#include <QAbstractButton>
#include <QDir>
#include <QFile>
#include <QTimer>

QStringList startScreenShotNames()
{
    return {"LicenseAgreementDlg-accept", "LicenseAgreementDlg-close", "WelcomeDlg", "ShowLogDlg",
            "ErrorReportDlg-question", "ErrorReportDlg-insert", "ErrorReportDlg-noreport", "ErrorReportDlg-saved",
            "MoreAppsWidget"};
}

QWidget *startScreenShot(const QString &name)
{
    SimSandbox::seed(); // the agreement text
    auto *holder = new QWidget(nullptr, Qt::FramelessWindowHint);
    holder->setGeometry(0, 0, 1920, 1080);
    holder->setObjectName("backdrop");
    holder->setStyleSheet("QWidget#backdrop { background-color: rgb(31, 34, 38); }");
    if (name == "MoreAppsWidget") {
        // Two applications installed beside ours.
        for (const char *entry : {"/root/Microscope/CellCount/cellcount_1_2_0", "/root/Microscope/Growth/growth_2_0_1"})
            QDir().mkpath(Paths::path(entry));
        auto *page = new MoreAppsWidget(holder);
        page->setGeometry(0, 60, 1920, 1020);
        return holder;
    }
    if (name == "ShowLogDlg") {
        QFile log(Paths::path("/root/log"));
        if (log.open(QIODevice::WriteOnly | QIODevice::Truncate))
            for (int i = 0; i < 60; ++i)
                log.write(QString("[%1] TX FILTER_POS?  RX FILTER_POS=%2\n").arg(i, 3, 10, QChar('0')).arg(i % 4 + 1).toUtf8());
        g_TimeoutCount = 2;
    }
    if (name.startsWith("ErrorReportDlg")) {
        // The main-window shots before these leave the sandbox's USB drive listed: a report is saved there.
        QFile::remove(Paths::path("/root/vantor.error"));
        if (name.endsWith("saved")) {
            QFile report(Paths::path("/root/vantor.error"));
            if (report.open(QIODevice::WriteOnly))
                report.write("stamp\n");
        }
        auto *report = new ErrorReportDlg;
        if (name.endsWith("question"))
            report->setState(ErrorReportDlg::STEP_QUESTION);
        if (name.endsWith("noreport") || name.endsWith("saved"))
            report->findChild<QAbstractButton *>("BUTTON_START")->click();
        QObject::connect(holder, &QObject::destroyed, report, &QObject::deleteLater);
        QTimer::singleShot(0, report, [report] { report->show(); report->raise(); });
        return holder;
    }
    QDialog *dialog = name == "ShowLogDlg" ? static_cast<QDialog *>(new ShowLogDlg)
                    : name == "WelcomeDlg" ? static_cast<QDialog *>(new WelcomeDlg)
                                           : new LicenseAgreementDlg(name.endsWith("accept"));
    QObject::connect(holder, &QObject::destroyed, dialog, &QObject::deleteLater);
    QTimer::singleShot(0, dialog, [dialog] {
        dialog->show();
        dialog->raise();
        if (qobject_cast<ShowLogDlg *>(dialog)) // the log viewer's first look
            QMetaObject::invokeMethod(dialog, "on_BUTTON_RELOAD_clicked");
    });
    return holder;
}
