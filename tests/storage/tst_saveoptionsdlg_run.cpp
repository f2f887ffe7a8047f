#include "CSVReaderWriter.h"
#include "DialogRunner.h"
#include "Globals.h"
#include "MediaMonitor.h"
#include "MessageDlg.h"
#include "Paths.h"
#include "PythonCsv.h"
#include "SaveDlgUser.h"
#include "SaveOptionsDlg.h"
#include "SimStorage.h"
#include "SimulatedSystemActions.h"
#include "TestRoot.h"

#include <QFileSystemModel>
#include <QLabel>
#include <QListView>
#include <QProcess>
#include <QtTest>

namespace {

// The simulated instrument's storage: SSD and USB1 plugged and mounted by a running monitor, every
// system action recorded.
struct Instrument
{
    TestRoot root;
    SimulatedSystemActions actions;
    SimStorage storage;
    std::unique_ptr<MediaMonitor> monitor;

    Instrument()
    {
        g_PreviouslySavedPath.clear();
        g_bSaveAsFolder = false;
        QString error;
        if (!SimStorage::seed(&error))
            qWarning() << error;
        storage.attach(actions);
        SystemActions::setInstance(&actions);
        monitor = std::make_unique<MediaMonitor>();
        monitor->mountAll();
    }
    ~Instrument()
    {
        monitor.reset();
        SystemActions::setInstance(nullptr);
        MediaMonitor::setSpaceQuery(nullptr);
    }
    QString usb() const { return Paths::path("/media/USB1"); }
    int syncs() const { return actions.calls().filter(QRegularExpression("^sync")).size(); }

    // The simulated USB tool, as a user in another terminal runs it.
    int usbTool(const QStringList &args) const
    {
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("VANTOR_ROOT", root.path());
        process.setProcessEnvironment(env);
        process.start(qEnvironmentVariable("VANTOR_BINARY_DIR") + "/bin/vantor-sim-usb", args);
        return process.waitForFinished(10000) && process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }
};

// A page's CSV export: option 3 with a two-row measurement table.
struct CsvExport
{
    CSVReaderWriter csv;
    SaveOptionsDlg dialog;
    explicit CsvExport(bool quickSave = false)
        : dialog(nullptr, quickSave)
    {
        const int min[4] = {1, 2, 3, 4}, max[4] = {200, 210, 220, 230};
        const float mean[4] = {50.5f, 60, 70, 80}, std[4] = {5, 6, 7, 8};
        csv.fillDataFieldNew(-1, "Line", 120.5f, 0, 0, 0, min, max, mean, std, 0);
        csv.fillDataFieldNew(-1, "Rectangle", 300, 0, 5625, 0, min, max, mean, std, 0);
        dialog.setCurrentSaveOption(SAVE_OPTION_CSV, true);
        dialog.setImageBits(8);
        dialog.setCSVReaderWriter(csv);
    }
};

// Double-clicks the entry of path in the browser, as a finger does.
void doubleClickEntry(SaveOptionsDlg *dialog, const QString &path)
{
    auto *view = dialog->findChild<QListView *>("LISTVIEW_BROWSER");
    auto *model = qobject_cast<QFileSystemModel *>(view->model());
    QTRY_VERIFY_WITH_TIMEOUT(!view->visualRect(model->index(path)).isEmpty(), 10000);
    const QPoint centre = view->visualRect(model->index(path)).center();
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, centre); // the first tap of the two
    QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, centre);
}

QString pathLabel(SaveOptionsDlg *dialog)
{
    return dialog->findChild<QLabel *>("LABEL_CURRENT_PATH")->text();
}

} // namespace

class TestSaveOptionsDlgRun : public QObject
{
    Q_OBJECT
private slots:
    // The CSV export of a page: into USB1 through the browser, named on the keyboard; the same
    // name again gives "(1)".
    void csvToTheUsbDrive()
    {
        Instrument instrument;
        QVERIFY(QFileInfo(instrument.usb()).isDir());
        for (const QString &expected : {"Results.csv", "Results(1).csv"}) {
            SaveDlgUser user;
            user.keyboardText = "Results";
            QString label;
            user.act = [&](SaveOptionsDlg *dialog) {
                if (pathLabel(dialog) == "/")
                    doubleClickEntry(dialog, instrument.usb());
                // OK and the name line come back once the folder is read.
                QTRY_VERIFY_WITH_TIMEOUT(dialog->findChild<QWidget *>("BUTTON_APPLY")->isEnabled(), 10000);
                label = pathLabel(dialog);
                SaveDlgUser::touchName(dialog);
                DialogRunner::click(dialog, "BUTTON_APPLY");
            };
            const int syncsBefore = instrument.syncs();
            CsvExport page;
            QCOMPARE(page.dialog.exec(), 1);
            QCOMPARE(label, QString("/USB1"));
            QCOMPARE(user.keyboards, 1);
            QCOMPARE(user.progressBoxes, 1);
            QCOMPARE(user.messages, QStringList{MessageDlg::presetText(MSG_SAVE_COMPLETE)});
            QCOMPARE(instrument.syncs() - syncsBefore, 1);
            QCOMPARE(pythonCsvShape(instrument.usb() + '/' + expected), QString("3 [19]"));
            QCOMPARE(g_PreviouslySavedPath, instrument.usb());
        }
    }

    // The drive pulled (by the USB tool) while the dialog is open: OK gives preset 10 and the
    // browser goes back to the volume list; nothing is written anywhere.
    void pulledDrive()
    {
        Instrument instrument;
        g_PreviouslySavedPath = instrument.usb();
        SaveDlgUser user;
        user.keyboardText = "Lost";
        QString labelAfter;
        user.act = [&](SaveOptionsDlg *dialog) {
            SaveDlgUser::touchName(dialog);
            QCOMPARE(instrument.usbTool({"pull", "USB1"}), 0);
            QTRY_VERIFY_WITH_TIMEOUT(!QFileInfo::exists(instrument.usb()), 10000);
            DialogRunner::click(dialog, "BUTTON_APPLY");
            QTRY_COMPARE_WITH_TIMEOUT(pathLabel(dialog), QString("/"), 10000);
            labelAfter = pathLabel(dialog);
            QVERIFY(dialog->isEnabled());
            DialogRunner::click(dialog, "BUTTON_CANCEL");
        };
        CsvExport page;
        QCOMPARE(page.dialog.exec(), 0);
        QCOMPARE(labelAfter, QString("/"));
        QCOMPARE(user.messages, QStringList{MessageDlg::presetText(MSG_USB_REINSERT)});
        QCOMPARE(instrument.syncs(), 0);
    }

    // A quick save is never seen: OK by itself, a time-stamp name in the "Quicksave" folder it
    // makes, no completion message. Refused for lack of space, it ends with 0 and is not left open.
    void quickSave_data()
    {
        QTest::addColumn<int>("freeMegabytes"); // -1: the volume's real free space
        QTest::addColumn<int>("result");
        QTest::addColumn<QStringList>("messages");
        QTest::newRow("saved") << -1 << 1 << QStringList();
        QTest::newRow("exactly enough") << 1 << 1 << QStringList();
        QTest::newRow("no space") << 0 << 0 << QStringList{MessageDlg::presetText(MSG_INSUFFICIENT_DISK_SPACE)};
    }
    void quickSave()
    {
        QFETCH(int, freeMegabytes);
        Instrument instrument;
        if (freeMegabytes >= 0)
            SaveDlgUser::setFreeMegabytes(quint64(freeMegabytes));
        SaveDlgUser user;
        CsvExport page(true);
        QCOMPARE(page.dialog.size(), QSize(1, 1));
        QTEST(page.dialog.exec(), "result");
        QTEST(user.messages, "messages");
        const QStringList saved = QDir(Paths::path("/media/VANTOR SSD/Quicksave")).entryList(QDir::Files);
        if (freeMegabytes != 0) {
            QCOMPARE(saved.size(), 1);
            QVERIFY2(QRegularExpression("^\\d{8}_\\d{6}\\.csv$").match(saved.first()).hasMatch(), qPrintable(saved.first()));
        } else {
            QVERIFY(saved.isEmpty());
        }
    }
};

QTEST_MAIN(TestSaveOptionsDlgRun)
#include "tst_saveoptionsdlg_run.moc"

