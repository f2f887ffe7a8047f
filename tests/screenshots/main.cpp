// Shows each screen and dialog the way a user sees it and writes one PNG each, named after it.
#include "DialogRunner.h"

#include <QApplication>
#include <QDir>
#include <QScreen>
#include <QWidget>
#include <QElapsedTimer>
#include <functional>

namespace {

struct Shot
{
    QString name;                         // file name without ".png"
    std::function<QWidget *()> make;      // builds the widget (not yet shown)
};

// Every screen and dialog, in menu order.
QList<Shot> shots()
{
    return {};
}

void settle(int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms)
        QApplication::processEvents(QEventLoop::AllEvents, 10);
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const QString outDir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::currentPath();
    QDir().mkpath(outDir);
    int failures = 0;
    for (const Shot &shot : shots()) {
        QWidget *widget = shot.make();
        if (!widget) {
            ++failures;
            continue;
        }
        widget->show();
        settle(300);
        QPixmap picture = QGuiApplication::primaryScreen()->grabWindow(0);
        if (!picture.save(outDir + "/" + shot.name + ".png"))
            ++failures;
        widget->close();
        delete widget;
    }
    return failures ? 1 : 0;
}
