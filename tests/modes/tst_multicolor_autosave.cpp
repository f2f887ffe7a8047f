// Saving on the Multicolor page: the auto-save of every capture read back with Python's tifffile
// (pixels, description, name), its free-space rule, a failed write, a snapshot that later changes
// of the channel do not reach, the wait at the end; and Save Before / After through the dialog.
#include "../storage/PythonImage.h"
#include "DialogRunner.h"
#include "DialogScripts.h"
#include "Globals.h"
#include "KeyboardDlg.h"
#include "MediaMonitor.h"
#include "MultiColorFixture.h"
#include "MultiColorModel.h"
#include "SaveOptionsDlg.h"
#include "TCapturedImageMetaData.h"
#include "ui_MultiColorWidget.h"

#include <QLineEdit>
#include <QScopeGuard>
#include <QSemaphore>
#include <QtTest>
#include <chrono>
#include <csignal>
#include <thread>
#include <sys/resource.h>

namespace {
const QByteArray kConfig = "[Setting_MultiColor]\nAutosave=1\nAutosavePath=/media/VANTOR SSD/Quicksave/\n"
                           "[Filter]\n0=Trans\n1=DAPI\n2=G/F*P\n3=RFP\n";
const QString kNoSpace = "<p><b>Save Failed</b><br/>You are out of disk space.</p>";
const QString kNotWritten = "<p><b>Save Failed</b><br/>The image could not be written.</p>";

void setFreeMegabytes(quint64 megabytes, QStringList *asked = nullptr)
{
    MediaMonitor::setSpaceQuery([megabytes, asked](const QString &path, quint64 *fragment, quint64 *blocks) {
        if (asked)
            *asked << path;
        *fragment = 1000000;
        *blocks = megabytes;
        return true;
    });
}

QByteArray bytesOf(const std::vector<quint16> &values, int bits)
{
    QByteArray out;
    for (quint16 v : values) {
        if (bits == 16)
            out.append(reinterpret_cast<const char *>(&v), 2);
        else
            out.append(char(v));
    }
    return out;
}
} // namespace

class TestMultiColorAutoSave : public QObject
{
    Q_OBJECT

    std::unique_ptr<MultiColorFixture> m_fx;
    QTemporaryDir m_scratch;

    // The capture as its file holds it: the colour rendering as the model holds it now (native
    // words for 16 bits), or the grey values.
    QByteArray heldCapture(bool colour, int bits)
    {
        if (!colour)
            return bytesOf(m_fx->lastValues(), bits);
        return QByteArray(reinterpret_cast<const char *>(m_fx->page().model()->imageData(2, bits == 16 ? 48 : 24)),
                          MultiColorFixture::kPixels * 3 * (bits / 8));
    }
    QStringList savedFiles() const { return QDir(m_fx->quicksave()).entryList(QDir::Files | QDir::Hidden, QDir::Name); }
    QString label() const { return m_fx->ui()->LABEL_AUTOSAVE->text(); }
    void waitForOutcome()
    {
        QVERIFY(m_fx->page().waitForAutoSaves(30000));
        QTRY_VERIFY_WITH_TIMEOUT(m_fx->ui()->LABEL_AUTOSAVE->isVisible() && !label().isEmpty(), 30000);
    }

private slots:
    void init()
    {
        m_fx = std::make_unique<MultiColorFixture>(kConfig);
        m_fx->answer = 1;
    }
    void cleanup()
    {
        m_fx.reset();
        MediaMonitor::setSpaceQuery({});
    }

    void filesHoldTheCapture_data()
    {
        QTest::addColumn<bool>("colour");
        QTest::addColumn<int>("bits");
        QTest::newRow("grey 8") << false << 8;
        QTest::newRow("grey 16") << false << 16;
        QTest::newRow("colour 8") << true << 8;
        QTest::newRow("colour 16") << true << 16;
    }
    void filesHoldTheCapture()
    {
        QFETCH(bool, colour);
        QFETCH(int, bits);
        m_fx->page().setPseudoColor(colour, 0, 0);
        m_fx->capture(2, bits, 7);
        const int samples = colour ? 3 : 1;
        const QByteArray expected = heldCapture(colour, bits);
        waitForOutcome();
        const QStringList files = savedFiles();
        QCOMPARE(files.size(), 1);
        QVERIFY2(QRegularExpression("^\\d{8}_\\d{6}_G_F_P\\.tif$").match(files[0]).hasMatch(), qPrintable(files[0]));
        QCOMPARE(label(), QString("<p><b>Quick Save</b><br/>%1</p>").arg(files[0]));
        const PythonImage image = PythonImage::read({m_fx->quicksave() + '/' + files[0]}, m_scratch.path()).value(0);
        QCOMPARE(image.shape, samples == 3 ? QString("1024x1280x3") : QString("1024x1280"));
        QCOMPARE(image.dtype, bits == 16 ? QString("uint16") : QString("uint8"));
        QVERIFY(image.samples == expected);
        const QString meta = capturedImageMetaData().metaText();
        QCOMPARE(image.description, meta);
        QCOMPARE(meta.split(';').size(), 9);
    }

    // The free space needed: the file with a quarter more, measured on the auto-save folder.
    void spaceRule_data()
    {
        QTest::addColumn<bool>("colour");
        QTest::addColumn<int>("bits");
        QTest::addColumn<int>("needed");
        QTest::newRow("grey 8") << false << 8 << 2;
        QTest::newRow("grey 16") << false << 16 << 4;
        QTest::newRow("colour 8") << true << 8 << 5;
        QTest::newRow("colour 16") << true << 16 << 10;
    }
    void spaceRule()
    {
        QFETCH(bool, colour);
        QFETCH(int, bits);
        QFETCH(int, needed);
        QCOMPARE(MultiColorAutoSave::requiredMegabytes(bits, colour), quint64(needed));
        m_fx->page().setPseudoColor(colour, 0, 0);
        QStringList asked;
        setFreeMegabytes(quint64(needed - 1), &asked);
        m_fx->capture(1, bits);
        waitForOutcome();
        QCOMPARE(label(), kNoSpace);
        QVERIFY(savedFiles().isEmpty());
        QCOMPARE(asked, QStringList{m_fx->quicksave() + '/'});
        setFreeMegabytes(quint64(needed));
        m_fx->ui()->LABEL_AUTOSAVE->hide();
        m_fx->capture(1, bits);
        waitForOutcome();
        QCOMPARE(savedFiles().size(), 1);
    }

    // A write that fails half-way (the file-size limit standing for a full drive) leaves nothing.
    void failedWriteLeavesNoFile()
    {
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit old{};
        getrlimit(RLIMIT_FSIZE, &old);
        rlimit small = old;
        small.rlim_cur = 100000;
        setrlimit(RLIMIT_FSIZE, &small);
        m_fx->capture(0, 8);
        const bool done = m_fx->page().waitForAutoSaves(30000);
        setrlimit(RLIMIT_FSIZE, &old);
        QVERIFY(done);
        QTRY_COMPARE_WITH_TIMEOUT(label(), kNotWritten, 30000);
        QCOMPARE(savedFiles(), QStringList());
    }

    // The task writes what was captured, although the channel changed before it ran.
    void snapshotOutlivesLaterChanges_data()
    {
        QTest::addColumn<bool>("colour");
        QTest::addColumn<int>("bits");
        QTest::newRow("grey 8") << false << 8;
        QTest::newRow("colour 16") << true << 16;
    }
    void snapshotOutlivesLaterChanges()
    {
        QFETCH(bool, colour);
        QFETCH(int, bits);
        m_fx->page().setPseudoColor(colour, 0, 0);
        QSemaphore gate;
        MediaMonitor::setSpaceQuery([&gate](const QString &, quint64 *fragment, quint64 *blocks) {
            gate.tryAcquire(1, 30000);
            *fragment = 1000000;
            *blocks = 1000;
            return true;
        });
        m_fx->capture(2, bits, 1);
        const QByteArray first = heldCapture(colour, bits);
        m_fx->onDialog = [](QDialog *d) {
            if (auto *keyboard = qobject_cast<KeyboardDlg *>(d)) {
                keyboard->setText("80");
                return 1;
            }
            return -1;
        };
        QTest::mousePress(m_fx->ui()->SPINBOX_CH3_BRIGHTNESS->findChild<QLineEdit *>(), Qt::LeftButton);
        QCOMPARE(m_fx->ui()->SLIDER_CH3_BRIGHTNESS->value(), 80);
        m_fx->capture(2, bits, 2);
        const QByteArray second = heldCapture(colour, bits);
        gate.release(2);
        waitForOutcome();
        const QStringList files = savedFiles();
        QCOMPARE(files.size(), 2); // the same second gives the second file "(1)"
        QStringList paths;
        for (const QString &f : files)
            paths << m_fx->quicksave() + '/' + f;
        const QList<PythonImage> images = PythonImage::read(paths, m_scratch.path());
        QSet<QByteArray> held{images.value(0).samples, images.value(1).samples};
        QCOMPARE(held, QSet<QByteArray>({first, second}));
    }

    // Leaving waits for the file being written.
    void leavingWaitsForTheWrite()
    {
        QSemaphore gate;
        MediaMonitor::setSpaceQuery([&gate](const QString &, quint64 *fragment, quint64 *blocks) {
            gate.tryAcquire(1, 30000);
            *fragment = 1000000;
            *blocks = 1000;
            return true;
        });
        m_fx->capture(3, 16);
        std::thread opener([&gate] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            gate.release();
        });
        m_fx->destroyPage();
        opener.join();
        QCOMPARE(savedFiles().size(), 1);
    }

    // Leaving the page asks first unless every capture held is in a file: an auto-save counts
    // once written (the page waits for one still being written), a failed one or a later change
    // does not, and a new capture is unsaved until its file is there.
    void aCaptureCountsAsSavedOnceWritten_data()
    {
        QTest::addColumn<bool>("autosave");
        QTest::addColumn<QString>("road");
        QTest::addColumn<bool>("saved");
        QTest::newRow("written") << true << "" << true;
        QTest::newRow("no space") << true << "no space" << false;
        QTest::newRow("measured after") << true << "measured" << false;
        QTest::newRow("saved, then captured") << false << "saved first" << false;
    }
    void aCaptureCountsAsSavedOnceWritten()
    {
        QFETCH(bool, autosave);
        QFETCH(QString, road);
        QFETCH(bool, saved);
        if (!autosave) {
            m_fx->root.writeFile("/root/Microscope/NIMBO/NIMBO.ini", "[Setting_MultiColor]\nAutosave=0\n");
            m_fx->page().readSetting();
        }
        auto gate = std::make_shared<QSemaphore>();
        const auto open = qScopeGuard([gate] { gate->release(100); });
        const quint64 freeMB = road == "no space" ? 0 : 1000;
        MediaMonitor::setSpaceQuery([gate, freeMB](const QString &, quint64 *fragment, quint64 *blocks) {
            gate->tryAcquire(1, 30000);
            *fragment = 1000000;
            *blocks = freeMB;
            return true;
        });
        if (road == "saved first") {
            m_fx->capture(0, 8);
            m_fx->onDialog = [](QDialog *d) { return qobject_cast<SaveOptionsDlg *>(d) ? 1 : -1; };
            std::vector<uchar> rendered(size_t(MultiColorFixture::kPixels) * 3, 9);
            m_fx->page().slotSave(true, rendered.data(), int(rendered.size()), false, false);
        }
        QSignalSpy reports(&m_fx->page(), &MultiColorWidget::saved);
        m_fx->capture(2, 8);
        QVERIFY(!reports.isEmpty());
        QCOMPARE(reports.last().value(0).toBool(), false);
        if (road == "measured") {
            TSMeasurementItem line;
            line.tool = TOOL_LINE;
            m_fx->page().setMeasurementResult(line, true);
        }
        std::thread writer([gate] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            gate->release(1);
        });
        m_fx->page().settleAutoSaves(30000);
        writer.join();
        QCOMPARE(reports.last().value(0).toBool(), saved);
        QCOMPARE(savedFiles().size(), autosave && road != "no space" ? 1 : 0);
    }

    // A folder that is gone: the default folder, remembered in the configuration.
    void missingFolderFallsBack()
    {
        m_fx->root.writeFile("/root/Microscope/NIMBO/NIMBO.ini",
                             "[Setting_MultiColor]\nAutosave=1\nAutosavePath=/media/USB9/gone/\n");
        m_fx->page().readSetting();
        m_fx->capture(0, 8);
        waitForOutcome();
        QCOMPARE(savedFiles().size(), 1);
        QFile config(m_fx->root.path() + "/root/Microscope/NIMBO/NIMBO.ini");
        QVERIFY(config.open(QIODevice::ReadOnly));
        QVERIFY(config.readAll().contains("AutosavePath=/media/VANTOR SSD/Quicksave/"));
    }

    // Save Before and After: the dialog gets the channels and the view; its answer moves the
    // buttons. A rendering that is not one RGB frame saves nothing.
    void saveBeforeAndAfter()
    {
        m_fx->capture(0, 8);
        m_fx->capture(2, 8);
        QTRY_VERIFY(m_fx->page().waitForAutoSaves(100));
        int viewIndex = -2, result = 0, dialogs = 0;
        m_fx->onDialog = [&](QDialog *d) {
            auto *save = qobject_cast<SaveOptionsDlg *>(d);
            if (!save)
                return -1;
            ++dialogs;
            viewIndex = save->m_nViewIndex;
            return result;
        };
        QSignalSpy saved(&m_fx->page(), &MultiColorWidget::saved);
        std::vector<uchar> rendered(size_t(MultiColorFixture::kPixels) * 3, 9);
        m_fx->page().slotSave(true, rendered.data(), int(rendered.size()) - 1, false, true);
        QCOMPARE(dialogs, 0);
        m_fx->page().slotSave(true, rendered.data(), int(rendered.size()), false, true); // cancelled
        QCOMPARE(dialogs, 1);
        QCOMPARE(viewIndex, 2);
        QVERIFY(saved.isEmpty());
        QVERIFY(!m_fx->ui()->BUTTON_SAVE_BEFORE->isHidden());
        result = 1;
        m_fx->page().slotSave(true, rendered.data(), int(rendered.size()), false, true);
        QCOMPARE(saved.size(), 1);
        QVERIFY(m_fx->ui()->BUTTON_SAVE_BEFORE->isHidden());
        QVERIFY(!m_fx->ui()->BUTTON_SAVE_AFTER->isHidden());
        m_fx->ui()->BUTTON_OVERLAY_ON->click();
        m_fx->page().slotSave(false, rendered.data(), int(rendered.size()), false, false);
        QCOMPARE(viewIndex, -1);
        QCOMPARE(saved.size(), 2);
    }

    // A real save through the dialog onto the USB drive: the files of the two channels.
    void saveWritesTheChannels()
    {
        m_fx->capture(0, 16);
        QTRY_VERIFY(m_fx->page().waitForAutoSaves(100));
        m_fx->saveAs("cells");
        std::vector<uchar> rendered(size_t(MultiColorFixture::kPixels) * 3, 9);
        QSignalSpy saved(&m_fx->page(), &MultiColorWidget::saved);
        m_fx->page().slotSave(true, rendered.data(), int(rendered.size()), false, false);
        QCOMPARE(saved.size(), 1);
        const QStringList files = QDir(m_fx->root.path() + "/media/USB1").entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot);
        QCOMPARE(files, QStringList{"cells_Trans.tif"});
        const PythonImage image = PythonImage::read({m_fx->root.path() + "/media/USB1/cells_Trans.tif"}, m_scratch.path()).value(0);
        QVERIFY(image.samples == bytesOf(m_fx->lastValues(), 16));
    }
};

QTEST_MAIN(TestMultiColorAutoSave)
#include "tst_multicolor_autosave.moc"
