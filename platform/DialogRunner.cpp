#include "DialogRunner.h"

#include "MonotonicClock.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QDialog>
#include <QMutex>
#include <QPointer>
#include <deque>

namespace {
QMutex g_lock;
std::deque<DialogRunner::Script> g_scripts;
DialogRunner::Script g_standing;
QStringList g_log;
// The log keeps the latest entries only: a run that opens dialogs all day does not grow it.
constexpr int kLogLimit = 1000;
}

int DialogRunner::exec(QDialog *dialog)
{
    Script script;
    {
        QMutexLocker lock(&g_lock);
        g_log << QString("%1:%2").arg(dialog->metaObject()->className(), dialog->objectName());
        if (g_log.size() > kLogLimit)
            g_log.removeFirst();
        if (!g_scripts.empty()) {
            script = std::move(g_scripts.front());
            g_scripts.pop_front();
        } else {
            script = g_standing;
        }
    }
    if (script)
        return script(dialog);
    return dialog->exec();
}

void DialogRunner::pushScript(Script script)
{
    QMutexLocker lock(&g_lock);
    g_scripts.push_back(std::move(script));
}

void DialogRunner::setStandingScript(Script script)
{
    QMutexLocker lock(&g_lock);
    g_standing = std::move(script);
}

void DialogRunner::clearScripts()
{
    QMutexLocker lock(&g_lock);
    g_scripts.clear();
    g_standing = nullptr;
}

int DialogRunner::pendingScripts()
{
    QMutexLocker lock(&g_lock);
    return int(g_scripts.size());
}

QStringList DialogRunner::log()
{
    QMutexLocker lock(&g_lock);
    return g_log;
}

void DialogRunner::clearLog()
{
    QMutexLocker lock(&g_lock);
    g_log.clear();
}

int DialogRunner::showAndRun(QDialog *dialog, const std::function<void(QDialog *)> &act, int timeoutMs)
{
    QPointer<QDialog> guard(dialog);
    dialog->setResult(0);
    dialog->show();
    QCoreApplication::processEvents();
    if (act)
        act(dialog);
    const int64_t end = MonotonicClock::nowMs() + timeoutMs;
    while (guard && guard->isVisible()) {
        if (MonotonicClock::nowMs() >= end) {
            guard->reject();
            return -1;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        MonotonicClock::sleepMs(1);
    }
    return guard ? guard->result() : 0;
}

bool DialogRunner::click(QDialog *dialog, const QString &buttonName)
{
    auto *button = dialog->findChild<QAbstractButton *>(buttonName);
    if (!button)
        return false;
    button->click();
    return true;
}
