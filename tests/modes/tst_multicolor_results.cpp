// The Multicolor result table and its exports: rows from the view's records (played by the
// test) in every unit, with and without an objective, re-measured and deleted (also through the
// table's menu); both CSV exports read back with Python's csv and compared with the table; the
// graph and the table's selection.
#include "Globals.h"
#include "HangBound.h"
#include "MessageDlg.h"
#include "MultiColorFixture.h"
#include "MultiColorModel.h"
#include "ui_MultiColorWidget.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QMenu>
#include <QProcess>
#include <QtTest>

Q_DECLARE_METATYPE(TMeasurementTool)

namespace {
// Names that need quoting in a CSV header (as read: "DA, P" and one with a line break).
const QByteArray kConfig = "[Filter]\n0=Trans\n1=DA,PI\n2=GFP\n3=R\"FP\n";

TSMeasurementItem record(uint key, TMeasurementTool tool, float length, float area, float angle = 0, double min = 0,
                         double max = 0, float mean = 0, float std = 0)
{
    TSMeasurementItem r;
    r.key = key;
    r.tool = tool;
    r.length = length;
    r.area = area;
    r.angle = angle;
    r.minIntensity = min;
    r.maxIntensity = max;
    r.meanIntensity = mean;
    r.stdIntensity = std;
    return r;
}

// Rows of a CSV file as Python's csv module reads them.
QList<QStringList> pythonRows(const QString &path)
{
    QProcess python;
    python.start("/usr/bin/python3", {"-c", "import csv,json,sys\n"
                                            "print(json.dumps(list(csv.reader(open(sys.argv[1],newline='',encoding='utf-8')))))",
                                      path});
    python.waitForFinished(kHangBoundMs);
    QList<QStringList> rows;
    for (const QJsonValue &row : QJsonDocument::fromJson(python.readAllStandardOutput()).array()) {
        QStringList cells;
        for (const QJsonValue &c : row.toArray())
            cells << c.toString();
        rows << cells;
    }
    return rows;
}

// A table cell and its CSV field say the same: "-" is 0, "N/A" stays, units as the file spells
// them, minimum and maximum whole numbers, everything else to one decimal.
bool sameValue(const QString &shown, const QString &field, int column)
{
    if (shown == "N/A" || field == "N/A")
        return shown == field;
    QString number = shown == "-" ? "0" : shown.section(' ', 0, 0);
    QString unit = shown == "-" ? QString() : shown.section(' ', 1);
    unit.replace(QString::fromUtf8("\u00b5"), "u");
    if (unit == "deg")
        unit.clear();
    const QString fieldNumber = field.section(' ', 0, 0), fieldUnit = field.section(' ', 1);
    if (!unit.isEmpty() && fieldUnit != unit)
        return false;
    const bool whole = column >= 3 && (column - 3) % 4 < 2;
    if (whole)
        return fieldNumber.toInt() == int(number.toDouble());
    return std::abs(fieldNumber.toDouble() - number.toDouble()) <= 0.05 + 1e-6;
}
} // namespace

class TestMultiColorResults : public QObject
{
    Q_OBJECT

    std::unique_ptr<MultiColorFixture> m_fx;
    Ui_MultiColorWidget *ui() const { return m_fx->ui(); }
    MultiColorWidget &page() const { return m_fx->page(); }
    QTableWidget *table() const { return ui()->TABLEWIDGET_MEASUREMENT_RESULT; }
    QStringList rowCells(int row) const
    {
        QStringList cells;
        for (int c = 0; c < table()->columnCount(); ++c)
            cells << table()->item(row, c)->text();
        return cells;
    }

    // The view's delivery of a drawn item: the item on every channel, then the result.
    void draw(TSMeasurementItem item, std::map<int, TSMeasurementItem> channels = {}, bool inserted = true)
    {
        for (auto &c : channels)
            page().setOverlayMeasurementResult(c.second, c.first);
        page().setMeasurementResult(item, inserted);
    }

    // Writes the result export through the save dialog onto the USB drive; Python's rows.
    QList<QStringList> exportRows(QPushButton *button, const QString &name)
    {
        m_fx->saveAs(name);
        button->click();
        m_fx->onDialog = nullptr;
        return pythonRows(m_fx->usb() + '/' + name + ".csv");
    }

    void compareWithTable(const QList<QStringList> &rows)
    {
        QCOMPARE(rows.size(), table()->rowCount() + 1);
        for (int r = 0; r < table()->rowCount(); ++r) {
            const QStringList shown = rowCells(r);
            QCOMPARE(rows[r + 1].size(), 19);
            for (int c = 0; c < 19; ++c)
                QVERIFY2(c == 0 ? rows[r + 1][0] == shown[0] : sameValue(shown[c], rows[r + 1][c], c),
                         qPrintable(QString("row %1 column %2: %3 / %4").arg(r).arg(c).arg(shown[c], rows[r + 1][c])));
        }
    }

    // Opens the table's context menu on a row's first cell and, once the menu shows, picks the
    // entry named choice (Escape when there is none); returns the entries the menu offered,
    // none when no menu showed.
    QStringList contextMenu(int row, const QString &choice)
    {
        QStringList offered;
        QTimer poll;
        connect(&poll, &QTimer::timeout, [&] {
            auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
            if (!menu)
                return;
            poll.stop();
            QAction *pick = nullptr;
            for (QAction *action : menu->actions()) {
                offered << action->text();
                if (action->text() == choice)
                    pick = action;
            }
            if (pick)
                QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(pick).center());
            else
                QTest::keyClick(menu, Qt::Key_Escape);
        });
        poll.start(10);
        const QPoint at = table()->visualItemRect(table()->item(row, 0)).center();
        QContextMenuEvent event(QContextMenuEvent::Mouse, at, table()->viewport()->mapToGlobal(at));
        QApplication::sendEvent(table()->viewport(), &event);
        return offered;
    }

private slots:
    void initTestCase() { qRegisterMetaType<TMeasurementTool>("TMeasurementTool"); }
    void init()
    {
        m_fx = std::make_unique<MultiColorFixture>(kConfig);
        m_fx->capture(0, 8);
        m_fx->capture(2, 8);
        page().slotCurrentPixelSize(0.5f);
    }
    void cleanup() { m_fx.reset(); }

    // Rows of every kind in the overlay, a unit change, a re-measure and a deletion: the export
    // holds the table's cells, under the channel names (quoted where they need it).
    void exportFollowsTheTable()
    {
        ui()->BUTTON_OVERLAY_ON->click();
        const auto stats = [](double base) { return record(0, TOOL_NONE, 0, 0, 0, base, base + 100, float(base + 50.25), 3.5f); };
        draw(record(11, TOOL_RECTANGLE, 40, 400), {{0, stats(1)}, {2, stats(2)}, {1, stats(9)}});
        draw(record(12, TOOL_LINE, 30, 0), {{0, stats(3)}, {2, stats(4)}});
        draw(record(13, TOOL_ANGLE, 0, 0, 47.5f));
        ui()->COMB_LENGTH_UNIT->setCurrentIndex(1);
        ui()->COMB_AREA_UNIT->setCurrentIndex(2);
        draw(record(14, TOOL_SEGMENT_LINE, 123, 0));
        draw(record(15, TOOL_POLYGON, 60, 250), {{0, stats(5)}, {2, stats(6)}});
        draw(record(16, TOOL_TEXT, 0, 0)); // no row
        QCOMPARE(table()->rowCount(), 5);
        QCOMPARE(rowCells(0).mid(0, 7), QStringList({"Rectangle", QString::fromUtf8("20.0 \u00b5m"),
                                                     QString::fromUtf8("100.0 \u00b5m^2"), "1.0", "101.0", "51.2", "3.5"}));
        QCOMPARE(rowCells(0).mid(7, 4), QStringList({"-", "-", "-", "-"})); // CH2 (filter 3) holds nothing
        QCOMPARE(rowCells(2).mid(0, 4), QStringList({"Angle", "-", "47.5 deg", "-"}));
        QCOMPARE(rowCells(3).mid(0, 3), QStringList({"Segment Line", "0.061500 mm", "-"}));
        QCOMPARE(rowCells(4)[2], QString("250.0 pixel^2"));

        std::vector<TSMeasurementItem> again(4, stats(200));
        page().slotChangeMeasurementResultTable(11, again);
        QCOMPARE(rowCells(0).mid(0, 4), QStringList({"Rectangle", QString::fromUtf8("20.0 \u00b5m"),
                                                     QString::fromUtf8("100.0 \u00b5m^2"), "200.0"}));
        page().slotDeletedItem(12);
        page().slotDeletedItem(99); // no such row
        QCOMPARE(table()->rowCount(), 4);

        const QList<QStringList> rows = exportRows(ui()->BUTTON_CSV_EXPORT, "results");
        QVERIFY(!rows.isEmpty());
        QCOMPARE(rows[0].mid(0, 8), QStringList({"Tool", "Length", "Area/Angle", "Min(Trans)", "Max(Trans)", "Mean(Trans)",
                                                 "Std(Trans)", QString("Min(%1)").arg(ui()->LABEL_CH2->text())}));
        QCOMPARE(rows[0][15], QString("Min(%1)").arg(ui()->LABEL_CH4->text()));
        compareWithTable(rows);
        // The model's own table is left as it was.
        QCOMPARE(page().model()->csvReaderWriter().row(0), CSVReaderWriter::defaultHeader);
    }

    // Without an objective micrometres and millimetres are unknown; pixels are not.
    void noObjectiveGivesNA()
    {
        page().slotCurrentPixelSize(0.0f);
        page().setDisplayImageState(2, 2);
        draw(record(21, TOOL_ELLIPSE, 40, 120), {{2, record(0, TOOL_NONE, 0, 0, 0, 5, 9, 7, 1)}});
        QCOMPARE(ui()->LABEL_LENGTH->text(), QString("N/A"));
        QCOMPARE(ui()->LABEL_AREA->text(), QString("N/A"));
        ui()->COMB_LENGTH_UNIT->setCurrentIndex(1);
        QCOMPARE(ui()->LABEL_LENGTH->text(), QString("N/A"));
        ui()->COMB_AREA_UNIT->setCurrentIndex(2);
        QCOMPARE(ui()->LABEL_AREA->text(), QString("120.0"));
        draw(record(22, TOOL_FREE_HAND, 33, 0));
        QCOMPARE(rowCells(0).mid(0, 3), QStringList({"Ellipse", "N/A", "N/A"}));
        QCOMPARE(rowCells(1)[1], QString("N/A"));
        // Channel view: statistics for the channel shown only (CH3).
        QCOMPARE(rowCells(0).mid(3, 12), QStringList({"-", "-", "-", "-", "-", "-", "-", "-", "5.0", "9.0", "7.0", "1.0"}));
        const QList<QStringList> rows = exportRows(ui()->BUTTON_CSV_EXPORT, "unknown");
        QCOMPARE(rows.value(1).mid(0, 3), QStringList({"Ellipse", "N/A", "N/A"}));
        compareWithTable(rows);
    }

    void graphExport_data()
    {
        QTest::addColumn<bool>("profile");
        QTest::newRow("histogram") << false;
        QTest::newRow("line profile") << true;
    }
    void graphExport()
    {
        QFETCH(bool, profile);
        ui()->BUTTON_OVERLAY_ON->click();
        TSMeasurementItem ch1 = record(0, TOOL_NONE, 0, 0), ch3 = ch1, item = record(31, profile ? TOOL_LINE : TOOL_POLYGON, 9, 9);
        ch1.histogram.assign(256, 0);
        ch3.histogram.assign(256, 0);
        ch1.histogram[10] = 40;
        ch3.histogram[200] = 70;
        ch1.histogramMaxCount = 40;
        ch3.histogramMaxCount = 70;
        ch1.profile = {1, 2, 3};
        ch3.profile = {7, 8, 9, 10, 11};
        item.profile = ch3.profile;
        draw(item, {{0, ch1}, {2, ch3}});
        QVERIFY(ui()->BUTTON_HISTOGRAM_EXPORT->isEnabled());
        // The graph shows both channels: CH3's green among the pixels.
        const QImage graph = ui()->LABEL_HISTOGRAM->pixmap(Qt::ReturnByValue).toImage();
        int coloured = 0;
        for (int y = 0; y < graph.height(); ++y)
            for (int x = 0; x < graph.width(); ++x)
                coloured += graph.pixel(x, y) != qRgb(0, 0, 0);
        QVERIFY(coloured > 0);

        const QList<QStringList> rows = exportRows(ui()->BUTTON_HISTOGRAM_EXPORT, "graph");
        QCOMPARE(rows.value(0), QStringList({"Num", "Intensity(Trans)", QString("Intensity(%1)").arg(ui()->LABEL_CH2->text()),
                                             "Intensity(GFP)", QString("Intensity(%1)").arg(ui()->LABEL_CH4->text())}));
        QCOMPARE(rows.size(), 1 + (profile ? 5 : 256));
        if (profile) {
            QCOMPARE(rows[1], QStringList({"0", "1", "0", "7", "0"}));
            QCOMPARE(rows[4], QStringList({"3", "0", "0", "10", "0"}));
        } else {
            QCOMPARE(rows[11], QStringList({"10", "40", "0", "0", "0"}));
            QCOMPARE(rows[201], QStringList({"200", "0", "0", "70", "0"}));
        }
        // A tool without a graph switches it off: black, no export.
        draw(record(32, TOOL_ANGLE, 0, 0, 10));
        QVERIFY(!ui()->BUTTON_HISTOGRAM_EXPORT->isEnabled());
        const QImage off = ui()->LABEL_HISTOGRAM->pixmap(Qt::ReturnByValue).toImage();
        QCOMPARE(off.pixel(off.width() / 2, off.height() / 2), qRgb(0, 0, 0));
    }

    // The tiles show no graph: the view's whole-image answer to an adjustment there (the tile
    // view re-measures the channel) draws nothing, until a channel is shown full size again.
    void tilesShowNoGraph()
    {
        TSMeasurementItem whole = record(0, TOOL_WHOLE_IMAGE, 0, 0, 0, 3, 250, 100, 20);
        whole.histogram.assign(256, 0);
        whole.histogram[100] = 50;
        whole.histogramMaxCount = 50;
        const auto graphShown = [this] {
            return !ui()->LABEL_HISTOGRAM->pixmap(Qt::ReturnByValue).isNull() && ui()->BUTTON_HISTOGRAM_EXPORT->isEnabled()
                   && ui()->LABEL_HIST_MEAN->text() == "100.0";
        };
        page().setDisplayImageState(2, 2);
        draw(whole, {}, false);
        QVERIFY(graphShown());
        ui()->BUTTON_TILE_ON->click();
        QVERIFY(!graphShown());
        ui()->SLIDER_CH3_BRIGHTNESS->setValue(40);
        emit ui()->SLIDER_CH3_BRIGHTNESS->sliderReleased();
        draw(whole, {}, false);
        QVERIFY(ui()->LABEL_HISTOGRAM->pixmap(Qt::ReturnByValue).isNull());
        QVERIFY(!ui()->BUTTON_HISTOGRAM_EXPORT->isEnabled());
        QCOMPARE(ui()->LABEL_HIST_MEAN->text(), QString());
        QCOMPARE(ui()->LABEL_HIST_MAX->text(), QString());
        page().setDisplayImageState(2, 2);
        draw(whole, {}, false);
        QVERIFY(graphShown());
    }

    // The page's Clear takes the cleared image's graph and values with it; Cancel keeps them.
    void clearTakesTheGraph()
    {
        TSMeasurementItem whole = record(0, TOOL_WHOLE_IMAGE, 0, 0, 0, 3, 250, 100, 20);
        whole.histogram.assign(256, 0);
        whole.histogram[100] = 50;
        whole.histogramMaxCount = 50;
        page().setDisplayImageState(2, 2);
        draw(whole, {}, false);
        for (const int answer : {0, 1}) {
            m_fx->answer = answer;
            ui()->BUTTON_CLEAR->click();
            const QString shown = QString("%1 %2 %3").arg(ui()->LABEL_HIST_MEAN->text(), ui()->LABEL_HIST_MAX->text())
                                      .arg(ui()->BUTTON_HISTOGRAM_EXPORT->isEnabled());
            QCOMPARE(shown, QString(answer ? "  0" : "100.0 250 1"));
            QCOMPARE(ui()->LABEL_HISTOGRAM->pixmap(Qt::ReturnByValue).isNull(), bool(answer));
        }
    }

    // Table and view select each other; Clear asks first.
    void selectionAndClear()
    {
        page().setDisplayImageState(2, 2);
        QSignalSpy select(&page(), &MultiColorWidget::setCurrentSelectedItem);
        QSignalSpy calc(&page(), &MultiColorWidget::signalCalcMeasurementItem);
        QSignalSpy remove(&page(), &MultiColorWidget::deleteItem);
        draw(record(41, TOOL_RECTANGLE, 10, 10), {{2, record(0, TOOL_NONE, 0, 0, 0, 1, 2, 1.5f, 0.5f)}});
        draw(record(42, TOOL_LINE, 10, 0), {{2, record(0, TOOL_NONE, 0, 0, 0, 1, 2, 1.5f, 0.5f)}});
        page().slotChangeCurrentSelectedItem(42, true, true);
        QCOMPARE(table()->currentRow(), 1);
        QVERIFY(table()->item(1, 0)->isSelected());
        QTest::mouseClick(table()->viewport(), Qt::LeftButton, {}, table()->visualItemRect(table()->item(0, 0)).center());
        QCOMPARE(select.size(), 1);
        QCOMPARE(select.first().first().toUInt(), 41u);
        QCOMPARE(calc.size(), 1);
        QCOMPARE(calc.first().at(1).value<TMeasurementTool>(), TOOL_RECTANGLE);
        page().slotChangeCurrentSelectedItem(41, false, false);
        QVERIFY(table()->selectedItems().isEmpty());

        m_fx->answer = 0;
        ui()->BUTTON_TABLE_CLEAR->click();
        QCOMPARE(table()->rowCount(), 2);
        m_fx->answer = 1;
        ui()->BUTTON_TABLE_CLEAR->click();
        QCOMPARE(m_fx->messages, QStringList({MessageDlg::presetText(MSG_DELETE_DATA), MessageDlg::presetText(MSG_DELETE_DATA)}));
        QCOMPARE(table()->rowCount(), 0);
        QCOMPARE(remove.size(), 1);
        QCOMPARE(remove.first().first().toUInt(), 0u);
        QVERIFY(!ui()->BUTTON_CSV_EXPORT->isEnabled());
        QCOMPARE(page().model()->csvReaderWriter().rowCount(), 1);
    }

    // The table's menu offers Delete for the selected row only; Escape keeps the row; Delete
    // removes that row, its CSV row and its shape in the view, and nothing else.
    void deleteFromMenu()
    {
        page().setDisplayImageState(2, 2);
        page().show();
        QVERIFY(QTest::qWaitForWindowExposed(&page()));
        QSignalSpy remove(&page(), &MultiColorWidget::deleteItem);
        for (uint key : {51u, 52u, 53u})
            draw(record(key, TOOL_LINE, float(key), 0), {{2, record(0, TOOL_NONE, 0, 0, 0, 1, 2, 1.5f, 0.5f)}});
        CSVReaderWriter &csv = page().model()->csvReaderWriter();
        QCOMPARE(csv.rowCount(), 4);
        const QStringList lastRow = rowCells(2);

        QCOMPARE(contextMenu(1, "Delete"), QStringList()); // nothing selected: no menu
        page().slotChangeCurrentSelectedItem(52, true, true);
        QCOMPARE(contextMenu(1, QString()), QStringList({"Delete"}));
        QCOMPARE(table()->rowCount(), 3);
        QVERIFY(remove.isEmpty());

        QCOMPARE(contextMenu(1, "Delete"), QStringList({"Delete"}));
        QCOMPARE(table()->rowCount(), 2);
        QCOMPARE(remove.size(), 1);
        QCOMPARE(remove.first().first().toUInt(), 52u);
        QCOMPARE(table()->item(0, 0)->data(Qt::UserRole).toUInt(), 51u);
        QCOMPARE(table()->item(1, 0)->data(Qt::UserRole).toUInt(), 53u);
        QCOMPARE(rowCells(1), lastRow);
        QCOMPARE(csv.rowCount(), 3);
        QVERIFY(table()->selectedItems().isEmpty());
        compareWithTable(exportRows(ui()->BUTTON_CSV_EXPORT, "after-menu"));
    }

    void cursorReadout()
    {
        page().setDisplayImageState(2, 2);
        page().setCurrentImagePositionAndIntensity(QPoint(12, 34), 77, 2);
        page().setCurrentImagePositionAndIntensity(QPoint(12, 34), 55, 3); // nothing held there
        QCOMPARE(ui()->LABEL_X->text(), QString("12"));
        QCOMPARE(ui()->LABEL_Y->text(), QString("34"));
        QCOMPARE(ui()->LABEL_INTENSITY_VALUE_3->text(), QString("77"));
        QCOMPARE(ui()->LABEL_INTENSITY_VALUE_2->text(), QString());
    }
};

QTEST_MAIN(TestMultiColorResults)
#include "tst_multicolor_results.moc"
