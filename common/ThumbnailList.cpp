#include "ThumbnailList.h"

#include <QListWidget>
#include <QScrollBar>

namespace {

const QSize kThumbnailGrid(150, 120);
const QSize kThumbnailIcon(132, 100);
const QSize kListGrid(75, 50);
const QSize kListIcon(57, 44);
const QSize kListItem(57, 57);

} // namespace

void ThumbnailList::setUp(QListWidget *list)
{
    list->setAutoScroll(false);
    list->setAutoScrollMargin(0);
    list->setFrameShape(QFrame::NoFrame);
    list->setAttribute(Qt::WA_MouseTracking, false);
    list->setViewMode(QListView::IconMode);
    list->setMovement(QListView::Static);
    list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
}

void ThumbnailList::setMode(QListWidget *list, bool thumbnails)
{
    list->setViewMode(thumbnails ? QListView::IconMode : QListView::ListMode);
    list->setMovement(QListView::Static);
    list->setGridSize(thumbnails ? kThumbnailGrid : kListGrid);
    list->setIconSize(thumbnails ? kThumbnailIcon : kListIcon);
    for (int row = 0; row < list->count(); ++row) {
        QListWidgetItem *item = list->item(row);
        item->setSizeHint(thumbnails ? kThumbnailIcon : kListItem);
        item->setText(thumbnails ? QString() : QString::number(row + 1));
    }
}

void ThumbnailList::scroll(QListWidget *list, bool thumbnails, int direction)
{
    QScrollBar *bar = list->verticalScrollBar();
    bar->setValue(bar->value() + direction * (thumbnails ? kThumbnailStep : kListStep));
}

void ThumbnailList::deleteItems(QListWidget *list)
{
    while (list->count() > 0)
        delete list->takeItem(list->count() - 1);
    list->clear();
}
