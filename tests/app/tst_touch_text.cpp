#include "AppBench.h"
#include "DiagramTextItem.h"
#include "ImageViewerDlg.h"
#include "LGraphicsView.h"
#include "MultiColorWidget.h"
#include "NIMBODlg.h"
#include "SetupDlg.h"
#include "TimeLapseImageWidget.h"
#include "ZStackImageWidget.h"
#include "ui_MultiColorWidget.h"
#include "ui_NIMBODlg.h"
#include "ui_TimeLapseImageWidget.h"
#include "ui_ZStackImageWidget.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QLabel>
#include <QtTest>
#include <functional>

// Text on the touch screen can be read and nothing is cut off, on the application as it starts:
// one row per control, each naming what it finds wrong.
class TestTouchText : public QObject
{
    Q_OBJECT

    // A browser's stamp with this text: its point size when below 16, else empty.
    static QString stampTooSmall(LGraphicsView *view, const QString &text)
    {
        view->setAnnotationText(text);
        const int size = view->annotationTextItem()->font().pointSize();
        return size >= 16 ? QString() : QString::number(size);
    }

private slots:
    void readableAndWhole()
    {
        AppBench bench;
        bench.quietStart();
        bench.start();
        Ui_NIMBODlg *ui = bench.ui();

        const std::pair<const char *, std::function<QString()>> rows[] = {
            {"Multicolor panel inside its page",
             [&] {
                 QStringList cut;
                 MultiColorWidget *page = ui->m_MultiColorWidget;
                 for (QWidget *child : page->findChildren<QWidget *>()) {
                     const QRect at(child->mapTo(page, QPoint(0, 0)), child->size());
                     if (child->isVisibleTo(page) && !child->isWindow() && !page->rect().contains(at))
                         cut << child->objectName();
                 }
                 return cut.join(' ');
             }},
            {"Scalebar box on top of its category bar, clear of the frames",
             [&] {
                 Ui_MultiColorWidget *form = ui->m_MultiColorWidget->form();
                 const QRect box = form->CHKBOX_SCALEBAR->geometry();
                 form->CHKBOX_SCALEBAR->show(); // as with an image to measure
                 QWidget *top = ui->m_MultiColorWidget->childAt(box.center());
                 const bool clear = !box.intersects(form->FRAME_CATEGORY_1->geometry())
                                    && form->LABEL_CATEGORY_1->geometry().contains(box)
                                    && (top == form->CHKBOX_SCALEBAR || form->CHKBOX_SCALEBAR->isAncestorOf(top));
                 return clear ? QString() : QString("at %1,%2").arg(box.x()).arg(box.y());
             }},
            {"time-lapse stamp at least 16 pt",
             [&] { return stampTooSmall(ui->m_TimeLapseImageWidget->form()->m_LGraphicsView, "00:00:05 / 00:00:30  2 / 7"); }},
            {"Z-stack stamp at least 16 pt",
             [&] {
                 return stampTooSmall(ui->m_ZStackImageWidget->form()->m_LGraphicsView,
                                      QString::fromUtf8("12.5 µm / 45.0 µm  3 / 10"));
             }},
            {"viewer title tall enough for underscores",
             [&] {
                 ImageViewerDlg viewer;
                 auto *title = viewer.findChild<QLabel *>("LABEL_FILENAME");
                 const int margin = title->margin();
                 const int room = title->contentsRect().height() - 2 * margin;
                 return room >= title->fontMetrics().height() ? QString() : QString("%1 px").arg(room);
             }},
            {"settings choice lists in at least 14 pt",
             [&] {
                 QStringList small;
                 for (QComboBox *combo : bench.window->setupDlg().findChildren<QComboBox *>())
                     for (int row = 0; row < combo->count(); ++row)
                         if (combo->itemData(row, Qt::FontRole).value<QFont>().pointSize() < 14)
                             small << QString("%1:%2").arg(combo->objectName()).arg(row);
                 return small.join(' ');
             }},
        };
        QStringList problems;
        for (const auto &[name, problem] : rows) {
            const QString found = problem();
            if (!found.isEmpty())
                problems << QString("%1: %2").arg(name, found);
        }
        QVERIFY2(problems.isEmpty(), qPrintable(problems.join('\n')));
    }
};

QTEST_MAIN(TestTouchText)
#include "tst_touch_text.moc"
