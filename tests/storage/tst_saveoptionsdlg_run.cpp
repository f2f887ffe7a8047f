#include "CSVReaderWriter.h"
#include "DialogRunner.h"
#include "Globals.h"
#include "HangBound.h"
#include "MessageDlg.h"
#include "Paths.h"
#include "PythonCsv.h"
#include "SaveDlgUser.h"
#include "SaveOptionsDlg.h"

#include <QFileSystemModel>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QtTest>

namespace {

// A page's CSV export: option 3 with a two-row measurement table.
struct CsvExport
{
    CSVReaderWriter csv;
    SaveOptionsDlg dialog;
    explicit CsvExport(bool quickSave = false) : dialog(nullptr, quickSave)
    {
        const int min[4] = {1, 2, 3, 4}, max[4] = {200, 210, 220, 230};
        const float mean[4] = {50.5f, 60, 70, 80}, std[4] = {5, 6, 7, 8};
        for (float length : {120.5f, 300.0f})
            csv.fillDataFieldNew(-1, "Line", length, 0, 0, 0, min, max, mean, std, 0);
        dialog.setCurrentSaveOption(SAVE_OPTION_CSV, true);
        dialog.setCSVReaderWriter(csv);
    }
};

QString pathLabel(SaveOptionsDlg *dialog)
{
    return dialog->findChild<QLabel *>("LABEL_CURRENT_PATH")->text();
}

} // namespace

class TestSaveOptionsDlgRun : public QObject
{
    Q_OBJECT
private slots:
    // Into USB1 through the browser (tapped twice as a finger does), named on the keyboard: saved,
    // synced once, read by Python's csv; the same name again gives "(1)".
    void csvToTheUsbDrive()
    {
        SaveDlgUser user(true);
        user.keyboardText = "Results";
        for (int run = 0; run < 2; ++run) {
            user.act = [&](SaveOptionsDlg *dialog) {
                auto *view = dialog->findChild<QListView *>("LISTVIEW_BROWSER");
                const QModelIndex usb = qobject_cast<QFileSystemModel *>(view->model())->index(user.usb);
                if (pathLabel(dialog) == "/") {
                    QTRY_VERIFY_WITH_TIMEOUT(!view->visualRect(usb).isEmpty(), 10000);
                    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(usb).center());
                    QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(usb).center());
                }
                QTRY_VERIFY_WITH_TIMEOUT(dialog->findChild<QWidget *>("BUTTON_APPLY")->isEnabled(), 10000);
                QCOMPARE(pathLabel(dialog), QString("/USB1"));
                QTest::mouseClick(dialog->findChild<QLineEdit *>("EDIT_FILENAME"), Qt::LeftButton);
                DialogRunner::click(dialog, "BUTTON_APPLY");
            };
            CsvExport page;
            QCOMPARE(page.dialog.exec(), 1);
            QCOMPARE(user.syncs(), run + 1);
            QCOMPARE(g_PreviouslySavedPath, user.usb);
        }
        QCOMPARE(user.progressBoxes, 2);
        const QString complete = MessageDlg::presetText(MSG_SAVE_COMPLETE);
        QCOMPARE(user.messages, QStringList({complete, complete}));
        QCOMPARE(pythonCsvShapes({user.usb + "/Results.csv", user.usb + "/Results(1).csv"}), QStringList({"3 [19]", "3 [19]"}));
    }

    // The drive pulled (by the USB tool) while the dialog is open: OK gives preset 10 and the
    // browser goes back to the volume list; nothing is written anywhere.
    void pulledDrive()
    {
        SaveDlgUser user(true);
        g_PreviouslySavedPath = user.usb;
        user.keyboardText = "Lost";
        user.act = [&](SaveOptionsDlg *dialog) {
            QTest::mouseClick(dialog->findChild<QLineEdit *>("EDIT_FILENAME"), Qt::LeftButton);
            QProcess tool; // the simulated USB tool, as a user in another terminal runs it
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert("VANTOR_ROOT", user.root.path());
            tool.setProcessEnvironment(env);
            tool.start(qEnvironmentVariable("VANTOR_BINARY_DIR") + "/bin/vantor-sim-usb", {"pull", "USB1"});
            QVERIFY(tool.waitForFinished(kHangBoundMs) && tool.exitCode() == 0);
            QTRY_VERIFY_WITH_TIMEOUT(!QFileInfo::exists(user.usb), 10000);
            DialogRunner::click(dialog, "BUTTON_APPLY");
            QTRY_COMPARE_WITH_TIMEOUT(pathLabel(dialog), QString("/"), 10000);
            QVERIFY(dialog->isEnabled());
            DialogRunner::click(dialog, "BUTTON_CANCEL");
        };
        CsvExport page;
        QCOMPARE(page.dialog.exec(), 0);
        QCOMPARE(pathLabel(&page.dialog), QString("/"));
        QCOMPARE(user.messages, QStringList{MessageDlg::presetText(MSG_USB_REINSERT)});
        QCOMPARE(user.syncs(), 0);
    }

    // The write itself fails (a name too long for the drive): preset 9, then "Save Failed"; the
    // dialog stays open for another try, and the folder is not remembered as saved.
    void failedWriteKeepsTheDialogOpen()
    {
        SaveDlgUser user(true);
        g_PreviouslySavedPath = user.usb; // where the browser opens
        user.keyboardText = QString(300, 'n');
        user.act = [&](SaveOptionsDlg *dialog) {
            QTRY_COMPARE_WITH_TIMEOUT(pathLabel(dialog), QString("/USB1"), 10000);
            g_PreviouslySavedPath.clear();
            QTest::mouseClick(dialog->findChild<QLineEdit *>("EDIT_FILENAME"), Qt::LeftButton);
            DialogRunner::click(dialog, "BUTTON_APPLY");
            QTRY_COMPARE_WITH_TIMEOUT(user.messages.size(), 2, 10000);
            QVERIFY(dialog->isVisible() && dialog->isEnabled());
            DialogRunner::click(dialog, "BUTTON_CANCEL");
        };
        CsvExport page;
        QCOMPARE(page.dialog.exec(), 0);
        QCOMPARE(user.messages, QStringList({MessageDlg::presetText(MSG_USB_NOT_DETECTED), MessageDlg::presetText(MSG_SAVE_FAILED)}));
        QCOMPARE(g_PreviouslySavedPath, QString());
        QCOMPARE(QDir(user.usb).entryList(QDir::Files), QStringList());
    }

    // A quick save is never seen: OK by itself, a time-stamp name in the "Quicksave" folder it
    // makes, no completion message. Refused for lack of space, it ends with 0 and is not left open.
    void quickSave_data()
    {
        QTest::addColumn<int>("freeMegabytes"); // -1: the volume's real free space
        QTest::addColumn<int>("result");
        QTest::newRow("saved") << -1 << 1;
        QTest::newRow("exactly enough") << 1 << 1;
        QTest::newRow("no space") << 0 << 0;
    }
    void quickSave()
    {
        QFETCH(int, freeMegabytes);
        QFETCH(int, result);
        SaveDlgUser user(true);
        if (freeMegabytes >= 0)
            SaveDlgUser::setFreeMegabytes(quint64(freeMegabytes));
        CsvExport page(true);
        QCOMPARE(page.dialog.size(), QSize(1, 1));
        QCOMPARE(page.dialog.exec(), result); // -1 when left open
        QCOMPARE(user.messages, QVector<QString>(1 - result, MessageDlg::presetText(MSG_INSUFFICIENT_DISK_SPACE)).toList());
        const QStringList saved = QDir(Paths::path("/media/VANTOR SSD/Quicksave")).entryList(QDir::Files);
        QCOMPARE(saved.size(), result);
        QCOMPARE(saved.filter(QRegularExpression("^\\d{8}_\\d{6}\\.csv$")).size(), result);
    }
};

QTEST_MAIN(TestSaveOptionsDlgRun)
#include "tst_saveoptionsdlg_run.moc"
