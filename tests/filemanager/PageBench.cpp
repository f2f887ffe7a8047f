#include "PageBench.h"

#include "DialogRunner.h"
#include "DialogScripts.h"
#include "Globals.h"
#include "KeyboardDlg.h"
#include "Paths.h"

#include <QDeadlineTimer>
#include <QFileSystemModel>
#include <QListView>
#include <QPushButton>
#include <QTreeView>
#include <QtTest>

PageBench::PageBench()
{
    storage.attach(actions);
    SystemActions::setInstance(&actions);
    monitor = std::make_unique<MediaMonitor>();
    monitor->mountAll();
    g_CurrentMenu = MENU_FILE_MANAGER;
    page = std::make_unique<FileManagerWidget>();
    QObject::connect(monitor.get(), &MediaMonitor::signalRemovedDisk, page.get(), &FileManagerWidget::slotRemovedDisk);
    QObject::connect(page.get(), &FileManagerWidget::umountDevice, monitor.get(), &MediaMonitor::umountByLabel,
                     Qt::DirectConnection);
    page->show();
}

PageBench::~PageBench()
{
    page.reset();
    monitor.reset();
    MediaMonitor::setSpaceQuery(nullptr);
    DialogRunner::clearScripts();
    SystemActions::setInstance(nullptr);
}

QPushButton *PageBench::button(const char *name) const
{
    return page->findChild<QPushButton *>(name);
}

QFileSystemModel *PageBench::listModel() const
{
    return qobject_cast<QFileSystemModel *>(page->findChild<QListView *>("LISTVIEW_FILE")->model());
}

bool PageBench::open(const QString &fixedPath)
{
    const QStringList sections = fixedPath.split('/', Qt::SkipEmptyParts); // media, drive, folders ...
    auto *tree = page->findChild<QTreeView *>("TREEVIEW_DIR");
    auto *treeModel = qobject_cast<QFileSystemModel *>(tree->model());
    const QString drive = Paths::path("/media/" + sections.value(1));
    if (page->currentPath() != drive) {
        const QModelIndex index = treeModel->index(drive);
        if (!index.isValid())
            return false;
        QMetaObject::invokeMethod(page.get(), "on_TREEVIEW_DIR_clicked", Q_ARG(QModelIndex, index));
        if (!QTest::qWaitFor([this] { return page->isEnabled(); }, 10000))
            return false;
    }
    for (int i = 2; i < sections.size(); ++i) {
        const QModelIndex entry = listEntry(sections[i]);
        if (!entry.isValid())
            return false;
        QMetaObject::invokeMethod(page.get(), "on_LISTVIEW_FILE_doubleClicked", Q_ARG(QModelIndex, entry));
        if (!QTest::qWaitFor([this] { return page->isEnabled(); }, 10000))
            return false;
    }
    return page->currentPath() == Paths::path(fixedPath);
}

QModelIndex PageBench::listEntry(const QString &name)
{
    const QString path = page->currentPath() + '/' + name;
    QDeadlineTimer deadline(10000);
    while (!listModel()->index(path).isValid() && !deadline.hasExpired())
        QTest::qWait(10);
    return listModel()->index(path);
}

void PageBench::select(const QStringList &names)
{
    auto *selection = page->findChild<QListView *>("LISTVIEW_FILE")->selectionModel();
    selection->clearSelection();
    for (const QString &name : names)
        selection->setCurrentIndex(listEntry(name), QItemSelectionModel::Select);
}

QStringList PageBench::names(const QString &fixedPath) const
{
    QStringList out = QDir(Paths::path(fixedPath)).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    out.sort();
    return out;
}

namespace PageScripts {
void type(const QString &text, QString *shown)
{
    DialogScripts::pushAct([text, shown](QDialog *dialog) {
        auto *keyboard = qobject_cast<KeyboardDlg *>(dialog);
        if (!keyboard)
            return;
        if (shown)
            *shown = keyboard->text();
        keyboard->setText(text);
        DialogRunner::click(dialog, "BUTTON_KEY_ENTER");
    });
}
} // namespace PageScripts
