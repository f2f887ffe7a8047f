// The Single page wired to its image area as a capturing system would wire them: controls per
// state, the tool buttons' toggle rules, unit labels, each table row against its CSV row, the
// histogram and profile pictures, the save and CSV hand-overs through a scripted save dialog
// (files read back by Python), the scale-bar box and the settings.
#include "DialogRunner.h"
#include "HangBound.h"
#include "MessageDlg.h"
#include "SaverBench.h"
#include "SingleImageWidget.h"
#include "SingleModel.h"
#include "SingleWidget.h"
#include "ui_SingleWidget.h"

#include <QApplication>
#include <QtTest>
#include <cmath>
#include <memory>

Q_DECLARE_METATYPE(TSMeasurementItem)

namespace {

TSMeasurementItem result(TMeasurementTool tool, float length, float area)
{
    TSMeasurementItem item;
    item.tool = tool;
    item.length = length;
    item.area = area;
    item.angle = tool == TOOL_ANGLE ? 37.25f : 0.0f;
    item.minIntensity = 12;
    item.maxIntensity = 240;
    item.meanIntensity = 101.26f;
    item.stdIntensity = 20.04f;
    item.count = 4;
    return item;
}

// Columns of the picture holding any non-black pixel, and the runs they form.
struct Columns
{
    int drawn = 0;
    int runs = 0;
    int top = 1 << 30; // highest drawn row
};
Columns drawnColumns(const QPixmap &picture)
{
    const QImage image = picture.toImage().convertToFormat(QImage::Format_RGB32);
    Columns out;
    bool previous = false;
    for (int x = 0; x < image.width(); ++x) {
        bool any = false;
        for (int y = 0; y < image.height(); ++y)
            if ((image.pixel(x, y) & 0xFFFFFF) != 0) {
                any = true;
                out.top = std::min(out.top, y);
            }
        out.drawn += any;
        out.runs += any && !previous;
        previous = any;
    }
    return out;
}

// A figure cell ("12.345 µm", "N/A µm", "37.3") against a CSV field ("12.3 um", "N/A", "37.3"):
// empty when they carry the same value and unit, else why not.
QString differs(const QString &cell, const QString &field)
{
    const QStringList c = cell.split(' '), f = field.split(' ');
    if (f[0] == "N/A")
        return c[0] == "N/A" ? QString() : "not N/A";
    if (c.size() != f.size() || (c.size() == 2 && QString(c[1]).replace(QString::fromUtf8("µ"), "u") != f[1]))
        return "units differ";
    return std::fabs(c[0].toDouble() - f[0].toDouble()) <= 0.0501 ? QString() : "values differ";
}

// One table row against its CSV row.
QString rowDiffers(QTableWidget *table, int row, const QStringList &csv)
{
    if (csv.size() != 7)
        return QString("%1 CSV fields").arg(csv.size());
    if (table->item(row, 0)->text() != csv[0])
        return "tool";
    for (int c = 1; c < 7; ++c) {
        const QString cell = table->item(row, c)->text();
        const QString why = c <= 2 ? differs(cell, csv[c]) : (std::fabs(cell.toDouble() - csv[c].toDouble()) < (c <= 4 ? 1 : 0.0501) ? QString() : "differs");
        if (!why.isEmpty())
            return QString("column %1: \"%2\" against \"%3\": %4").arg(c).arg(cell, csv[c], why);
    }
    return QString();
}

// Python's csv module's reading of a file: rows of fields.
QList<QStringList> pythonCsvRows(const QString &path)
{
    QProcess python;
    python.start("/usr/bin/python3", {"-c", "import csv,sys\nfor r in csv.reader(open(sys.argv[1],newline='')): print('\\t'.join(r))", path});
    python.waitForFinished(kHangBoundMs);
    QList<QStringList> rows;
    for (const QString &line : QString::fromUtf8(python.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts))
        rows << line.split('\t');
    return rows;
}

} // namespace

class TestSinglePage : public QObject
{
    Q_OBJECT

    std::unique_ptr<Bench> m_bench;
    std::unique_ptr<SingleWidget> m_page;
    std::unique_ptr<SingleImageWidget> m_view;
    QStringList m_log; // page signals in order, with their first argument

    Ui_SingleWidget *ui() const { return m_page->form(); }
    QTableWidget *table() const { return ui()->TABLEWIDGET_MEASUREMENT_RESULT; }

    void makePage()
    {
        m_page = std::make_unique<SingleWidget>();
        m_view = std::make_unique<SingleImageWidget>();
        SingleWidget *page = m_page.get();
        SingleImageWidget *view = m_view.get();
        connect(page, &SingleWidget::measurementToolChanged, view, &SingleImageWidget::setCurrentMeasurementTool);
        connect(view, &SingleImageWidget::measurementResultChanged, page, &SingleWidget::setMeasurementResult);
        connect(page, &SingleWidget::signalMakeAnnotationImageData, view, &SingleImageWidget::slotMakeAnnotationImageData);
        connect(view, &SingleImageWidget::signalSendAnnotationImageData, page, &SingleWidget::slotSave);
        connect(view, &SingleImageWidget::currentImagePositionAndIntensity, page,
                &SingleWidget::setCurrentImagePositionAndIntensity);
        const auto log = [this](const char *name) { return [this, name](auto... a) { record(name, a...); }; };
        connect(page, &SingleWidget::signalEnableMainMenu, this, log("mainMenu"));
        connect(page, &SingleWidget::signalEnableControlWidgetUI, this, log("panel"));
        connect(page, &SingleWidget::liveMode, this, log("liveMode"));
        connect(page, &SingleWidget::lightOn, this, log("lightOn"));
        connect(page, &SingleWidget::capture, this, log("capture"));
        connect(page, &SingleWidget::changedState, this, log("changedState"));
        connect(page, &SingleWidget::measurementToolChanged, this, log("tool"));
        connect(page, &SingleWidget::saved, this, log("saved"));
        m_page->show();
        m_log.clear();
    }
    void record(const char *name) { m_log << name; }
    template <typename T>
    void record(const char *name, T value)
    {
        m_log << QString("%1 %2").arg(name, QVariant(value).toString());
    }

private slots:
    void init()
    {
        m_bench = std::make_unique<Bench>();
        makePage();
    }
    void cleanup()
    {
        m_page.reset();
        m_view.reset();
        m_bench.reset();
        QTest::qWait(50);
    }

    // The form as initialised: idle controls, but Live hidden; the state is 0.
    void initialised()
    {
        QCOMPARE(m_page->currentState(), SINGLE_IDLE);
        QVERIFY(ui()->BUTTON_LIVE->isHidden());
        QVERIFY(!ui()->BUTTON_SAVE_BEFORE->isHidden() && !ui()->BUTTON_SAVE_BEFORE->isEnabled());
        QVERIFY(ui()->BUTTON_SAVE_AFTER->isHidden() && ui()->CHKBOX_SCALEBAR->isHidden());
        QVERIFY(!ui()->BUTTON_CSV_EXPORT->isEnabled() && !ui()->BUTTON_MEASURE_LINE->isEnabled());
        QCOMPARE(ui()->TABWIDGET_HIST_MEASURERESULT->currentIndex(), 0);
        QCOMPARE(ui()->STACKWIDGET_MEASUREMENT_TOOLS->currentIndex(), 0);
        QCOMPARE(table()->columnCount(), 7);
        QCOMPARE(ui()->COMB_LENGTH_UNIT->itemText(0), QString::fromUtf8("µm"));
        QCOMPARE(ui()->COMB_AREA_UNIT->itemText(2), QString("pixel^2"));
        QVERIFY(m_page->model());
    }

    void controlsPerState_data()
    {
        QTest::addColumn<int>("state");
        QTest::addColumn<QString>("shown");   // L live, C capture, B save before, A save after, S scale bar
        QTest::addColumn<QString>("enabled");
        QTest::addColumn<bool>("tools");
        QTest::addColumn<QStringList>("emitted");
        QTest::newRow("idle") << 0 << "LB" << "L" << false << QStringList{"changedState"};
        QTest::newRow("live") << 1 << "CB" << "" << false << QStringList{"changedState"};
        QTest::newRow("captured") << 2 << "LBS" << "LBAS" << true << QStringList{"tool 12", "changedState"};
    }
    void controlsPerState()
    {
        QFETCH(int, state);
        QFETCH(QString, shown);
        QFETCH(QString, enabled);
        QFETCH(bool, tools);
        QFETCH(QStringList, emitted);
        for (int from : {2, 0, 1}) {
            m_page->setCurrentState(TSingleState(from));
            m_log.clear();
            m_page->setCurrentState(TSingleState(state));
            QCOMPARE(m_log, emitted);
            const std::pair<char, QWidget *> controls[] = {{'L', ui()->BUTTON_LIVE}, {'C', ui()->BUTTON_CAPTURE},
                                                           {'B', ui()->BUTTON_SAVE_BEFORE}, {'A', ui()->BUTTON_SAVE_AFTER},
                                                           {'S', ui()->CHKBOX_SCALEBAR}};
            for (auto [letter, w] : controls) {
                QVERIFY2(w->isHidden() != shown.contains(letter), qPrintable(w->objectName()));
                if (!w->isHidden())
                    QVERIFY2(w->isEnabled() == enabled.contains(letter), qPrintable(w->objectName()));
            }
            for (QWidget *w : {static_cast<QWidget *>(ui()->BUTTON_MEASURE_POLYGON), static_cast<QWidget *>(ui()->COMB_AREA_UNIT),
                               static_cast<QWidget *>(ui()->TABWIDGET_HIST_MEASURERESULT)})
                QCOMPARE(w->isEnabled(), tools);
            QCOMPARE(ui()->LABEL_HIST_MEAN->isEnabled(), tools);
            QVERIFY(!ui()->LABEL_LINE_MEAN->isEnabled());
            QCOMPARE(m_page->currentMeasurementTool(), tools ? 12 : 0);
        }
    }

    // Live and Capture: their signals in order, and no busy cursor left behind.
    void liveAndCapture()
    {
        m_page->setCurrentState(SINGLE_IDLE);
        m_log.clear();
        ui()->BUTTON_LIVE->click();
        QCOMPARE(m_log, QStringList({"mainMenu false", "liveMode true", "lightOn", "changedState"}));
        QCOMPARE(m_page->currentState(), SINGLE_LIVE);
        QVERIFY(!QApplication::overrideCursor());
        m_log.clear();
        ui()->BUTTON_CAPTURE->setEnabled(true); // as the live video's start would
        ui()->BUTTON_CAPTURE->click();
        QCOMPARE(m_log, QStringList({"mainMenu false", "panel false", "liveMode false", "capture"}));
        QCOMPARE(m_page->currentState(), SINGLE_CAPTURED);
        QVERIFY(!ui()->BUTTON_CAPTURE->isEnabled());
        QVERIFY(!QApplication::overrideCursor());
    }

    void toolButtons_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<int>("tool");
        QTest::addColumn<bool>("toggles");
        QTest::addColumn<bool>("histogram");
        QTest::addColumn<bool>("profile");
        QTest::newRow("line") << "BUTTON_MEASURE_LINE" << 1 << true << false << true;
        QTest::newRow("angle") << "BUTTON_MEASURE_ANGLE" << 2 << false << false << false;
        QTest::newRow("polygon") << "BUTTON_MEASURE_POLYGON" << 3 << false << true << false;
        QTest::newRow("ellipse") << "BUTTON_MEASURE_ELLIPSE" << 4 << false << true << false;
        QTest::newRow("rectangle") << "BUTTON_MEASURE_RECT" << 5 << false << true << false;
        QTest::newRow("segment") << "BUTTON_MEASURE_SEGMENT" << 6 << false << false << false;
        QTest::newRow("free hand") << "BUTTON_MEASURE_FREEHAND" << 7 << false << false << false;
        QTest::newRow("multi count") << "BUTTON_MEASURE_MULTIPOINT" << 8 << false << false << false;
        QTest::newRow("text") << "BUTTON_TEXT_ANNOTATION" << 9 << true << false << false;
    }
    // Pressed twice: line and text let go (tool 0), the others stay checked and announce once.
    void toolButtons()
    {
        QFETCH(QString, button);
        QFETCH(int, tool);
        QFETCH(bool, toggles);
        QFETCH(bool, histogram);
        QFETCH(bool, profile);
        m_page->setCurrentState(SINGLE_CAPTURED);
        ui()->BUTTON_MEASURE_RECT->click();
        ui()->LABEL_HIST_MEAN->setText("7.0");
        m_log.clear();
        auto *b = m_page->findChild<QPushButton *>(button);
        b->click();
        QVERIFY(b->isChecked());
        QCOMPARE(ui()->BUTTON_MEASURE_RECT->isChecked(), tool == 5);
        QCOMPARE(ui()->LABEL_HIST_MEAN->isEnabled(), histogram || tool == 5);
        QCOMPARE(ui()->LABEL_LINE_MEAN->isEnabled(), profile);
        QCOMPARE(m_view->currentMeasurementTool(), tool);
        b->click();
        QCOMPARE(b->isChecked(), !toggles);
        QStringList expected{QString("tool %1").arg(tool), "tool 0"};
        if (tool == 5)
            expected = QStringList{};
        else if (!toggles)
            expected.removeLast();
        QCOMPARE(m_log, expected);
        QCOMPARE(m_page->currentMeasurementTool(), toggles ? 0 : tool);
        QCOMPARE(ui()->LABEL_HIST_MEAN->text().isEmpty(), tool != 5);
    }

    void toolPages()
    {
        m_page->setCurrentState(SINGLE_CAPTURED);
        ui()->BUTTON_TOOL_LEFT->click();
        QCOMPARE(ui()->STACKWIDGET_MEASUREMENT_TOOLS->currentIndex(), 0);
        ui()->BUTTON_TOOL_RIGHT->click();
        ui()->BUTTON_TOOL_RIGHT->click();
        QCOMPARE(ui()->STACKWIDGET_MEASUREMENT_TOOLS->currentIndex(), 1);
        QVERIFY(ui()->BUTTON_MEASURE_MULTIPOINT->isVisible());
    }

    void unitLabels_data()
    {
        QTest::addColumn<float>("pixelSize");
        QTest::addColumn<float>("length");
        QTest::addColumn<QStringList>("lengths"); // per unit 0, 1, 2
        QTest::addColumn<QStringList>("areas");
        QTest::newRow("0.5 um per pixel") << 0.5f << 10.0f << QStringList{"5.000", "0.005000", "10.0"}
                                          << QStringList{"25.000", "0.000025", "100.0"};
        QTest::newRow("no objective") << -1.0f << 10.0f << QStringList{"N/A", "N/A", "10.0"}
                                      << QStringList{"N/A", "N/A", "100.0"};
        QTest::newRow("pixel size 0") << 0.0f << 10.0f << QStringList{"N/A", "N/A", "10.0"}
                                      << QStringList{"N/A", "N/A", "100.0"};
        QTest::newRow("negative length") << 0.5f << -1.0f << QStringList{"N/A", "N/A", "-1.0"}
                                         << QStringList{"25.000", "0.000025", "100.0"};
    }
    void unitLabels()
    {
        QFETCH(float, pixelSize);
        QFETCH(float, length);
        QFETCH(QStringList, lengths);
        QFETCH(QStringList, areas);
        m_page->slotCurrentPixelSize(pixelSize);
        m_page->setCurrentState(SINGLE_CAPTURED);
        ui()->BUTTON_MEASURE_POLYGON->click();
        TSMeasurementItem item = result(TOOL_POLYGON, length, 100);
        m_page->setMeasurementResult(item);
        for (int unit : {2, 1, 0}) {
            ui()->COMB_LENGTH_UNIT->setCurrentIndex(unit);
            ui()->COMB_AREA_UNIT->setCurrentIndex(unit);
            QCOMPARE(ui()->LABEL_LENGTH->text(), lengths[unit]);
            QCOMPARE(ui()->LABEL_AREA->text(), areas[unit]);
        }
        // Without a tool a unit change touches neither the unit nor the labels.
        ui()->BUTTON_MEASURE_LINE->click();
        ui()->BUTTON_MEASURE_LINE->click();
        ui()->COMB_LENGTH_UNIT->setCurrentIndex(2);
        QCOMPARE(ui()->LABEL_LENGTH->text(), QString());
        ui()->BUTTON_MEASURE_LINE->click();
        m_page->setMeasurementResult(item);
        QCOMPARE(ui()->LABEL_LENGTH->text(), lengths[0]);
    }

    // Every measuring tool adds one row, and the CSV row carries the same figures; count, text
    // and whole-image results add none (the count shows in its label).
    void tableRowsMatchCsv()
    {
        m_page->setCurrentState(SINGLE_CAPTURED);
        const std::pair<float, int> settings[] = {{0.5f, 0}, {0.5f, 1}, {0.5f, 2}, {-1.0f, 0}};
        int rows = 0;
        for (auto [pixelSize, unit] : settings) {
            m_page->slotCurrentPixelSize(pixelSize);
            ui()->BUTTON_MEASURE_RECT->click();
            ui()->COMB_LENGTH_UNIT->setCurrentIndex(unit);
            ui()->COMB_AREA_UNIT->setCurrentIndex(2 - unit);
            for (int tool = 1; tool <= 12; ++tool) {
                TSMeasurementItem item = result(TMeasurementTool(tool), 123.456f, 2345.0f);
                m_page->setMeasurementResult(item);
                rows += tool <= 7;
                QCOMPARE(table()->rowCount(), rows);
                if (tool == TOOL_MULTI_COUNT)
                    QCOMPARE(ui()->LABEL_MULTICOUNT->text(), QString("4"));
            }
        }
        const CSVReaderWriter &csv = m_page->model()->csvReaderWriter();
        QCOMPARE(csv.rowCount(), rows + 1);
        for (int r = 0; r < rows; ++r) {
            const QString why = rowDiffers(table(), r, QString::fromUtf8(csv.row(r + 1)).split(','));
            QVERIFY2(why.isEmpty(), qPrintable(QString("row %1 %2: %3").arg(r).arg(QString(csv.row(r + 1)), why)));
        }
        QCOMPARE(table()->item(1, 2)->text(), QString("37.2")); // the angle in the area column
        QCOMPARE(csv.row(rows - 6), QByteArray("Line,N/A,2345.0 pixel^2,12,240,101.3,20.0"));
        QVERIFY(ui()->BUTTON_CSV_EXPORT->isEnabled());
    }

    void clearTable()
    {
        m_page->setCurrentState(SINGLE_CAPTURED);
        for (int i = 0; i < 3; ++i) {
            TSMeasurementItem item = result(TOOL_LINE, 10.0f * i, 0);
            m_page->setMeasurementResult(item);
        }
        ui()->BUTTON_TABLE_CLEAR->click();
        QCOMPARE(table()->rowCount(), 0);
        QVERIFY(!ui()->BUTTON_CSV_EXPORT->isEnabled());
        QCOMPARE(m_page->model()->csvReaderWriter().rowCount(), 1);
        TSMeasurementItem item = result(TOOL_RECTANGLE, 40, 100);
        m_page->setMeasurementResult(item);
        QCOMPARE(table()->rowCount(), 1);
        QCOMPARE(m_page->model()->csvReaderWriter().rowCount(), 2);
    }

    void histogramBars_data()
    {
        QTest::addColumn<int>("bits");
        QTest::addColumn<QVector<int>>("filled"); // bins with counts
        QTest::newRow("8-bit") << 8 << QVector<int>{10, 128, 250};
        QTest::newRow("16-bit") << 16 << QVector<int>{100, 2000, 3000, 4000};
        QTest::newRow("no counts") << 8 << QVector<int>{};
    }
    // One bar per filled bin, the largest reaching the top; no count at all leaves it black.
    void histogramBars()
    {
        QFETCH(int, bits);
        QFETCH(QVector<int>, filled);
        m_page->slotChangeCameraMode(bits);
        QCOMPARE(ui()->LABEL_HIST_MAX_INTENSITY->text(), bits == 16 ? QString("4095") : QString("255"));
        QCOMPARE(ui()->LABEL_LINE_MAX_INTENSITY->text(), ui()->LABEL_HIST_MAX_INTENSITY->text());
        m_page->setCurrentState(SINGLE_CAPTURED);
        TSMeasurementItem item = result(TOOL_WHOLE_IMAGE, 0, 0);
        item.histogram.assign(bits == 16 ? 4096 : 256, 0);
        for (int i = 0; i < filled.size(); ++i)
            item.histogram[size_t(filled[i])] = 1000 * (i + 1);
        item.histogramMaxCount = 1000 * filled.size();
        m_page->setMeasurementResult(item);
        const Columns columns = drawnColumns(m_page->histogramPicture());
        QCOMPARE(columns.runs, filled.size());
        QVERIFY(columns.drawn <= 2 * filled.size());
        if (!filled.isEmpty())
            QVERIFY(columns.top <= 1);
        QCOMPARE(ui()->LABEL_HIST_MAX->text(), QString("240"));
        QCOMPARE(ui()->LABEL_HIST_MEAN->text(), QString("101.3"));
    }

    void lineProfile_data()
    {
        QTest::addColumn<int>("values");
        QTest::newRow("300 values") << 300;
        QTest::newRow("two values") << 2;
        QTest::newRow("one value") << 1;
        QTest::newRow("none") << 0;
    }
    // The profile spans the picture's width; fewer than two values leave it black. The line
    // result clears the histogram.
    void lineProfile()
    {
        QFETCH(int, values);
        m_page->setCurrentState(SINGLE_CAPTURED);
        ui()->BUTTON_MEASURE_LINE->click();
        TSMeasurementItem item = result(TOOL_LINE, values, 0);
        for (int i = 0; i < values; ++i)
            item.profile.push_back(i % 256);
        m_page->setMeasurementResult(item);
        const Columns columns = drawnColumns(m_page->lineProfilePicture());
        QCOMPARE(columns.drawn, values >= 2 ? m_page->lineProfilePicture().width() : 0);
        QCOMPARE(drawnColumns(m_page->histogramPicture()).drawn, 0);
        QCOMPARE(ui()->LABEL_LINE_LENGTH->text(), QString::number(values));
        TSMeasurementItem angle = result(TOOL_ANGLE, 0, 0);
        m_page->setMeasurementResult(angle);
        QCOMPARE(drawnColumns(m_page->lineProfilePicture()).drawn, 0);
        QCOMPARE(ui()->LABEL_LINE_LENGTH->text(), QString());
    }

    void cursorReadout()
    {
        m_page->setCurrentState(SINGLE_CAPTURED);
        QMouseEvent move(QEvent::MouseMove, QPointF(-4, 1500), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(m_view.get(), &move);
        QCOMPARE(ui()->LABEL_X->text() + ' ' + ui()->LABEL_Y->text() + ' ' + ui()->LABEL_INTENSITY->text(),
                 QString("0 999 0"));
    }

    void save_data()
    {
        QTest::addColumn<int>("bits");
        QTest::newRow("8-bit") << 8;
        QTest::newRow("16-bit") << 16;
    }
    // Save before annotation: the dialog gets the model's frame, the file holds it (read by
    // tifffile), and the buttons swap; a save after annotation never swaps them back.
    void save()
    {
        QFETCH(int, bits);
        Frame frame = Frame::make(bits, 1, 3);
        m_page->slotChangeCameraMode(bits);
        m_page->model()->setImageData(0, frame.data(), 7, bits);
        m_page->setCurrentState(SINGLE_CAPTURED);
        m_bench->choose("Cells");
        m_log.clear();
        ui()->BUTTON_SAVE_BEFORE->click();
        QCOMPARE(m_log, QStringList{"saved true"});
        QVERIFY(m_page->isSaved());
        QVERIFY(ui()->BUTTON_SAVE_BEFORE->isHidden() && !ui()->BUTTON_SAVE_AFTER->isHidden());
        const QString text = capturedImageMetaData().metaText(0);
        verifyFiles({{m_bench->user.usb + "/Cells.tif", &frame, text}}, m_bench->user.root.path());
        ui()->BUTTON_SAVE_AFTER->click();
        QVERIFY(QFileInfo::exists(m_bench->user.usb + "/Cells(1).tif"));
        QVERIFY(ui()->BUTTON_SAVE_BEFORE->isHidden() && !ui()->BUTTON_SAVE_AFTER->isHidden());
        QCOMPARE(m_log, QStringList{"saved true"});
    }

    void cancelledSave()
    {
        m_page->setCurrentState(SINGLE_CAPTURED);
        m_bench->user.act = [](SaveOptionsDlg *dialog) { DialogRunner::click(dialog, "BUTTON_CANCEL"); };
        ui()->BUTTON_SAVE_BEFORE->click();
        QVERIFY(!m_page->isSaved());
        QVERIFY(!ui()->BUTTON_SAVE_BEFORE->isHidden() && ui()->BUTTON_SAVE_AFTER->isHidden());
        QVERIFY(m_log.filter("saved").isEmpty());
        QCOMPARE(m_bench->files(m_bench->user.usb), QStringList());
    }

    void saveWithoutDataOpensNothing()
    {
        DialogRunner::clearLog();
        m_page->slotSave(true, nullptr);
        QCOMPARE(DialogRunner::log(), QStringList());
        QVERIFY(!m_page->isSaved());
    }

    // The export: seven columns for Python's csv, rows equal to the table's.
    void csvExport()
    {
        m_page->slotCurrentPixelSize(0.5f);
        m_page->setCurrentState(SINGLE_CAPTURED);
        for (TMeasurementTool tool : {TOOL_LINE, TOOL_ANGLE, TOOL_POLYGON, TOOL_FREE_HAND}) {
            TSMeasurementItem item = result(tool, 55.5f, 1200);
            m_page->setMeasurementResult(item);
        }
        m_bench->choose("Table");
        ui()->BUTTON_CSV_EXPORT->click();
        const QList<QStringList> rows = pythonCsvRows(m_bench->user.usb + "/Table.csv");
        QCOMPARE(rows.size(), 5);
        QCOMPARE(rows[0].size(), 19); // the writer's own header
        for (int r = 1; r < rows.size(); ++r) {
            const QString why = rowDiffers(table(), r - 1, rows[r]);
            QVERIFY2(why.isEmpty(), qPrintable(QString("row %1: %2").arg(r).arg(why)));
        }
    }

    void scaleBarWithoutObjective()
    {
        m_page->setCurrentState(SINGLE_CAPTURED);
        TSScaleBar bar;
        bar.noObjective = false;
        ui()->CHKBOX_SCALEBAR->setChecked(true);
        m_page->slotScaleBarCheckBoxState(bar);
        QVERIFY(ui()->CHKBOX_SCALEBAR->isChecked());
        QVERIFY(m_bench->user.messages.isEmpty());
        bar.noObjective = true;
        m_page->slotScaleBarCheckBoxState(bar);
        QVERIFY(!ui()->CHKBOX_SCALEBAR->isChecked());
        QCOMPARE(m_bench->user.messages, QStringList{MessageDlg::presetText(MSG_NO_OBJECTIVE_LENS)});
    }

    // Settings: thickness + 1, font size from the thickness, colour indexes outside the table read as
    // the defaults, any camera mode but 16 taken as 8 bits.
    void settings()
    {
        setConfig("Setting_Single", "LineThickness", "2");
        setConfig("Setting_Single", "LineColor", "9");
        setConfig("Setting_Single", "FontThickness", "3");
        setConfig("Setting_Single", "FontColor", "-2");
        setConfig("Camera", "Mode", "12");
        QList<QVariant> sent;
        connect(m_page.get(), &SingleWidget::currentLineThicknessChanged, this, [&](int v) { sent << v; });
        connect(m_page.get(), &SingleWidget::currentLineColorChanged, this, [&](QColor c) { sent << c; });
        connect(m_page.get(), &SingleWidget::currentFontThicknessChanged, this, [&](int v) { sent << v; });
        connect(m_page.get(), &SingleWidget::currentFontColorChanged, this, [&](QColor c) { sent << c; });
        m_page->slotChangeCameraMode(16);
        m_page->readSetting();
        // Colours that are none of the table's read as the defaults (5 and 3).
        QCOMPARE(sent, (QList<QVariant>{3, QColor(g_ColorTable[5]), 16, QColor(g_ColorTable[3])}));
        QCOMPARE(ui()->LABEL_HIST_MAX_INTENSITY->text(), QString("255"));
        setConfig("Camera", "Mode", "16");
        m_page->readSetting();
        QCOMPARE(ui()->LABEL_LINE_MAX_INTENSITY->text(), QString("4095"));
    }
};

QTEST_MAIN(TestSinglePage)
#include "tst_single_page.moc"
