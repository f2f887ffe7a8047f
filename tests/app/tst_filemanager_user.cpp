// The File manager in the whole application on the simulated instrument, as a new user tries it:
// a Z-stack of 16-bit images saved to the USB drive through the save dialog, found there (folders
// opened by double taps through the window) with thumbnails, opened, stepped and its record
// shown; the drive ejected while busy (refused) and then for real; and a drive pulled from
// another terminal while the page shows it.
#include "AppBench.h"
#include "DialogRunner.h"
#include "DialogScripts.h"
#include "FileIconProvider.h"
#include "FileManagerWidget.h"
#include "HangBound.h"
#include "ImageAttributeDialog.h"
#include "ImageViewerDlg.h"
#include "NIMBODlg.h"
#include "Paths.h"
#include "TimeLapseProgressDlg.h"
#include "VideoWidget.h"
#include "WindowTap.h"
#include "ZStackWidget.h"
#include "ui_NIMBODlg.h"
#include "ui_ZStackWidget.h"

#include <QFileSystemModel>
#include <QLabel>
#include <QListView>
#include <QProcess>
#include <QPushButton>
#include <QtTest>

class TestFileManagerUser : public QObject
{
    Q_OBJECT

    std::unique_ptr<AppBench> m_bench;
    QStringList m_viewerSeen; // what the user saw in the viewer

    FileManagerWidget *page() const { return m_bench->ui()->m_FileManagerWidget; }
    QListView *list() const { return page()->findChild<QListView *>("LISTVIEW_FILE"); }
    QPushButton *button(const char *name) const { return page()->findChild<QPushButton *>(name); }
    QString shownPath() const { return page()->findChild<QLabel *>("LABEL_CURRENT_PATH")->text(); }

    // The simulated USB tool, as a user in another terminal runs it.
    bool usbTool(const QStringList &args) const
    {
        QProcess tool;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("VANTOR_ROOT", m_bench->root.path());
        tool.setProcessEnvironment(env);
        tool.start(qEnvironmentVariable("VANTOR_BINARY_DIR") + "/bin/vantor-sim-usb", args);
        const bool done = tool.waitForFinished(kHangBoundMs) && tool.exitCode() == 0;
        if (!done)
            qWarning() << "vantor-sim-usb" << args << tool.exitCode() << tool.readAllStandardError();
        return done;
    }

    // A double tap through the window on the list's entry of that name in the folder shown;
    // returns when any loading wait it started has ended.
    bool doubleTapEntry(const QString &name) const
    {
        auto *model = qobject_cast<QFileSystemModel *>(list()->model());
        const QString path = page()->currentPath() + '/' + name;
        if (!QTest::qWaitFor([&] { return model->index(path).isValid() && !list()->visualRect(model->index(path)).isEmpty(); }, 15000))
            return false;
        doubleTap(list()->viewport(), 100, list()->visualRect(model->index(path)).center());
        return QTest::qWaitFor([this] { return page()->isEnabled(); }, 40000);
    }

    void tapAndWait(QPushButton *target) const
    {
        QTest::mouseClick(target, Qt::LeftButton);
        QTest::qWaitFor([this] { return page()->isEnabled(); }, 40000);
    }

    // The user in the viewer: looks, steps on, opens the record, leaves by X.
    void useViewer(QDialog *dialog)
    {
        auto *viewer = static_cast<ImageViewerDlg *>(dialog);
        const auto look = [&] {
            QTest::qWaitFor([&] { return !viewer->isLoading(); }, 30000);
            m_viewerSeen << QString("%1 %2 %3x%4").arg(viewer->currentIndex()).arg(viewer->isValidImage())
                                .arg(viewer->pixmap().width()).arg(viewer->pixmap().height());
        };
        look();
        DialogRunner::click(viewer, "BUTTON_SHOW_NEXT_IMAGE");
        look();
        DialogRunner::click(viewer, "BUTTON_DETAIL");
        m_viewerSeen << (viewer->attributeDialog()->isVisible() ? viewer->attributeDialog()->text() : QString("no panel"));
        DialogRunner::click(viewer, "BUTTON_EXIT");
    }

    int answer(QDialog *dialog)
    {
        const QString text = DialogScripts::messageText(dialog);
        const int saved = AppBench::saveAs(dialog, "Cells");
        if (saved >= 0)
            return saved;
        if (qobject_cast<ImageViewerDlg *>(dialog))
            return DialogRunner::showAndRun(dialog, [this](QDialog *d) { useViewer(d); }, 60000);
        // Waits the application closes itself: progress, saving and the page's loading wait.
        if (qobject_cast<TimeLapseProgressDlg *>(dialog) || text.contains("Initializing") || text.contains("progress")
            || text.contains("Saving in Progress") || text.contains("Loading images"))
            return DialogRunner::showAndRun(dialog, [](QDialog *) {}, 240000);
        return 1;
    }

    // Four 16-bit slices taken on the Z-stack page and saved to the USB drive as "Cells".
    void saveStackToUsb(const QString &usb)
    {
        ZStackWidget *zstack = m_bench->ui()->m_ZStackWidget;
        Ui_ZStackWidget *form = zstack->form();
        QTest::mouseClick(m_bench->ui()->BUTTON_Z_STACK_MENU, Qt::LeftButton);
        QVERIFY(m_bench->waitUnlocked());
        m_bench->sim->instrument().setStagePosition(200000);
        QTest::mouseClick(form->BUTTON_LIVE, Qt::LeftButton);
        QVERIFY(m_bench->waitUnlocked());
        QVERIFY(QTest::qWaitFor([this] { return m_bench->ui()->m_VideoWidget->isRunning(); }, 15000));
        zstack->setSavePath(Paths::ssd(), "cells");
        for (auto [target, steps] : {std::pair{form->BUTTON_SET_START_POSITION, 200000}, {form->BUTTON_SET_END_POSITION, 200306}}) {
            m_bench->sim->instrument().setStagePosition(steps);
            target->click();
            QVERIFY(QTest::qWaitFor([zstack, t = target] { return t->isChecked() && zstack->motorRequest() < 0; }, 20000));
        }
        form->RADIOBUTTON_IMAGE_NUMBER->click();
        form->SPINBOX_IMAGE_NUMBER->setValue(4);
        QTest::mouseClick(form->BUTTON_Z_STACK_START, Qt::LeftButton);
        QVERIFY(m_bench->waitUnlocked());
        QVERIFY(QTest::qWaitFor([usb] { return QFileInfo(usb).isDir(); }, 15000));
        g_PreviouslySavedPath = usb;
        QTest::mouseClick(form->BUTTON_SAVE_IMAGE, Qt::LeftButton);
        QCOMPARE(QDir(usb + "/Cells").entryList({"*.tif"}, QDir::Files).size(), 4);
    }

private slots:
    void browseViewEjectAndPull()
    {
        m_bench = std::make_unique<AppBench>();
        m_bench->quietStart();
        m_bench->setConfig("Setting_ZStack", "StableTimeInterval", "0.1");
        m_bench->setConfig("Camera", "Mode", "16");
        m_bench->start();
        m_bench->setAnswer([this](QDialog *dialog) { return answer(dialog); });
        const QString usb = Paths::path("/media/USB1");
        saveStackToUsb(usb);
        if (QTest::currentTestFailed())
            return;

        // The page at "/": both drives, nothing to eject.
        QTest::mouseClick(m_bench->ui()->BUTTON_FILEMANAGER, Qt::LeftButton);
        QVERIFY(page()->isVisible());
        QCOMPARE(shownPath(), QString("/"));
        QVERIFY(doubleTapEntry("VANTOR SSD"));
        QCOMPARE(shownPath(), QString("/VANTOR SSD"));
        QVERIFY(!button("BUTTON_UNMOUNT")->isEnabled());
        tapAndWait(button("BUTTON_CD_UP"));
        QVERIFY(doubleTapEntry("USB1"));
        QCOMPARE(shownPath(), QString("/USB1"));
        QVERIFY(button("BUTTON_UNMOUNT")->isEnabled());

        // The saved folder shows thumbnails without asking: every image gets its own picture,
        // stretched to its brightest sample (not the nearly black picture of 12-bit values).
        QVERIFY(doubleTapEntry("Cells"));
        QCOMPARE(shownPath(), QString("/USB1/Cells"));
        const QStringList images = QDir(page()->currentPath()).entryList({"*.tif"}, QDir::Files, QDir::Name);
        for (const QString &name : images) {
            const QFileInfo info(page()->currentPath() + '/' + name);
            QVERIFY2(QTest::qWaitFor([&] { return !FileIconProvider::cachedThumbnail(info).isNull(); }, 30000), qPrintable(name));
            const QImage thumbnail = FileIconProvider::cachedThumbnail(info).convertToFormat(QImage::Format_Grayscale8);
            QCOMPARE(thumbnail.size(), QSize(128, 102));
            int brightest = 0;
            for (int y = 0; y < thumbnail.height(); ++y)
                for (int x = 0; x < thumbnail.width(); ++x)
                    brightest = std::max(brightest, int(thumbnail.constScanLine(y)[x]));
            QVERIFY2(brightest > 128, qPrintable(name));
        }

        // The first image opens full size, steps to the second, and shows its record (tapped
        // once the list has sorted the folder: entries move until then).
        QVERIFY(QTest::qWaitFor([&] { return AppBench::listed(list()) == images; }, 15000));
        QVERIFY(doubleTapEntry(images.value(0)));
        QCOMPARE(m_viewerSeen.mid(0, 2), QStringList({"0 1 1280x1024", "1 1 1280x1024"}));
        const QString record = m_viewerSeen.value(2);
        QVERIFY2(record.contains("Objective") && !record.contains("Invalid") && !record.contains(";"), qPrintable(record));

        // A busy drive refuses to eject: the error shows and the page stays.
        QVERIFY(usbTool({"fault", "USB1", "busy-umount"}));
        m_bench->clearDialogs();
        tapAndWait(button("BUTTON_UNMOUNT"));
        QVERIFY(m_bench->dialogs().contains("MessageDlg:<p><b>Error!</b><br/><br/>'USB1' could not be ejected.<br/>Close "
                                            "any file on it and try again.</p>"));
        QCOMPARE(shownPath(), QString("/USB1/Cells"));

        // Freed, it ejects: the page ends on the SSD with the umount recorded.
        QVERIFY(usbTool({"fault", "USB1", "none"}));
        m_bench->clearDialogs();
        tapAndWait(button("BUTTON_UNMOUNT"));
        QVERIFY(m_bench->dialogs().join('|').contains("Safe To Remove Hardware"));
        QCOMPARE(shownPath(), QString("/VANTOR SSD"));
        QVERIFY(m_bench->actions.calls().filter(QRegularExpression("^umount .*")).size() >= 2);

        // Pulled and plugged again, it comes back; pulled while shown, the page returns to "/".
        QVERIFY(usbTool({"pull", "USB1"}));
        // The storage monitor sees it gone before it comes back (it watches the drive links).
        QVERIFY(QTest::qWaitFor([] { return !QFileInfo::exists(Paths::path("/dev/disk/by-label/USB1")); }, 20000));
        QTest::qWait(1500);
        QVERIFY(usbTool({"plug", "USB1"}));
        QVERIFY(QTest::qWaitFor([usb] { return QFileInfo::exists(usb + "/Cells"); }, 20000));
        tapAndWait(button("BUTTON_CD_UP"));
        QVERIFY(doubleTapEntry("USB1"));
        QCOMPARE(shownPath(), QString("/USB1"));
        QVERIFY(usbTool({"pull", "USB1"}));
        QVERIFY(QTest::qWaitFor([this] { return shownPath() == "/"; }, 20000));
        QVERIFY(!button("BUTTON_UNMOUNT")->isEnabled());
        QVERIFY(m_bench->menuUnlocked());
    }
};

QTEST_MAIN(TestFileManagerUser)
#include "tst_filemanager_user.moc"
