// Resident memory of the whole application over a biologist's day repeated in one process: on the
// simulated instrument, each round captures three Multicolor channels and saves them, takes a
// four-slice Z-stack and merges it and makes its video, runs a short time lapse, counts twice at
// the defaults, and in the File manager looks into the round's folder (thumbnails), copies it to
// the USB drive and deletes both copies. After each round the table on standard error gives the
// resident size (VmRSS), the bytes the heap has handed out and not taken back (mallinfo2), and the
// live widgets and QObjects; with --trim also the size after malloc_trim(0), which tells what the
// heap still holds from what the allocator merely keeps (the trim changes later rounds, so it is
// off by default). The figure is the growth of VmRSS per round after round 3, against one
// megabyte.
//
// With --hold the program ends right after the last round, without taking the application down,
// so that a heap profiler (heaptrack) lists what the application still holds as leaked: the lists
// of two runs with different numbers of rounds differ by what grows.
//
//   bench_memory [--rounds=N] [--trim] [--hold]     (default 20 rounds; also VANTOR_MEMORY_ROUNDS)
#include "GuiBenchMain.h"

#include "AppBench.h"
#include "CellCountWidget.h"
#include "ControlWidget.h"
#include "DialogRunner.h"
#include "DialogScripts.h"
#include "FileManagerWidget.h"
#include "MergeFocusDlg.h"
#include "MultiColorModel.h"
#include "MultiColorWidget.h"
#include "NIMBODlg.h"
#include "Paths.h"
#include "TimeLapseProgressDlg.h"
#include "TimeLapseWidget.h"
#include "VideoMakerDlg.h"
#include "VideoWidget.h"
#include "ZStackWidget.h"
#include "ui_CellCountWidget.h"
#include "ui_MultiColorWidget.h"
#include "ui_NIMBODlg.h"
#include "ui_ZStackWidget.h"

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFileSystemModel>
#include <QListView>
#include <QSpinBox>
#include <QTreeView>
#include <QtTest>

#include <atomic>
#include <cstdio>
#include <malloc.h>
#include <unistd.h>

// Qt's hooks for tools that follow objects (stable since Qt 5.4): counts live QObjects.
extern quintptr Q_CORE_EXPORT qtHookData[];

namespace {

int g_rounds = 20;
bool g_trim = false;
bool g_hold = false;
std::atomic<long> g_objects{0};

void addObject(QObject *) { ++g_objects; }
void removeObject(QObject *) { --g_objects; }

void hookObjectCounts()
{
    qtHookData[3] = reinterpret_cast<quintptr>(&addObject);    // QHooks::AddQObject
    qtHookData[4] = reinterpret_cast<quintptr>(&removeObject); // QHooks::RemoveQObject
}

double residentMb()
{
    QFile status("/proc/self/status");
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    return 0;
}

double heapMb()
{
    const struct mallinfo2 info = mallinfo2();
    return double(info.uordblks + info.hblkhd) / (1024.0 * 1024.0);
}

// Deferred deletes and queued work done, so that a round leaves only what it keeps.
void settle()
{
    for (int i = 0; i < 5; ++i) {
        QTest::qWait(100);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

// The user through one day on the running application. Each step returns false (and says why)
// when the application did not do what the user asked.
class Day
{
public:
    Day()
    {
        SimulatedInstrument::Options options = AppBench::defaultOptions();
        options.profile.speedScale *= 10; // stage travel is not what is measured
        options.keepLog = false;           // as in a simulated run: the board's log would grow
        m_bench = std::make_unique<AppBench>(options);
        m_bench->quietStart();
        m_bench->setConfig("Setting_ZStack", "StableTimeInterval", "0.1");
        m_bench->start();
        m_bench->setAnswer([this](QDialog *dialog) { return answer(dialog); });
    }

    bool started() const { return m_bench->menuUnlocked(); }

    bool round(int n)
    {
        m_folder = QString("Day%1").arg(n, 2, 10, QChar('0'));
        QDir(Paths::ssd()).mkpath(m_folder);
        m_bench->clearDialogs();
        return step("Multicolor", multicolor()) && step("Z-stack", zstack()) && step("Time lapse", timelapse())
               && step("Cell count", counts()) && step("File manager", files());
    }

private:
    std::unique_ptr<AppBench> m_bench;
    QString m_folder;

    Ui_NIMBODlg *ui() const { return m_bench->ui(); }
    QString dayPath() const { return Paths::ssd() + '/' + m_folder; }

    bool savedComplete() const { return !m_bench->dialogs().filter("Save Complete").isEmpty(); }

    static bool step(const char *name, bool ok)
    {
        if (!ok)
            std::fprintf(stderr, "%s did not complete\n", name);
        return ok;
    }

    int answer(QDialog *dialog)
    {
        const int saved = AppBench::saveAs(dialog, "cells");
        if (saved >= 0)
            return saved;
        if (qobject_cast<MergeFocusDlg *>(dialog) || qobject_cast<VideoMakerDlg *>(dialog)) {
            DialogRunner::click(dialog, "BUTTON_APPLY");
            return dialog->result();
        }
        const QString text = DialogScripts::messageText(dialog);
        if (qobject_cast<TimeLapseProgressDlg *>(dialog) || text.contains("Initializing") || text.contains("progress")
            || text.contains("Saving in Progress") || text.contains("Loading images"))
            return DialogRunner::showAndRun(dialog, [](QDialog *) {}, 300000);
        return 1;
    }

    bool open(QAbstractButton *menuButton)
    {
        QTest::mouseClick(menuButton, Qt::LeftButton);
        return m_bench->waitUnlocked();
    }

    bool turnFilter(int filter)
    {
        m_bench->sim->instrument().turnFilter(filter, 0);
        return QTest::qWaitFor([this, filter] { return ui()->m_ControlWidget->currentFilterPosition() == filter; }, 15000);
    }

    bool live(QAbstractButton *liveButton)
    {
        if (!liveButton->isVisible() || !liveButton->isEnabled())
            return ui()->m_VideoWidget->isRunning();
        QTest::mouseClick(liveButton, Qt::LeftButton);
        return m_bench->waitUnlocked() && QTest::qWaitFor([this] { return ui()->m_VideoWidget->isRunning(); }, 15000);
    }

    // Three channels captured under their cubes, saved, then cleared.
    bool multicolor()
    {
        MultiColorWidget *page = ui()->m_MultiColorWidget;
        if (!open(ui()->BUTTON_MULTI_COLOR_MENU))
            return false;
        for (int filter : {0, 1, 2}) {
            if (!live(page->form()->BUTTON_LIVE))
                return false;
            if (!turnFilter(filter))
                return false;
            ui()->m_ControlWidget->turnOnLight();
            QTest::qWait(300);
            if (!QTest::qWaitFor([page] { return page->form()->BUTTON_CAPTURE->isEnabled(); }, 15000))
                return false;
            QTest::mouseClick(page->form()->BUTTON_CAPTURE, Qt::LeftButton);
            if (!QTest::qWaitFor([page, filter] { return page->model()->isImageCaptured(filter); }, 15000))
                return false;
        }
        g_PreviouslySavedPath = dayPath();
        m_bench->clearDialogs();
        QTest::mouseClick(page->form()->BUTTON_SAVE_BEFORE, Qt::LeftButton);
        const bool saved = QTest::qWaitFor([this] { return savedComplete(); }, 30000);
        QTest::mouseClick(page->form()->BUTTON_CLEAR, Qt::LeftButton);
        ui()->m_MultiColorWidget->setCurrentState(MULTI_LIVE);
        return saved && m_bench->waitUnlocked();
    }

    // Four slices 2 um apart, merged, and made into a video.
    bool zstack()
    {
        ZStackWidget *page = ui()->m_ZStackWidget;
        Ui_ZStackWidget *form = page->form();
        if (!open(ui()->BUTTON_Z_STACK_MENU))
            return false;
        if (page->currentState() != ZSTACK_LIVE && !live(form->BUTTON_LIVE))
            return false;
        page->setSavePath(dayPath(), "stack");
        VirtualInstrument &vi = m_bench->sim->instrument();
        const int here = vi.state().stagePosition;
        for (auto [button, steps] : {std::pair{form->BUTTON_SET_START_POSITION, here},
                                     {form->BUTTON_SET_END_POSITION, here + 6 * 512 / 10}}) {
            vi.setStagePosition(steps);
            button->click();
            if (!QTest::qWaitFor([page, b = button] { return b->isChecked() && page->motorRequest() < 0; }, 20000))
                return false;
        }
        form->RADIOBUTTON_IMAGE_NUMBER->click();
        form->SPINBOX_IMAGE_NUMBER->setValue(4);
        QTest::mouseClick(form->BUTTON_Z_STACK_START, Qt::LeftButton);
        if (page->currentState() != ZSTACK_COMPLETED)
            return false;
        bool merged = false;
        const auto watch = QObject::connect(page, &ZStackWidget::completedFullFocus, [&merged] { merged = true; });
        QTest::mouseClick(form->BUTTON_FULL_FOCUS, Qt::LeftButton);
        const bool waited = QTest::qWaitFor([&merged] { return merged; }, 120000);
        QObject::disconnect(watch);
        if (!waited
            || !QTest::qWaitFor([page] { return page->isEnabled() && !page->fullFocusThread(); }, 30000))
            return false;
        m_bench->clearDialogs();
        form->BUTTON_SAVE_VIDEO->click();
        return QTest::qWaitFor([this] { return savedComplete(); }, 120000) && live(form->BUTTON_LIVE);
    }

    // Three frames a second apart.
    bool timelapse()
    {
        TimeLapseWidget *page = ui()->m_TimeLapseWidget;
        const auto w = [page](const char *name) { return page->findChild<QWidget *>(name); };
        if (!open(ui()->BUTTON_TIME_LAPSE_MENU) || !live(static_cast<QAbstractButton *>(w("BUTTON_TIMELAPSE_LIVE"))))
            return false;
        if (!QTest::qWaitFor([&] { return w("BUTTON_TIMELAPSE_RUN")->isEnabled(); }, 15000))
            return false;
        static_cast<QSpinBox *>(w("SPINBOX_HOUR"))->setValue(0);
        static_cast<QSpinBox *>(w("SPINBOX_MINUTE"))->setValue(0);
        static_cast<QSpinBox *>(w("SPINBOX_SECOND"))->setValue(2);
        static_cast<QComboBox *>(w("COMBOBOX_INTERVAL_TYPE"))->setCurrentText("Second");
        static_cast<QDoubleSpinBox *>(w("SPINBOX_INTERVAL"))->setValue(1);
        static_cast<QComboBox *>(w("COMBO_FOCUS_DRIFT"))->setCurrentText("Off");
        page->setSaveTarget(dayPath(), "lapse", "tif");
        QTest::mouseClick(w("BUTTON_TIMELAPSE_RUN"), Qt::LeftButton);
        return QTest::qWaitFor([page] { return page->currentState() == TIMELAPSE_SHOWN; }, 60000)
               && m_bench->waitUnlocked();
    }

    // Two counts at the defaults, back to live after each.
    bool counts()
    {
        CellCountWidget *page = ui()->m_CellCountWidget;
        Ui_CellCountWidget *form = page->form();
        if (!open(ui()->BUTTON_COUNT_MENU) || !live(form->BUTTON_LIVE) || !turnFilter(0))
            return false;
        for (int i = 0; i < 2; ++i) {
            // A count refused on a busy machine (the light search out of time) is pressed again.
            for (int attempt = 0; attempt < 3 && !countOnce(page); ++attempt)
                if (page->currentState() != CELLCOUNT_LIVE || !m_bench->waitUnlocked())
                    return false;
            if (page->currentState() != CELLCOUNT_RESULT)
                return false;
            QTest::mouseClick(form->BUTTON_NEXT_COUNT, Qt::LeftButton);
            if (!m_bench->waitUnlocked() || !QTest::qWaitFor([this] { return ui()->m_VideoWidget->isRunning(); }, 15000))
                return false;
        }
        return true;
    }

    bool countOnce(CellCountWidget *page)
    {
        m_bench->clearDialogs();
        QTest::mouseClick(page->form()->BUTTON_COUNT, Qt::LeftButton);
        if (QTest::qWaitFor([page] { return !page->runActive(); }, 300000) && m_bench->waitUnlocked()
            && QTest::qWaitFor([page] { return !page->workFilesPending(); }, 15000)
            && page->currentState() == CELLCOUNT_RESULT)
            return true;
        std::fprintf(stderr, "count ended in state %d: %s\n", int(page->currentState()),
                     qPrintable(m_bench->dialogs().join(" | ")));
        return false;
    }

    // The round's folder looked into, copied to the USB drive, then the copy and the folder deleted.
    bool files()
    {
        FileManagerWidget *page = ui()->m_FileManagerWidget;
        if (!open(ui()->BUTTON_FILEMANAGER))
            return false;
        const QString usb = Paths::path("/media/USB1");
        const bool ok = tapDrive(page, "VANTOR SSD") && lookInto(page, m_folder) && tap(page, m_folder) && press(page, "BUTTON_COPY")
                        && tapDrive(page, "USB1") && press(page, "BUTTON_PASTE")
                        && QFileInfo(usb + '/' + m_folder).isDir() && tap(page, m_folder) && press(page, "BUTTON_DELETE")
                        && !QFileInfo::exists(usb + '/' + m_folder) && tapDrive(page, "VANTOR SSD")
                        && tap(page, m_folder) && press(page, "BUTTON_DELETE") && !QFileInfo::exists(dayPath());
        return ok && open(ui()->BUTTON_MULTI_COLOR_MENU);
    }

    static QListView *list(FileManagerWidget *page) { return page->findChild<QListView *>("LISTVIEW_FILE"); }

    bool press(FileManagerWidget *page, const char *name)
    {
        auto *button = page->findChild<QPushButton *>(name);
        if (!button->isEnabled())
            return false;
        QTest::mouseClick(button, Qt::LeftButton);
        return QTest::qWaitFor([page] { return page->isEnabled(); }, 60000);
    }

    // A double tap on the folder, a look at its thumbnails, and back up.
    bool lookInto(FileManagerWidget *page, const QString &folder)
    {
        const QString path = page->currentPath() + '/' + folder;
        if (!tap(page, folder))
            return false;
        QListView *view = list(page);
        const QModelIndex index = view->selectionModel()->selectedIndexes().value(0);
        QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(index).center());
        if (!QTest::qWaitFor([page, path] { return page->isEnabled() && page->currentPath() == path; }, 30000))
            return false;
        QTest::qWait(1500); // the thumbnails come from the model's thread
        return press(page, "BUTTON_CD_UP");
    }

    bool tapDrive(FileManagerWidget *page, const QString &drive)
    {
        auto *tree = page->findChild<QTreeView *>("TREEVIEW_DIR");
        auto *model = qobject_cast<QFileSystemModel *>(tree->model());
        const QModelIndex index = model->index(Paths::path("/media/" + drive));
        if (!index.isValid())
            return false;
        tree->scrollTo(index);
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualRect(index).center());
        return QTest::qWaitFor([page, drive] { return page->isEnabled() && page->currentPath().endsWith(drive); }, 30000);
    }

    bool tap(FileManagerWidget *page, const QString &name)
    {
        QListView *view = list(page);
        auto *model = qobject_cast<QFileSystemModel *>(view->model());
        const QString path = page->currentPath() + '/' + name;
        if (!QTest::qWaitFor([&] { return model->index(path).isValid(); }, 15000))
            return false;
        const QModelIndex index = model->index(path);
        view->scrollTo(index);
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(index).center());
        return view->selectionModel()->isSelected(index);
    }
};

void memory_growth_per_round(benchmark::State &state)
{
    for (auto _ : state) {
        Day day;
        if (!day.started()) {
            state.SkipWithError("the application did not start");
            return;
        }
        QVector<double> rss;
        std::fprintf(stderr, "round  VmRSS MB  heap MB  widgets  QObjects%s\n", g_trim ? "  trimmed MB" : "");
        for (int n = 1; n <= g_rounds; ++n) {
            if (!day.round(n)) {
                state.SkipWithError("a step of the day failed");
                return;
            }
            settle();
            rss << residentMb();
            std::fprintf(stderr, "%5d  %8.1f  %7.1f  %7d  %8ld", n, rss.last(), heapMb(), QApplication::allWidgets().size(),
                         g_objects.load());
            if (g_trim) {
                malloc_trim(0);
                std::fprintf(stderr, "  %10.1f", residentMb());
            }
            std::fprintf(stderr, "\n");
        }
        const int from = std::min(3, g_rounds);
        const double perRound = g_rounds > from ? (rss.last() - rss[from - 1]) / (g_rounds - from) : 0.0;
        std::fprintf(stderr, "growth after round %d: %.3f MB a round\n", from, perRound);
        if (g_hold)
            ::_exit(0);
        state.counters["value"] = perRound * 1024 * 1024;
        state.counters["floor"] = 1000 * 1000; // the bound: one megabyte a round
    }
}
BENCHMARK(memory_growth_per_round)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace

int main(int argc, char **argv)
{
    hookObjectCounts();
    g_rounds = qEnvironmentVariableIntValue("VANTOR_MEMORY_ROUNDS") > 0 ? qEnvironmentVariableIntValue("VANTOR_MEMORY_ROUNDS") : 20;
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        if (qstrncmp(argv[i], "--rounds=", 9) == 0)
            g_rounds = std::max(1, atoi(argv[i] + 9));
        else if (qstrcmp(argv[i], "--trim") == 0)
            g_trim = true;
        else if (qstrcmp(argv[i], "--hold") == 0)
            g_hold = true;
        else
            argv[kept++] = argv[i];
    }
    argc = kept;
    return runGuiBenchmarks(argc, argv);
}
