#include "TimeLapseRunBench.h"

#include "ControlWidget.h"
#include "Controller.h"
#include "MonotonicClock.h"
#include "NIMBODlg.h"
#include "Paths.h"
#include "PythonLines.h"
#include "ui_NIMBODlg.h"

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QPushButton>
#include <QSpinBox>
#include <QtTest>

bool TimeLapseRunBench::enter(const SimulatedInstrument::Options &options, const char *cameraMode)
{
    return enterPage(options, cameraMode, false);
}

bool TimeLapseRunBench::enterQuickStage()
{
    if (!enterPage(AppBench::defaultOptions(), "8", true))
        return false;
    ui()->m_ControlWidget->controller().motorPositioning().setClock(nullptr, [](int ms) {
        MonotonicClock::sleepMs(ms / 5);
    });
    return true;
}

bool TimeLapseRunBench::enterPage(const SimulatedInstrument::Options &options, const char *cameraMode, bool quickStage)
{
    m_bench = std::make_unique<AppBench>(options);
    m_bench->quietStart();
    m_bench->setConfig("Camera", "Mode", cameraMode);
    if (quickStage)
        m_bench->setConfig("Setting_Misc", "Stage_FOCUSSPEED", "300");
    for (int lens = 1; lens <= 5; ++lens)
        m_bench->setConfig("LensNA", qPrintable(QString::number(lens)), "0.25");
    m_bench->start();
    if (!m_bench->menuUnlocked())
        return false;
    QTest::mouseClick(ui()->BUTTON_TIME_LAPSE_MENU, Qt::LeftButton);
    m_page = ui()->m_TimeLapseWidget;
    return m_bench->waitUnlocked() && g_CurrentMenu == MENU_TIMELAPSE && goLive();
}

bool TimeLapseRunBench::goLive()
{
    QTest::mouseClick(w<QPushButton>("BUTTON_TIMELAPSE_LIVE"), Qt::LeftButton);
    return QTest::qWaitFor([this] { return w<QPushButton>("BUTTON_TIMELAPSE_RUN")->isEnabled(); }, 15000)
           && m_bench->waitUnlocked() && m_page->currentState() == TIMELAPSE_LIVE;
}

void TimeLapseRunBench::plan(int minutes, int seconds, int interval, const QString &unit, bool correction)
{
    w<QSpinBox>("SPINBOX_HOUR")->setValue(0);
    w<QSpinBox>("SPINBOX_MINUTE")->setValue(minutes);
    w<QSpinBox>("SPINBOX_SECOND")->setValue(seconds);
    w<QComboBox>("COMBOBOX_INTERVAL_TYPE")->setCurrentText(unit);
    w<QDoubleSpinBox>("SPINBOX_INTERVAL")->setValue(interval);
    w<QComboBox>("COMBO_FOCUS_DRIFT")->setCurrentText(correction ? "On" : "Off");
    QDir(Paths::ssd()).mkpath("Data");
    m_page->setSaveTarget(Paths::path("/media/VANTOR SSD/Data"), "Cells", "tif");
}

void TimeLapseRunBench::run()
{
    QTest::mouseClick(w<QPushButton>("BUTTON_TIMELAPSE_RUN"), Qt::LeftButton);
}

bool TimeLapseRunBench::waitForCount(int n, int timeoutMs) const
{
    return QTest::qWaitFor([this, n] { return count() >= n; }, timeoutMs);
}

bool TimeLapseRunBench::waitEnded(int timeoutMs) const
{
    return QTest::qWaitFor([this] { return m_page->currentState() == TIMELAPSE_SHOWN; }, timeoutMs);
}

bool TimeLapseRunBench::polling() const
{
    return ui()->m_ControlWidget->controller().isPulling();
}

void TimeLapseRunBench::endCase()
{
    m_page = nullptr;
    m_bench.reset();
}

QStringList TimeLapseRunBench::framesByPython(const QString &folder)
{
    const char *script = "import glob, os, sys, tifffile\n"
                         "for f in sorted(glob.glob(os.path.join(sys.argv[1], '*.tif'))):\n"
                         "    with tifffile.TiffFile(f) as t:\n"
                         "        p = t.pages[0]\n"
                         "        a = p.asarray()\n"
                         "        print('%dx%d %d %d %s' % (a.shape[1], a.shape[0], a.dtype.itemsize * 8, a.max(),"
                         " p.description.split(';')[-1]))\n";
    return pythonLines({"-c", script, folder});
}
