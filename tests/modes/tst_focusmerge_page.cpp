// The Z-stack page's merge: the slice limit, the parameter dialog (presets, estimates, Cancel),
// the merged file in grey and in a pseudo colour (read back by tifffile), and Stop.
#include "DialogRunner.h"
#include "DialogScripts.h"
#include "FullFocusThread.h"
#include "Globals.h"
#include "HangBound.h"
#include "MergeFocusDlg.h"
#include "SliceFiles.h"
#include "TestRoot.h"
#include "TimeLapseProgressDlg.h"
#include "Utilities.h"
#include "ZStackWidget.h"
#include "ui_MergeFocusDlg.h"

#include <QtTest>
#include <memory>

class TestFocusMergePage : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestRoot> m_root;
    std::unique_ptr<ZStackWidget> m_page;
    QString m_folder;
    QStringList m_messages;
    std::function<int(MergeFocusDlg *)> m_dialog; // plays the merge dialog
    std::function<void(TimeLapseProgressDlg *)> m_whenRunning; // once, as soon as the merge runs
    bool m_enabledWhileRunning = true;

    void holdSlices(int n, bool files)
    {
        for (int i = 0; i < n; ++i) {
            const QString path = QString("%1/cells_%2.tif").arg(m_folder).arg(i, 4, 10, QChar('0'));
            if (files)
                QVERIFY(SliceFiles::write(path, QString(), i == 1 ? 16 : 8, i == 2 ? 3 : 1, i + 1));
            ThumbnailInfo entry;
            entry.path = path;
            m_page->zStack().pushThumbnail(entry);
        }
    }

    QString mergedPath() const { return m_folder + "/stack_merged.tif"; }

    // Shape, channel equalities and grey range of a TIFF, as tifffile reads it.
    QString tiffFacts(const QString &path)
    {
        QProcess py;
        py.start("/usr/bin/python3", {"-c", "import sys, tifffile, numpy as np\n"
                                            "a = tifffile.imread(sys.argv[1])\n"
                                            "s = ' '.join(map(str, a.shape)) + ' ' + str(a.dtype)\n"
                                            "if a.ndim == 3: s += ' rg=%d b=%d' % (np.array_equal(a[...,0], a[...,1]), int(a[...,2].max()))\n"
                                            "s += ' max>0=%d' % (a.max() > 0)\n"
                                            "print(s)",
                                      path});
        py.waitForFinished(kHangBoundMs);
        return QString::fromUtf8(py.readAllStandardOutput()).trimmed();
    }

private slots:
    void init()
    {
        m_root = std::make_unique<TestRoot>();
        m_root->makeDir("/root/Microscope/NIMBO");
        m_folder = QFileInfo(m_root->makeDir("/media/USB1/stack")).absoluteFilePath();
        g_CurrentMenu = MENU_ZSTACK;
        initializePseudoColorTable();
        m_messages.clear();
        m_whenRunning = nullptr;
        m_enabledWhileRunning = true;
        m_dialog = [](MergeFocusDlg *d) {
            DialogRunner::click(d, "BUTTON_APPLY");
            return d->result();
        };
        DialogRunner::clearScripts();
        DialogRunner::setStandingScript([this](QDialog *d) {
            if (auto *merge = qobject_cast<MergeFocusDlg *>(d))
                return m_dialog(merge);
            if (auto *progress = qobject_cast<TimeLapseProgressDlg *>(d)) {
                m_messages << DialogScripts::messageText(d);
                return DialogRunner::showAndRun(d, [this, progress](QDialog *) {
                    auto *watch = new QTimer(progress);
                    connect(watch, &QTimer::timeout, progress, [this, progress] {
                        FullFocusThread *thread = m_page->fullFocusThread();
                        if (thread && thread->isRunning()) {
                            m_enabledWhileRunning = m_page->isEnabled();
                            if (auto act = std::exchange(m_whenRunning, nullptr))
                                act(progress);
                        }
                    });
                    watch->start(0);
                }, 300000);
            }
            m_messages << DialogScripts::messageText(d);
            return 1;
        });
        m_page = std::make_unique<ZStackWidget>();
    }

    void cleanup()
    {
        m_page.reset();
        DialogRunner::clearScripts();
        g_CurrentMenu = MENU_MULTICOLOR;
        m_root.reset();
    }

    void dialogPresets_data()
    {
        QTest::addColumn<int>("kernel");
        QTest::addColumn<int>("colour");
        QTest::addColumn<int>("slices");
        QTest::addColumn<QString>("click"); // a combo choice or radio button before OK
        QTest::addColumn<QString>("estimate");
        QTest::addColumn<int>("kernelOut");
        QTest::addColumn<int>("colourOut");
        QTest::newRow("grey 11") << 11 << 7 << 20 << "" << "00:02:40" << 11 << 7;
        QTest::newRow("blue") << 11 << 2 << 20 << "" << "00:02:40" << 11 << 2;
        QTest::newRow("no such kernel") << 4 << 7 << 10 << "" << "00:01:20" << 11 << 7;
        QTest::newRow("15 x 100") << 11 << 7 << 100 << "kernel 15" << "00:20:00" << 15 << 7;
        QTest::newRow("3 x 1") << 11 << 7 << 1 << "kernel 3" << "00:00:03" << 3 << 7;
        QTest::newRow("pseudo after grey") << 11 << 7 << 2 << "RADIO_COLOR_PSEUDO_COLOR" << "00:00:16" << 11 << 0;
        QTest::newRow("grey after yellow") << 9 << 3 << 2 << "RADIO_COLOR_MONOCHROME" << "00:00:14" << 9 << 7;
    }

    void dialogPresets()
    {
        QFETCH(int, kernel);
        QFETCH(int, colour);
        QFETCH(int, slices);
        QFETCH(QString, click);
        QFETCH(QString, estimate);
        QFETCH(int, kernelOut);
        QFETCH(int, colourOut);
        MergeFocusDlg dialog;
        dialog.setDefaultParam(kernel, colour, slices);
        auto *ui = dialog.findChild<QComboBox *>("COMB_FILTER_COLOR");
        QCOMPARE(ui->isEnabled(), colour >= 0 && colour <= 4);
        QCOMPARE(ui->count(), 5);
        QCOMPARE(ui->itemIcon(4).availableSizes().value(0), QSize(40, 40));
        if (click.startsWith("kernel "))
            dialog.findChild<QComboBox *>("COMBO_MATCH_KERNEL")->setCurrentText(QString("%1x%1").arg(click.mid(7)));
        else if (!click.isEmpty())
            dialog.findChild<QRadioButton *>(click)->click();
        QCOMPARE(dialog.estimatedTime(), estimate);
        QTest::mouseClick(dialog.findChild<QPushButton *>("BUTTON_APPLY"), Qt::LeftButton);
        int k = 0, c = 0;
        dialog.getParam(k, c);
        QCOMPARE(k, kernelOut);
        QCOMPARE(c, colourOut);
    }

    void tooManySlicesRefused()
    {
        holdSlices(101, false);
        bool dialogShown = false;
        m_dialog = [&](MergeFocusDlg *) { dialogShown = true; return 0; };
        QMetaObject::invokeMethod(m_page.get(), "on_BUTTON_FULL_FOCUS_clicked");
        QVERIFY(!dialogShown);
        QCOMPARE(m_messages.size(), 1);
        QVERIFY(m_messages[0].contains("maximum number of images in the focus merging is 100"));
    }

    void cancelWritesNothing()
    {
        holdSlices(3, true);
        m_dialog = [](MergeFocusDlg *d) {
            DialogRunner::click(d, "BUTTON_CANCEL");
            return d->result();
        };
        QList<bool> merged;
        connect(m_page.get(), &ZStackWidget::completedFullFocus, this, [&](bool ok, ThumbnailInfo &entry) { merged << (ok && !entry.thumbnail.isNull() && entry.path == mergedPath()); });
        QMetaObject::invokeMethod(m_page.get(), "on_BUTTON_FULL_FOCUS_clicked");
        QVERIFY(!QFile::exists(mergedPath()));
        QCOMPARE(merged.count(), 0);
        QVERIFY(m_page->fullFocusThread() == nullptr);
    }

    // Slices of 8 and 16 bits and one RGB slice merge into grey or, with colour 3 (yellow),
    // into red = green = merged and blue 0; the file is handed to the browser.
    void mergedFile_data()
    {
        QTest::addColumn<int>("colour");
        QTest::addColumn<QString>("facts");
        QTest::newRow("grey") << 7 << "1024 1280 uint8 max>0=1";
        QTest::newRow("yellow") << 3 << "1024 1280 3 uint8 rg=1 b=0 max>0=1";
    }

    void mergedFile()
    {
        QFETCH(int, colour);
        QFETCH(QString, facts);
        holdSlices(3, true);
        m_dialog = [colour](MergeFocusDlg *d) {
            d->setDefaultParam(3, colour, 3);
            DialogRunner::click(d, "BUTTON_APPLY");
            return d->result();
        };
        QList<bool> merged;
        connect(m_page.get(), &ZStackWidget::completedFullFocus, this, [&](bool ok, ThumbnailInfo &entry) { merged << (ok && !entry.thumbnail.isNull() && entry.path == mergedPath()); });
        QMetaObject::invokeMethod(m_page.get(), "on_BUTTON_FULL_FOCUS_clicked");
        QCOMPARE(merged.count(), 1);
        QVERIFY(merged.at(0));
        QVERIFY2(m_messages.value(0).contains("Merging"), qPrintable(m_messages.value(0)));
        QVERIFY(!m_enabledWhileRunning);
        QVERIFY(m_page->isEnabled());
        QCOMPARE(m_page->mergeColor(), colour);
        QCOMPARE(tiffFacts(mergedPath()), facts);
        QVERIFY(m_page->fullFocusThread() == nullptr);
    }

    void stopLeavesNoFile()
    {
        holdSlices(3, true);
        m_whenRunning = [](TimeLapseProgressDlg *progress) { DialogRunner::click(progress, "BUTTON_STOP"); };
        QList<bool> merged;
        connect(m_page.get(), &ZStackWidget::completedFullFocus, this, [&](bool ok, ThumbnailInfo &entry) { merged << (ok && !entry.thumbnail.isNull() && entry.path == mergedPath()); });
        QMetaObject::invokeMethod(m_page.get(), "on_BUTTON_FULL_FOCUS_clicked");
        QCOMPARE(merged.count(), 0);
        QVERIFY(!QFile::exists(mergedPath()));
        QVERIFY(m_page->isEnabled());
        QVERIFY(m_page->fullFocusThread() == nullptr);
        QTest::qWait(50); // deferred deletions run without touching a freed thread
    }

    // The page or the progress box going while the merge runs (the window closing, the
    // application ending): the merge stops at its next slice instead of running on, its thread
    // is deleted once, no file is written, and a page that stays is enabled again.
    void goneWhileMerging_data()
    {
        QTest::addColumn<bool>("page");
        QTest::newRow("page") << true;
        QTest::newRow("progress box") << false;
    }

    void goneWhileMerging()
    {
        QFETCH(bool, page);
        holdSlices(8, true);
        QPointer<FullFocusThread> thread;
        std::atomic<int> outcome {-1}; // the merge's own report: 0 stopped, 1 finished
        m_whenRunning = [&](TimeLapseProgressDlg *progress) {
            thread = m_page->fullFocusThread();
            connect(thread, &FullFocusThread::FinishFullCocus, this, [&outcome](bool ok) { outcome = ok; },
                    Qt::DirectConnection);
            QPointer<TimeLapseProgressDlg> box(progress);
            QTimer::singleShot(0, this, [this, page, box] {
                if (page)
                    m_page.reset();
                else
                    delete box.data();
            });
        };
        QList<bool> merged;
        connect(m_page.get(), &ZStackWidget::completedFullFocus, this, [&](bool ok, ThumbnailInfo &) { merged << ok; });
        QMetaObject::invokeMethod(m_page.get(), "on_BUTTON_FULL_FOCUS_clicked");
        QVERIFY(thread.isNull());
        QCOMPARE(int(outcome), 0);
        QVERIFY(!QFile::exists(mergedPath()));
        QCOMPARE(merged.count(), 0);
        QCOMPARE(m_page == nullptr, page);
        if (!page) {
            QVERIFY(m_page->isEnabled());
            QVERIFY(m_page->fullFocusThread() == nullptr);
        }
    }
};

QTEST_MAIN(TestFocusMergePage)
#include "tst_focusmerge_page.moc"
