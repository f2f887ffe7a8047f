#include "FileManagerWidget.h"

FileManagerWidget::FileManagerWidget(QWidget *parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_StyledBackground);
}

void FileManagerWidget::clear() {}
void FileManagerWidget::updateDiskSpace(bool) {}
void FileManagerWidget::slotRemovedDisk(QString) {}
