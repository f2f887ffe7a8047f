// The error report: crash files left by a real crash, the start-up question, the copy to the
// first USB drive named by version and minute, and the roads where a copy cannot be made.
#include "AppBench.h"
#include "CrashExceptions.h"
#include "ErrorReportDlg.h"
#include "ExceptionTracer.h"
#include "MediaMonitor.h"
#include "Paths.h"
#include "SignalTranslator.h"

#include <QAbstractButton>
#include <QLabel>
#include <QtTest>

#include <csignal>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// A child process that crashes with SIGSEGV; its handler leaves "/root/vantor.error" and
// "/root/exist.error" under the current root. True when the child died as a crash does.
bool crashAChild()
{
    ExceptionTracer::prepare();
    const pid_t child = fork();
    if (child == 0) {
        const int devnull = ::open("/dev/null", O_WRONLY);
        ::dup2(devnull, STDOUT_FILENO);
        SignalTranslator<SegmentationFault> translator;
        ::raise(SIGSEGV);
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFSIGNALED(status);
}

QByteArray contents(const QString &file)
{
    QFile f(file);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

QString root(const char *fixedPath)
{
    return Paths::path(fixedPath);
}

// The label of the first drive other than the SSD, once the storage monitor lists one.
QString usbLabel()
{
    for (const MediaMonitor::DeviceEntry &device : MediaMonitor::deviceList())
        if (device.second != MediaMonitor::ssdLabel)
            return device.second;
    return QString();
}

struct Shown
{
    QString message;
    QStringList buttons; // visible, with their texts
};

Shown shown(ErrorReportDlg &dialog)
{
    Shown state{dialog.findChild<QLabel *>("LABEL_MESSAGE")->text(), {}};
    for (const char *name : {"BUTTON_START", "BUTTON_EXIT", "BUTTON_CANCEL"}) {
        auto *button = dialog.findChild<QAbstractButton *>(name);
        if (!button->isHidden())
            state.buttons << button->text();
    }
    return state;
}

const QString kSaved = "<p><b>Error Report Saved</b><br/><br/>The error report has been saved to your USB drive.<br/>"
                       "Send the error report to your local<br/>distributor or support@example.com.";
const QString kNoDrive = "<p><b>USB Drive Not Detected</b><br/><br/>Insert a USB drive and try again.</p>";

} // namespace

class TestErrorReport : public QObject
{
    Q_OBJECT

private slots:
    // A crash, then a new start: the question, "OK", "Start": the report lands on the USB drive.
    void crashReportReachesTheDriveAtStartUp()
    {
        AppBench bench;
        bench.quietStart();
        bench.setConfig("NIMBO", "Version", "1.0.5");
        QVERIFY(crashAChild());
        const QByteArray report = contents(root("/root/vantor.error"));
        QVERIFY(report.size() > 20 && QFile::exists(root("/root/exist.error")));
        QStringList steps;
        QStringList stamps;
        bench.setAnswer([&](QDialog *dialog) {
            auto *report = qobject_cast<ErrorReportDlg *>(dialog);
            if (!report)
                return 1;
            steps << shown(*report).message;
            dialog->findChild<QAbstractButton *>("BUTTON_START")->click(); // OK
            steps << shown(*report).message;
            stamps << QDateTime::currentDateTime().toString("ddMMyyyy_hhmm");
            dialog->findChild<QAbstractButton *>("BUTTON_START")->click(); // Start
            stamps << QDateTime::currentDateTime().toString("ddMMyyyy_hhmm");
            steps << shown(*report).message + "|" + shown(*report).buttons.join(',');
            return 0;
        });
        bench.start();
        QCOMPARE(steps.size(), 3);
        QVERIFY(steps[0].contains("Abnormal Program Termination"));
        QVERIFY(steps[1].contains("Insert a USB drive"));
        QCOMPARE(steps[2], kSaved + "|Exit");
        // The copy is named by the minute it was made: the one before or after Start was pressed.
        QString target = root("/media/") + usbLabel() + "/vantor.error_1_0_5_" + stamps.first();
        if (!QFile::exists(target))
            target = root("/media/") + usbLabel() + "/vantor.error_1_0_5_" + stamps.last();
        QCOMPARE(contents(target), report);
        QVERIFY(!QFile::exists(root("/root/vantor.error")));
        QVERIFY(!QFile::exists(root("/root/exist.error")));
    }

    // Two reports, one of whose names is taken on the drive: nothing is overwritten, the user is
    // not told it was saved, the markers and the report that was not copied stay.
    void aTakenNameIsNeverOverwritten()
    {
        AppBench bench;
        bench.quietStart();
        bench.setConfig("NIMBO", "Version", ""); // no version: two underscores in a row
        bench.start();
        const QString label = usbLabel();
        QVERIFY(!label.isEmpty());
        bench.root.writeFile("/root/vantor.error", "report A\n");
        bench.root.writeFile("/root/vantor.error.2", "report B\n");
        bench.root.writeFile("/root/exist.error", "stamp\n");
        const QDateTime now = QDateTime::currentDateTime();
        for (const QDateTime &minute : {now, now.addSecs(60)}) // in case the minute turns meanwhile
            bench.root.writeFile("/media/" + label + "/vantor.error__" + minute.toString("ddMMyyyy_hhmm"), "older");
        ErrorReportDlg dialog;
        dialog.findChild<QAbstractButton *>("BUTTON_START")->click();
        const Shown state = shown(dialog);
        QCOMPARE(state.message, kNoDrive);
        QCOMPARE(state.buttons, (QStringList{"OK", "Cancel"}));
        QCOMPARE(contents(root("/root/vantor.error")), QByteArray("report A\n"));
        QCOMPARE(contents(root("/media/") + label + "/vantor.error__" + now.toString("ddMMyyyy_hhmm")), QByteArray("older"));
        QVERIFY(!QFile::exists(root("/root/vantor.error.2"))); // that one was copied
        QVERIFY(QFile::exists(root("/root/exist.error")));
    }

    // No drive but the SSD: the no-drive message, nothing removed; a drive labelled like the SSD
    // in other letters is a USB drive; with no report at all, the no-report message.
    void drives()
    {
        AppBench bench;
        bench.quietStart();
        bench.start();
        QString error;
        QVERIFY2(SimStorage::pull(SimStorage::usbName, &error), qPrintable(error));
        QVERIFY(QTest::qWaitFor([] { return usbLabel().isEmpty(); }, 15000));
        bench.root.writeFile("/root/vantor.error", "report\n");
        bench.root.writeFile("/root/exist.error", "stamp\n");
        ErrorReportDlg dialog;
        auto *start = dialog.findChild<QAbstractButton *>("BUTTON_START");
        start->click();
        QCOMPARE(shown(dialog).message, kNoDrive);
        QVERIFY(QFile::exists(root("/root/vantor.error")) && QFile::exists(root("/root/exist.error")));

        QVERIFY2(SimStorage::plug("vantor ssd", "vantor ssd", &error), qPrintable(error));
        QVERIFY(QTest::qWaitFor([] { return usbLabel() == "vantor ssd"; }, 15000));
        start->click(); // "OK" copies again
        QCOMPARE(shown(dialog).message, kSaved);
        QDir drive(root("/media/vantor ssd"));
        QCOMPARE(drive.entryList({"vantor.error_*"}, QDir::Files).size(), 1);
        QVERIFY(!QFile::exists(root("/root/exist.error")));

        ErrorReportDlg again; // nothing left to copy
        again.findChild<QAbstractButton *>("BUTTON_START")->click();
        QCOMPARE(shown(again).message, QStringLiteral("<p>Error Report file not detected.</p>"));
        QCOMPARE(shown(again).buttons, QStringList{"Exit"});
    }
};

QTEST_MAIN(TestErrorReport)
#include "tst_errorreport.moc"
