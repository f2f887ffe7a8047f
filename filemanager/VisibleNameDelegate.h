#pragma once
#include <QStyledItemDelegate>

// Shows the names of the File manager's folder tree and list as VisibleText does: a control or
// format character in a name is shown as an escape rather than dropped, drawn as a line break or
// left invisible, so that a name looks like what it is and two names never look alike.
class VisibleNameDelegate : public QStyledItemDelegate
{
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    QString displayText(const QVariant &value, const QLocale &locale) const override;
};
