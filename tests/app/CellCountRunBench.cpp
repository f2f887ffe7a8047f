#include "CellCountRunBench.h"

#include "CellCountImageWidget.h"
#include "CellCountWidget.h"
#include "ControlWidget.h"
#include "DialogRunner.h"
#include "DialogScripts.h"
#include "HangBound.h"
#include "MediaMonitor.h"
#include "NIMBODlg.h"
#include "Paths.h"
#include "VideoWidget.h"
#include "ui_CellCountImageWidget.h"
#include "ui_CellCountWidget.h"
#include "ui_NIMBODlg.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>
#include <opencv2/core.hpp>

CellCountWidget *CellCountRunBench::page() const
{
    return m_bench->ui()->m_CellCountWidget;
}

Ui_CellCountWidget *CellCountRunBench::form() const
{
    return page()->form();
}

VideoWidget *CellCountRunBench::video() const
{
    return m_bench->ui()->m_VideoWidget;
}

ControlWidget *CellCountRunBench::panel() const
{
    return m_bench->ui()->m_ControlWidget;
}

VirtualInstrument &CellCountRunBench::scope() const
{
    return m_bench->sim->instrument();
}

CellCountImageWidget *CellCountRunBench::viewer() const
{
    return m_bench->ui()->m_CellCountImageWidget;
}

ImageGraphicsView *CellCountRunBench::view() const
{
    return viewer()->form()->m_LGraphicsView;
}

void CellCountRunBench::noteBoxText(QDialog *dialog)
{
    const QString text = DialogScripts::messageText(dialog);
    if (m_boxTexts.isEmpty() || m_boxTexts.last() != text)
        m_boxTexts << text;
}

void CellCountRunBench::startLive()
{
    // A stage ten times as fast: the autofocus takes its frames once each move has ended, so its
    // travel time is not what is judged.
    SimulatedInstrument::Options options = AppBench::defaultOptions();
    options.profile.speedScale *= 10;
    m_bench = std::make_unique<AppBench>(options);
    m_bench->quietStart();
    m_bench->start();
    m_bench->setAnswer([this](QDialog *dialog) {
        const QString text = DialogScripts::messageText(dialog);
        if (!m_saveName.isEmpty()) {
            const int saved = AppBench::saveAs(dialog, m_saveName);
            if (saved >= 0)
                return saved;
            if (text.contains("Saving in Progress"))
                return DialogRunner::showAndRun(dialog, [](QDialog *) {}, 120000);
        }
        if (!text.contains("Initializing") && !text.contains("Cell counting in progress"))
            return 1;
        noteBoxText(dialog);
        if (text.contains("Initializing"))
            m_startBox = dialog;
        return DialogRunner::showAndRun(dialog, [](QDialog *) {}, 300000);
    });
    QTest::mouseClick(m_bench->ui()->BUTTON_COUNT_MENU, Qt::LeftButton);
    QVERIFY(m_bench->waitUnlocked());
    QCOMPARE(page()->currentState(), CELLCOUNT_IDLE);
    QVERIFY(!form()->BUTTON_LIVE->isHidden());
    QTest::mouseClick(form()->BUTTON_LIVE, Qt::LeftButton);
    QVERIFY(QTest::qWaitFor([this] { return video()->isRunning(); }, 15000));
    QVERIFY(m_bench->waitUnlocked());
    QCOMPARE(page()->currentState(), CELLCOUNT_LIVE);
    connect(video(), &VideoWidget::captured, this, [this](uchar *, int) { ++m_frames; });
    connect(page(), &CellCountWidget::lightPower, this, [this](int power, int, int) {
        m_powers << power;
        if (m_startBox)
            noteBoxText(m_startBox);
    });
    connect(page(), &CellCountWidget::cellCountAF, this, [this] { ++m_afRequests; });
    connect(panel(), &ControlWidget::completeCellCountAF, this, [this](bool ok, TFineAFErrTable error) {
        m_autofocused = ok && error == FINEAF_NO_ERROR;
    });
}

double CellCountRunBench::meanAt(int power)
{
    panel()->changeLightPower(power, -1, -1);
    QTest::qWait(400);
    double mean = -1;
    const auto c = connect(video(), &VideoWidget::captured, this, [&mean](uchar *frame, int bits) {
        if (bits == 8)
            mean = cv::mean(cv::Mat(1024, 1280, CV_8UC1, frame))[0];
    });
    video()->capture();
    disconnect(c);
    return mean;
}

void CellCountRunBench::exposeForTarget()
{
    for (int row = 1; row < 100 && meanAt(50) < 120.0; ++row)
        panel()->changeLightPower(-1, -1, row);
    QVERIFY(meanAt(50) >= 120.0);
}

int CellCountRunBench::targetPower()
{
    int lo = 1, hi = 100;
    while (lo < hi) {
        const int mid = (lo + hi) / 2;
        if (meanAt(mid) >= 150.0)
            hi = mid;
        else
            lo = mid + 1;
    }
    return lo;
}

void CellCountRunBench::count()
{
    m_boxTexts.clear();
    m_powers.clear();
    m_frames = 0;
    m_afRequests = 0;
    m_autofocused = false;
    m_bench->clearDialogs();
    m_bench->sim->board()->clearLog();
    QTest::mouseClick(form()->BUTTON_COUNT, Qt::LeftButton);
    QVERIFY(QTest::qWaitFor([this] { return !page()->runActive(); }, 300000)); // a hang bound
    QVERIFY(m_bench->waitUnlocked());
    // The work files are written once the page is back in the event loop.
    QVERIFY(QTest::qWaitFor([this] { return !page()->workFilesPending(); }, 15000));
}

QString CellCountRunBench::mountedUsb()
{
    const QString usb = Paths::path("/media/USB1");
    if (!QTest::qWaitFor([usb] { return QFileInfo(usb).isDir(); }, 15000))
        return QString();
    g_PreviouslySavedPath = usb;
    return usb;
}

void CellCountRunBench::python(const char *script, const QStringList &args, const QJsonObject &expected)
{
    const QString json = m_bench->root.path() + "/cellcount_expected.json";
    QFile out(json);
    QVERIFY(out.open(QIODevice::WriteOnly));
    out.write(QJsonDocument(expected).toJson());
    out.close();
    QProcess process;
    process.start("/usr/bin/python3", QStringList({"-c", script, json}) + args);
    QVERIFY(process.waitForFinished(kHangBoundMs));
    QVERIFY2(process.exitCode() == 0, qPrintable(QString::fromUtf8(process.readAllStandardError())));
    qInfo("%s", process.readAllStandardOutput().trimmed().constData());
}

void CellCountRunBench::endCase()
{
    m_saveName.clear();
    MediaMonitor::setSpaceQuery({});
    CellCountWidget::setMoveTimeoutMs(0);
    m_bench.reset();
}
