#include "VisibleNameDelegate.h"

#include "VisibleText.h"

QString VisibleNameDelegate::displayText(const QVariant &value, const QLocale &locale) const
{
    return VisibleText::escaped(QStyledItemDelegate::displayText(value, locale));
}
