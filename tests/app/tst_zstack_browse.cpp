// A Z-stack's life after its acquisition, in the whole application on the simulated instrument:
// taken, browsed, one slice deleted (its file gone), saved to the USB drive through the save
// dialog, and loaded back from there with the same slices and stamps.
#include "AppBench.h"
#include "DialogRunner.h"
#include "DialogScripts.h"
#include "NIMBODlg.h"
#include "Paths.h"
#include "TimeLapseProgressDlg.h"
#include "VideoWidget.h"
#include "ZStackImageWidget.h"
#include "ZStackPositionText.h"
#include "ZStackWidget.h"
#include "ui_NIMBODlg.h"
#include "ui_ZStackImageWidget.h"
#include "ui_ZStackWidget.h"

#include <QListWidget>
#include <QtTest>

class TestZStackBrowse : public QObject
{
    Q_OBJECT

    std::unique_ptr<AppBench> m_bench;
    ZStackWidget *page() const { return m_bench->ui()->m_ZStackWidget; }
    Ui_ZStackWidget *form() const { return page()->form(); }
    Ui_ZStackImageWidget *browser() const { return m_bench->ui()->m_ZStackImageWidget->form(); }

    // The stamps of the held stack's files, in slice order.
    QStringList positions() const
    {
        QStringList out;
        for (const ThumbnailInfo &slice : page()->zStack().thumbnails())
            out << ZStackPositionText::ofFile(slice.path);
        return out;
    }

    void tap(int row) const
    {
        QListWidget *strip = browser()->LISTWIDGET_IMAGE;
        QTest::mouseClick(strip->viewport(), Qt::LeftButton, {}, strip->visualItemRect(strip->item(row)).center());
    }

private slots:
    void takeBrowseDeleteSaveLoad()
    {
        m_bench = std::make_unique<AppBench>();
        m_bench->quietStart();
        m_bench->setConfig("Setting_ZStack", "StableTimeInterval", "0.1");
        m_bench->start();
        const QString usb = Paths::path("/media/USB1");
        m_bench->setAnswer([usb](QDialog *dialog) {
            const QString text = DialogScripts::messageText(dialog);
            const int saved = AppBench::saveAs(dialog, "Copy");
            if (saved >= 0)
                return saved;
            if (dialog->inherits("DirectoryDialog"))
                return DialogRunner::showAndRun(dialog, [](QDialog *d) { DialogRunner::click(d, "BUTTON_APPLY"); }, 30000);
            if (qobject_cast<TimeLapseProgressDlg *>(dialog) || text.contains("Initializing") || text.contains("progress")
                || text.contains("Saving in Progress"))
                return DialogRunner::showAndRun(dialog, [](QDialog *) {}, 240000);
            return 1;
        });

        // Taken: four slices, upward.
        QTest::mouseClick(m_bench->ui()->BUTTON_Z_STACK_MENU, Qt::LeftButton);
        QVERIFY(m_bench->waitUnlocked());
        m_bench->sim->instrument().setStagePosition(200000);
        QTest::mouseClick(form()->BUTTON_LIVE, Qt::LeftButton);
        QVERIFY(m_bench->waitUnlocked());
        QVERIFY(QTest::qWaitFor([this] { return m_bench->ui()->m_VideoWidget->isRunning(); }, 15000));
        page()->setSavePath(Paths::ssd(), "cells");
        for (auto [button, steps] : {std::pair{form()->BUTTON_SET_START_POSITION, 200000}, {form()->BUTTON_SET_END_POSITION, 200306}}) {
            m_bench->sim->instrument().setStagePosition(steps);
            button->click();
            QVERIFY(QTest::qWaitFor([this, b = button] { return b->isChecked() && page()->motorRequest() < 0; }, 20000));
        }
        form()->RADIOBUTTON_IMAGE_NUMBER->click();
        form()->SPINBOX_IMAGE_NUMBER->setValue(4);
        QTest::mouseClick(form()->BUTTON_Z_STACK_START, Qt::LeftButton);
        QCOMPARE(page()->currentState(), ZSTACK_COMPLETED);
        QVERIFY(m_bench->waitUnlocked());
        QVERIFY(m_bench->ui()->m_ZStackImageWidget->isVisible());
        QCOMPARE(browser()->LISTWIDGET_IMAGE->count(), 4);

        // Browsed: the strip and the page's slider and stamp agree.
        tap(2);
        QCOMPARE(form()->SLIDER_Z_STACK->value(), 2);
        QCOMPARE(form()->LABEL_POS_STAMP->text(), QString::fromUtf8("4.0 µm / 6.0 µm  3 / 4"));

        // One slice deleted: its file goes.
        const QString deleted = page()->zStack().thumbnails()[1].path;
        tap(1);
        QTest::mouseClick(browser()->BUTTON_DELETE_IMAGE, Qt::LeftButton);
        QVERIFY(!QFile::exists(deleted));
        QCOMPARE(browser()->LISTWIDGET_IMAGE->count(), 3);
        const QStringList kept = positions();
        QCOMPARE(kept, QStringList({QString::fromUtf8("0.0 µm"), QString::fromUtf8("4.0 µm"), QString::fromUtf8("6.0 µm")}));
        QCOMPARE(form()->LABEL_POS_STAMP->text(), QString::fromUtf8("4.0 µm / 6.0 µm  2 / 3"));

        // Saved to the USB drive.
        QVERIFY(QTest::qWaitFor([usb] { return QFileInfo(usb).isDir(); }, 15000));
        g_PreviouslySavedPath = usb;
        QTest::mouseClick(form()->BUTTON_SAVE_IMAGE, Qt::LeftButton);
        const QString copy = usb + "/Copy";
        QCOMPARE(QDir(copy).entryList({"*.tif"}, QDir::Files),
                 QStringList({"Copy_0001.tif", "Copy_0002.tif", "Copy_0003.tif"}));

        // Loaded back from there: the same slices, the same stamps.
        g_PreviouslySavedPath = copy;
        QTest::mouseClick(form()->BUTTON_LOAD_IMAGE, Qt::LeftButton);
        QVERIFY(QTest::qWaitFor([this, copy] {
            return page()->zStack().thumbnails().size() == 3 && page()->zStack().thumbnails()[0].path.startsWith(copy);
        }, 30000));
        QCOMPARE(page()->currentState(), ZSTACK_COMPLETED);
        QCOMPARE(positions(), kept);
        QCOMPARE(browser()->LISTWIDGET_IMAGE->count(), 3);
        QCOMPARE(browser()->LISTWIDGET_IMAGE->currentRow(), 0);
        QCOMPARE(form()->LABEL_POS_STAMP->text(), QString::fromUtf8("0.0 µm / 6.0 µm  1 / 3"));
        QVERIFY(m_bench->waitUnlocked());
    }
};

QTEST_MAIN(TestZStackBrowse)
#include "tst_zstack_browse.moc"
