#include "GrowthPageBench.h"

#include "DialogRunner.h"
#include "DialogScripts.h"
#include "GrowthMonitorImageWidget.h"
#include "GrowthMonitorWidget.h"
#include "MediaMonitor.h"
#include "NIMBODlg.h"
#include "Paths.h"
#include "PythonLines.h"
#include "TimeLapseProgressDlg.h"
#include "VideoWidget.h"
#include "ui_GrowthMonitorImageWidget.h"
#include "ui_GrowthMonitorWidget.h"
#include "ui_NIMBODlg.h"

#include <QTableWidget>
#include <QtTest>

namespace {

QString checkScript() { return qEnvironmentVariable("VANTOR_SOURCE_DIR") + "/tests/modes/confluency_check.py"; }

} // namespace

GrowthMonitorWidget *GrowthPageBench::page() const
{
    return m_bench->ui()->m_GrowthMonitorWidget;
}

Ui_GrowthMonitorWidget *GrowthPageBench::form() const
{
    return page()->form();
}

Ui_GrowthMonitorImageWidget *GrowthPageBench::browser() const
{
    return m_bench->ui()->m_GrowthMonitorImageWidget->form();
}

QTableWidget *GrowthPageBench::table() const
{
    return form()->TABLEWIDGET_RESULT;
}

VideoWidget *GrowthPageBench::video() const
{
    return m_bench->ui()->m_VideoWidget;
}

QString GrowthPageBench::usb()
{
    return Paths::path("/media/USB1");
}

bool GrowthPageBench::panelAndMenuFree() const
{
    return m_bench->menuUnlocked() && m_bench->ui()->m_ControlWidget->isEnabled();
}

bool GrowthPageBench::enter()
{
    m_bench = std::make_unique<AppBench>();
    m_bench->quietStart();
    m_bench->start();
    m_bench->setAnswer([this](QDialog *dialog) {
        const QString text = DialogScripts::messageText(dialog);
        const int saved = AppBench::saveAs(dialog, "Growth");
        if (saved >= 0)
            return saved;
        if (dialog->inherits("DirectoryDialog"))
            return DialogRunner::showAndRun(dialog, [](QDialog *d) { DialogRunner::click(d, "BUTTON_APPLY"); }, 30000);
        if (auto *progress = qobject_cast<TimeLapseProgressDlg *>(dialog)) {
            // Watched from before the box shows: showing it runs events, and on a busy machine the
            // run's start may come due among them and the whole run with it.
            const int stopAfter = m_stopAfter;
            auto *watch = new QTimer(progress);
            QObject::connect(watch, &QTimer::timeout, progress, [this, progress, stopAfter] {
                // Until the page closes the dialog at the run's end.
                if (progress->isVisible())
                    m_freeDuringRun = m_freeDuringRun || panelAndMenuFree();
                if (stopAfter > 0 && progress->getCurrentCount() >= stopAfter)
                    DialogRunner::click(progress, "BUTTON_STOP");
            });
            watch->start(0);
            return DialogRunner::showAndRun(dialog, {}, 300000);
        }
        if (text.contains("Initializing"))
            return DialogRunner::showAndRun(dialog, [](QDialog *) {}, 60000);
        return 1;
    });
    if (!m_bench->menuUnlocked())
        return false;
    QMetaObject::invokeMethod(m_bench->window.get(), "on_BUTTON_MONITOR_MENU_clicked");
    return m_bench->waitUnlocked() && g_CurrentMenu == MENU_GROWTH_MONITOR && page()->currentState() == GROWTH_IDLE;
}

bool GrowthPageBench::live()
{
    QTest::mouseClick(form()->BUTTON_LIVE, Qt::LeftButton);
    return QTest::qWaitFor([this] { return video()->isRunning(); }, 15000) && m_bench->waitUnlocked()
           && page()->currentState() == GROWTH_LIVE && form()->BUTTON_CAPTURE->isEnabled();
}

void GrowthPageBench::capture()
{
    QTest::mouseClick(form()->BUTTON_CAPTURE, Qt::LeftButton);
}

QStringList GrowthPageBench::computed(const QStringList &files) const
{
    const GrowthMonitorParameter p = page()->model().growthMonitorParameter();
    QStringList options;
    if (p.thresholdType == 1)
        options << "--threshold" << QString::number(p.thresholdValue);
    options << "--background" << (p.background == 1 ? "white" : "dark");
    if (p.dilate == 1)
        options << "--dilate";
    options << "--min-area" << QString::number(p.minArea) << "--watershed" << QString::number(p.watershed);
    const char *script = "import os, sys\n"
                         "sys.path.insert(0, os.path.dirname(sys.argv[1]))\n"
                         "import confluency_check as c\n"
                         "options = sys.argv[2].split('|')\n"
                         "for f in sys.argv[3:]:\n"
                         "    o = c.option_parser().parse_args(options + [f])\n"
                         "    n, t, p, _, _ = c.compute(c.read_grey(f), o)\n"
                         "    print(c.line(n, t, p))\n";
    return pythonLines(QStringList{"-c", script, checkScript(), options.join('|')} + files);
}

QStringList GrowthPageBench::ours() const
{
    QStringList out;
    for (const ThumbnailInfo &r : page()->model().thumbnails())
        out << QString::asprintf("confluency=%.3f count=%d threshold=%d", double(r.value), r.count, r.threshold);
    return out;
}

QString GrowthPageBench::makeSeries(int frames)
{
    const QString folder = usb() + "/day 1, plate A";
    const QString tmp = m_bench->root.path() + "/series";
    const QStringList made = pythonLines({qEnvironmentVariable("VANTOR_SOURCE_DIR") + "/tests/modes/growth_series.py", tmp,
                                        "--frames", QString::number(frames), "--seed", "11"});
    if (!made.isEmpty() && made[0].startsWith("python failed")) {
        qWarning().noquote() << made[0];
        return QString();
    }
    QDir().mkpath(folder);
    for (int i = 0; i < frames; ++i)
        QFile::rename(QString("%1/frame_%2.tif").arg(tmp).arg(i, 2, 10, QChar('0')), QString("%1/img%2.tif").arg(folder).arg(i + 1));
    return folder;
}

void GrowthPageBench::runFolder(const QString &folder)
{
    g_PreviouslySavedPath = folder;
    QTest::mouseClick(form()->BUTTON_LOAD_IMAGE, Qt::LeftButton);
}

QStringList GrowthPageBench::tableColumn(int column) const
{
    QStringList out;
    for (int row = 0; row < table()->rowCount(); ++row)
        out << table()->item(row, column)->text();
    return out;
}

void GrowthPageBench::startCase()
{
    g_CurrentMenu = MENU_MULTICOLOR;
    m_stopAfter = 0;
    m_freeDuringRun = false;
}

void GrowthPageBench::endCase()
{
    MediaMonitor::setSpaceQuery({});
    m_bench.reset();
}
