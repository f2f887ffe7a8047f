#include "ViewShots.h"

#include "DiagramEllipseItem.h"
#include "DiagramLineItem.h"
#include "DiagramPathItem.h"
#include "DiagramRectItem.h"
#include "DiagramScene.h"
#include "DiagramTextItem.h"
#include "ImageGraphicsView.h"
#include "ItemSettingDlg.h"
#include "LGraphicsView.h"
#include "NavigationDrawWidget.h"
#include "ScaleBarDlg.h"
#include "SampleRenderer.h"
#include "Utilities.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QMenu>
#include <QTimer>
#include <QWheelEvent>
#include <cmath>

namespace {

QPen pen(Qt::GlobalColor colour, int width = 2)
{
    return QPen(QBrush(colour, Qt::SolidPattern), width, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin);
}

QPainterPath polyline(std::initializer_list<QPointF> points, bool closed = false)
{
    QPainterPath path(*points.begin());
    for (auto p = points.begin() + 1; p != points.end(); ++p)
        path.lineTo(*p);
    if (closed)
        path.closeSubpath();
    return path;
}

void addAnnotations(DiagramScene *scene)
{
    QMenu *menu = scene->itemMenu();
    auto *line = new DiagramLineItem(QLineF(380, 330, 620, 420), menu);
    line->setPen(pen(Qt::red, 3));
    auto *angle = new DiagramPathItem(polyline({{700, 300}, {600, 480}, {820, 470}}), menu);
    angle->setPen(pen(Qt::green));
    auto *segments = new DiagramPathItem(polyline({{380, 560}, {450, 500}, {520, 590}, {610, 530}}), menu);
    segments->setPen(pen(Qt::cyan));
    auto *rect = new DiagramRectItem(QRectF(660, 520, 160, 110), menu);
    rect->setPen(pen(Qt::yellow));
    auto *ellipse = new DiagramEllipseItem(QRectF(420, 640, 150, 100), menu);
    ellipse->setPen(pen(Qt::magenta));
    QPainterPath stroke(QPointF(640, 680));
    for (int i = 1; i < 40; ++i)
        stroke.lineTo(640 + i * 4, 680 + 25 * std::sin(i / 4.0));
    auto *freeHand = new DiagramPathItem(stroke, menu);
    freeHand->setPen(pen(Qt::white));
    auto *polygon = new DiagramPathItem(polyline({{840, 330}, {930, 360}, {900, 450}, {830, 420}}, true), menu);
    polygon->setPen(pen(Qt::blue, 3));
    auto *text = new DiagramTextItem(menu);
    text->setPlainText("HeLa, day 3");
    text->setFont(QFont("DejaVu Sans", 16));
    text->setDefaultTextColor(Qt::yellow);
    for (QGraphicsItem *item : std::initializer_list<QGraphicsItem *>{line, angle, segments, rect, ellipse, freeHand, polygon, text})
        scene->addGraphicsItem(item, false);
    text->setPos(390, 280);
    QPainterPath cross;
    for (const QPointF &tip : {QPointF(5, 0), QPointF(-5, 0), QPointF(0, 5), QPointF(0, -5)}) {
        cross.moveTo(0, 0);
        cross.lineTo(tip);
    }
    for (const QPointF &p : {QPointF(860, 560), QPointF(880, 600), QPointF(910, 575)}) {
        auto *marker = new DiagramPathItem(cross, menu);
        marker->setPen(pen(Qt::red));
        scene->addGraphicsItem(marker, false);
        marker->setPos(p);
    }
    for (const QPointF &p : {QPointF(860, 660), QPointF(900, 690)}) {
        auto *circle = new DiagramEllipseItem(float(p.x() - 10), float(p.y() - 10), 20, 20, menu);
        circle->setPen(pen(Qt::green));
        scene->addGraphicsItem(circle, false);
    }
    line->createSelectionPolygon();
    scene->setItemSelectableFlag(true);
    line->setSelected(true);
}

QWidget *annotatedView(int barCorner = -1, bool measuring = false)
{
    auto *page = new QWidget;
    page->resize(1280, 1024);
    LGraphicsView *view = measuring ? new ImageGraphicsView(page) : new LGraphicsView(page);
    if (measuring)
        static_cast<ImageGraphicsView *>(view)->m_bContextMenuEnabled = true; // the multicolour view
    view->setGeometry(0, 0, 1280, 1024);
    auto *navigator = new NavigationDrawWidget(page);
    navigator->setGeometry(12, 12, 101, 81);
    QObject::connect(view, &LGraphicsView::signalMouseZoomEvent, navigator, [view, navigator] {
        Navigation record;
        view->getNavigation(record);
        navigator->setNavigation(record);
    });
    initializePseudoColorTable();
    SampleRenderer renderer;
    SampleView optics;
    optics.stageSteps = renderer.trueFocusSteps(optics.objective);
    cv::Mat frame;
    renderer.render(optics, frame);
    view->m_bHighByte = false; // plain 12-bit values, scaled
    view->setImageData(7, frame.data, 16, 1, true);
    addAnnotations(view->diagramScene());
    if (barCorner >= 0) {
        // The 10X objective's 100 micrometre bar, and the time-lapse page's annotation text.
        TSScaleBar bar;
        bar.show = true;
        bar.corner = barCorner;
        bar.lengthUm = 100;
        bar.lengthPixels = 180.44f;
        bar.color = Qt::yellow;
        bar.lineWidth = 4;
        view->setScaleBar(bar);
        view->setAnnotationFont(20, Qt::green);
        view->setAnnotationText("00:30:00");
    }
    page->show();
    QApplication::processEvents();
    // Two wheel steps up about the annotations.
    const QPoint at(640, 500);
    QMouseEvent move(QEvent::MouseMove, at, Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(view->viewport(), &move);
    for (int step = 0; step < (barCorner < 0 ? 2 : 0); step++) { // the bar's shots show the whole frame
        QWheelEvent wheel(at, view->viewport()->mapToGlobal(at), QPoint(), QPoint(0, 120), Qt::NoButton, Qt::NoModifier,
                          Qt::NoScrollPhase, false);
        QApplication::sendEvent(view->viewport(), &wheel);
    }
    navigator->raise();
    return page;
}

// The multicolour view with one of its menus open once it is on the screen: its own menu at a
// point of the image, or the scale bar's.
QWidget *viewWithMenu(bool barMenu)
{
    QWidget *page = annotatedView(barMenu ? 3 : 1, true);
    auto *view = page->findChild<ImageGraphicsView *>();
    QTimer::singleShot(100, view, [view, barMenu] {
        QWidget *port = view->viewport();
        if (barMenu) {
            QPointF start;
            view->getScaleBarPoint(start);
            view->scaleBarMenu()->popup(port->mapToGlobal(view->mapFromScene(start + QPointF(90, -5))));
            return;
        }
        const QPoint at(300, 820);
        QContextMenuEvent event(QContextMenuEvent::Mouse, at, port->mapToGlobal(at));
        QApplication::sendEvent(port, &event);
    });
    return page;
}

} // namespace

QStringList viewShotNames()
{
    return {"LGraphicsView-annotated", "LGraphicsView-scalebar-0", "LGraphicsView-scalebar-1", "LGraphicsView-scalebar-2",
            "LGraphicsView-scalebar-3", "ScaleBarDlg", "ItemSettingDlg-line", "ItemSettingDlg-text", "ImageGraphicsView-menu", "ImageGraphicsView-scalebar-menu"};
}

QWidget *viewShot(const QString &name)
{
    if (name == "LGraphicsView-annotated")
        return annotatedView();
    if (name.startsWith("LGraphicsView-scalebar-"))
        return annotatedView(name.right(1).toInt());
    if (name == "ScaleBarDlg")
        return new ScaleBarDlg;
    if (name.startsWith("ImageGraphicsView-"))
        return viewWithMenu(name.contains("scalebar"));
    if (name == "ItemSettingDlg-line")
        return new ItemSettingDlg({DiagramLineItem::Type, QColor(Qt::yellow), 3});
    return new ItemSettingDlg({DiagramTextItem::Type, QColor(Qt::green), 24});
}
