#include "SingleShots.h"

#include "DialogRunner.h"
#include "KeyboardDlg.h"
#include "SingleImageWidget.h"
#include "SingleWidget.h"
#include "TMeasurementTool.h"
#include "ui_SingleWidget.h"

#include <QCoreApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <cmath>

namespace {

// A measured item as the image area reports it, with a histogram of a stained field.
TSMeasurementItem item(TMeasurementTool tool, float length, float area, float angle = 0)
{
    TSMeasurementItem m;
    m.tool = tool;
    m.length = length;
    m.area = area;
    m.angle = angle;
    m.minIntensity = 18;
    m.maxIntensity = 231;
    m.meanIntensity = 96.4f;
    m.stdIntensity = 31.7f;
    m.histogram.assign(256, 0);
    for (int v = 0; v < 256; ++v)
        m.histogram[size_t(v)] = int(900 * std::exp(-std::pow((v - 70) / 22.0, 2)) + 350 * std::exp(-std::pow((v - 170) / 30.0, 2)));
    m.histogramMaxCount = *std::max_element(m.histogram.begin(), m.histogram.end());
    return m;
}

SingleWidget *capturedPage(QWidget *parent, int tab)
{
    auto *page = new SingleWidget(parent);
    page->setObjectName("m_SingleWidget");
    page->setStyleSheet("#m_SingleWidget { background-image: url(:/UI/Single/single.png); }");
    page->slotCurrentPixelSize(0.554f);
    page->setCurrentState(SINGLE_CAPTURED);
    const TSMeasurementItem results[] = {item(TOOL_LINE, 212.4f, 0), item(TOOL_ANGLE, 0, 0, 63.5f),
                                         item(TOOL_POLYGON, 388.2f, 9120), item(TOOL_FREE_HAND, 145.9f, 0),
                                         item(TOOL_ELLIPSE, 301.6f, 7210), item(TOOL_RECTANGLE, 520, 16400)};
    page->form()->BUTTON_MEASURE_RECT->click();
    for (TSMeasurementItem r : results)
        page->setMeasurementResult(r);
    page->form()->TABWIDGET_HIST_MEASURERESULT->setCurrentIndex(tab);
    page->setCurrentImagePositionAndIntensity(QPoint(640, 512), 96);
    return page;
}

void mouse(SingleImageWidget *view, QEvent::Type type, QPoint at, Qt::MouseButton button = Qt::LeftButton)
{
    const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(button);
    QMouseEvent event(type, at, at, at, type == QEvent::MouseMove ? Qt::NoButton : button, held, Qt::NoModifier);
    QCoreApplication::sendEvent(view, &event);
}

void clickAll(SingleImageWidget *view, std::initializer_list<QPoint> points, Qt::MouseButton button = Qt::LeftButton)
{
    for (QPoint p : points) {
        mouse(view, QEvent::MouseButtonPress, p, button);
        mouse(view, QEvent::MouseButtonRelease, p, button);
    }
}

// One tool drawn on a fresh image area, the area around it cut out.
QPixmap toolTile(int tool, const QString &caption)
{
    SingleImageWidget view;
    view.resize(SingleImageWidget::kWidth, SingleImageWidget::kHeight);
    view.setAutoFillBackground(true);
    QPalette palette = view.palette();
    palette.setColor(QPalette::Window, QColor(24, 27, 31));
    view.setPalette(palette);
    view.setCurrentLineColor(QColor(0, 255, 0));
    view.setCurrentLineThickness(3);
    view.setCurrentFontColor(Qt::yellow);
    view.setCurrentFontThickness(28);
    view.setCurrentMeasurementTool(tool);
    const QPoint o(100, 100);
    switch (tool) {
    case TOOL_LINE:
        mouse(&view, QEvent::MouseButtonPress, o + QPoint(40, 220));
        mouse(&view, QEvent::MouseButtonRelease, o + QPoint(520, 40));
        break;
    case TOOL_ANGLE:
        clickAll(&view, {o + QPoint(500, 40), o + QPoint(80, 230), o + QPoint(520, 240)});
        break;
    case TOOL_POLYGON: // open, the pointer inside the close zone
        clickAll(&view, {o + QPoint(80, 60), o + QPoint(380, 30), o + QPoint(520, 180), o + QPoint(260, 250)});
        mouse(&view, QEvent::MouseMove, o + QPoint(82, 62));
        break;
    case TOOL_ELLIPSE:
    case TOOL_RECTANGLE:
        mouse(&view, QEvent::MouseButtonPress, o + QPoint(80, 40));
        mouse(&view, QEvent::MouseButtonRelease, o + QPoint(500, 250));
        break;
    case TOOL_SEGMENT_LINE:
        clickAll(&view, {o + QPoint(40, 230), o + QPoint(180, 60), o + QPoint(330, 200), o + QPoint(520, 50)});
        clickAll(&view, {o + QPoint(520, 50)}, Qt::RightButton);
        break;
    case TOOL_FREE_HAND:
        mouse(&view, QEvent::MouseButtonPress, o + QPoint(40, 150));
        for (int x = 40; x <= 540; x += 6) {
            const QPoint p = o + QPoint(x, 150 + int(90 * std::sin(x / 60.0)));
            QMouseEvent event(QEvent::MouseMove, p, p, p, Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
            QCoreApplication::sendEvent(&view, &event);
        }
        mouse(&view, QEvent::MouseButtonRelease, o + QPoint(540, 150));
        break;
    case TOOL_MULTI_COUNT:
        for (int i = 0; i < 9; ++i)
            clickAll(&view, {o + QPoint(60 + (i * 137) % 460, 40 + (i * 71) % 210)});
        break;
    case TOOL_TEXT:
        DialogRunner::pushScript([](QDialog *dialog) {
            static_cast<KeyboardDlg *>(dialog)->setText("HeLa, 48 h");
            return 1;
        });
        clickAll(&view, {o + QPoint(120, 170)});
        break;
    default:
        break;
    }
    QPixmap tile = view.grab(QRect(o, QSize(600, 300)));
    QPainter painter(&tile);
    painter.setPen(QColor(200, 204, 210));
    painter.setFont(QFont("DejaVu Sans", 12, QFont::Bold));
    painter.drawText(QPoint(12, 288), caption);
    return tile;
}

} // namespace

QStringList singleShotNames()
{
    return {"SingleWidget-captured", "SingleImageWidget-tools"};
}

QWidget *singleShot(const QString &name)
{
    auto *backdrop = new QWidget;
    backdrop->setStyleSheet("background: rgb(31,34,38);");
    if (name == "SingleWidget-captured") {
        backdrop->resize(800, 1040);
        capturedPage(backdrop, 0)->move(10, 10);
        capturedPage(backdrop, 1)->move(410, 10);
        return backdrop;
    }
    backdrop->resize(1920, 1080);
    const std::pair<int, const char *> tools[] = {{TOOL_LINE, "Line"},           {TOOL_ANGLE, "Angle"},
                                                  {TOOL_POLYGON, "Polygon (open)"}, {TOOL_ELLIPSE, "Ellipse"},
                                                  {TOOL_RECTANGLE, "Rectangle"},   {TOOL_SEGMENT_LINE, "Segment line"},
                                                  {TOOL_FREE_HAND, "Free hand"},   {TOOL_MULTI_COUNT, "Multi count"},
                                                  {TOOL_TEXT, "Text"}};
    for (int i = 0; i < 9; ++i) {
        auto *label = new QLabel(backdrop);
        label->setPixmap(toolTile(tools[i].first, tools[i].second));
        label->setGeometry(20 + (i % 3) * 630, 20 + (i / 3) * 350, 600, 300);
    }
    return backdrop;
}
