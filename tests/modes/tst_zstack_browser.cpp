// The Z-stack slice browser beside a held stack, wired to the page as the main window wires them:
// the strip and its two modes, the current slice chosen from either side, the position text, the
// scale bar per slice objective, the merged tile, and every road through deleting a slice.
#include "DialogRunner.h"
#include "DiagramItemGroup.h"
#include "DialogScripts.h"
#include "Globals.h"
#include "LGraphicsView.h"
#include "MessageDlg.h"
#include "SliceFiles.h"
#include "TestRoot.h"
#include "Utilities.h"
#include "ZStackImageWidget.h"
#include "ZStackWidget.h"
#include "ui_ZStackImageWidget.h"
#include "ui_ZStackWidget.h"

#include <QGraphicsLineItem>
#include <QGraphicsPixmapItem>
#include <QListWidget>
#include <QScrollBar>
#include <QtTest>
#include <memory>

class TestZStackBrowser : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestRoot> m_root;
    std::unique_ptr<ZStackWidget> m_page;
    std::unique_ptr<ZStackImageWidget> m_browser;
    QString m_folder;
    QStringList m_paths;
    QStringList m_messages; // texts of the boxes answered
    int m_answer = 1;       // what every box answers
    QList<int> m_deleted;   // deleteThumbnail emissions

    Ui_ZStackImageWidget *ui() const { return m_browser->form(); }
    QListWidget *strip() const { return ui()->LISTWIDGET_IMAGE; }
    LGraphicsView *view() const { return ui()->m_LGraphicsView; }

    // n slices at 0, 5, 10 ... micrometres (none for the rows in noZ), held by the page and shown
    // by the browser, wired as in the main window.
    void hold(int n, const QList<int> &noZ = {}, const QStringList &objectives = {})
    {
        m_page = std::make_unique<ZStackWidget>();
        m_browser = std::make_unique<ZStackImageWidget>();
        m_browser->resize(1495, 1020);
        m_browser->show();
        ZStackWidget *p = m_page.get();
        ZStackImageWidget *b = m_browser.get();
        connect(p, &ZStackWidget::completed, b, &ZStackImageWidget::loadThumbnail);
        connect(p, &ZStackWidget::signalChangeCurrentThumbnailIndex, b, &ZStackImageWidget::changedCurrentIndex);
        connect(p, &ZStackWidget::getScaleBarPoint, b, &ZStackImageWidget::slotGetScaleBarPoint);
        connect(p, &ZStackWidget::enableAnnotation, b, &ZStackImageWidget::slotEnableAnnotation);
        connect(p, &ZStackWidget::getAnnotationTextInfo, b, &ZStackImageWidget::slotGetAnnotationTextInfo);
        connect(b, &ZStackImageWidget::changeCurrentIndex, p, &ZStackWidget::slotChangedCurrentThumbnailIndex);
        connect(b, &ZStackImageWidget::setScaleBarPoint, p, &ZStackWidget::slotSetScaleBarPoint);
        connect(b, &ZStackImageWidget::setAnnotationTextInfo, p, &ZStackWidget::slotSetAnnotationTextInfo);
        connect(b, &ZStackImageWidget::deleteThumbnail, p, &ZStackWidget::slotDeleteThumbnail);
        connect(b, &ZStackImageWidget::deleteThumbnail, this, [this](int row) { m_deleted << row; });

        m_paths.clear();
        for (int i = 0; i < n; ++i) {
            m_paths << m_folder + QString("/cells_%1.tif").arg(i, 4, 10, QChar('0'));
            const QString z = noZ.contains(i) ? QString() : QString::number(5.0 * i, 'f', 1) + QString::fromUtf8(" µm");
            QVERIFY(SliceFiles::write(m_paths.last(), z, 8, 1, i, objectives.value(i, SliceFiles::kObjective10X)));
        }
        for (const ThumbnailInfo &slice : SliceFiles::entries(m_paths))
            p->zStack().pushThumbnail(slice);
        p->setCurrentState(ZSTACK_COMPLETED);
        p->form()->SLIDER_Z_STACK->setRange(0, n - 1);
        b->loadThumbnail(p->zStack().thumbnails());
    }

    QString annotation() const
    {
        TAnnotationTextInfo info;
        view()->getAnnotationTextInfo(info);
        return info.text;
    }

    // The first pixel of the view's frame.
    QRgb shownPixel() const { return view()->pixmapItem()->pixmap().toImage().pixel(0, 0); }

private slots:
    void init()
    {
        m_root = std::make_unique<TestRoot>();
        m_root->makeDir("/root/Microscope/NIMBO");
        m_folder = m_root->makeDir("/media/VANTOR SSD/cells");
        g_CurrentMenu = MENU_ZSTACK;
        initializePseudoColorTable();
        m_messages.clear();
        m_deleted.clear();
        m_answer = 1;
        DialogRunner::clearScripts();
        DialogRunner::setStandingScript([this](QDialog *d) {
            m_messages << DialogScripts::messageText(d);
            return m_answer;
        });
    }

    void cleanup()
    {
        m_browser.reset();
        m_page.reset();
        DialogRunner::clearScripts();
        g_CurrentMenu = MENU_MULTICOLOR;
        m_root.reset();
    }

    // Thumbnails first, with slice 0 shown and selected; the list mode numbers the rows and the
    // scroll buttons step by a grid row or one item.
    void stripAndModes()
    {
        hold(3);
        QCOMPARE(strip()->count(), 3);
        QCOMPARE(strip()->item(2)->data(Qt::UserRole).toString(), m_paths[2]);
        QCOMPARE(strip()->item(0)->data(Qt::ForegroundRole).value<QColor>(), QColor(255, 255, 255, 255));
        QVERIFY(ui()->BUTTON_IMAGE_TYPE_THUMBNAIL->isChecked() && !ui()->BUTTON_IMAGE_TYPE_LIST->isChecked());
        QCOMPARE(strip()->viewMode(), QListView::IconMode);
        QCOMPARE(strip()->gridSize(), QSize(150, 120));
        QCOMPARE(strip()->currentRow(), 0);
        QVERIFY(view()->pixmapItem());

        ui()->BUTTON_IMAGE_TYPE_LIST->click();
        QCOMPARE(strip()->viewMode(), QListView::ListMode);
        QCOMPARE(strip()->gridSize(), QSize(75, 50));
        QCOMPARE(strip()->iconSize(), QSize(57, 44));
        QCOMPARE(strip()->item(1)->sizeHint(), QSize(57, 57));
        QCOMPARE(strip()->item(2)->text(), QString("3"));
        QVERIFY(ui()->BUTTON_IMAGE_TYPE_LIST->isChecked() && !ui()->BUTTON_IMAGE_TYPE_THUMBNAIL->isChecked());
        ui()->BUTTON_IMAGE_TYPE_THUMBNAIL->click();
        QCOMPARE(strip()->item(2)->text(), QString());
        QCOMPARE(strip()->item(1)->sizeHint(), QSize(132, 100));

        // A long strip of slices whose files are elsewhere: scrolling only.
        QStringList missing;
        for (int i = 0; i < 30; ++i)
            missing << m_folder + "/missing.tif";
        std::vector<ThumbnailInfo> many = SliceFiles::entries(missing);
        m_browser->loadThumbnail(many);
        QScrollBar *bar = strip()->verticalScrollBar();
        QTRY_VERIFY(bar->maximum() > 240);
        ui()->BUTTON_IMAGE_LIST_DOWN->click();
        ui()->BUTTON_IMAGE_LIST_DOWN->click();
        QCOMPARE(bar->value(), 240);
        ui()->BUTTON_IMAGE_LIST_UP->click();
        QCOMPARE(bar->value(), 120);
        ui()->BUTTON_IMAGE_TYPE_LIST->click();
        QTRY_VERIFY(bar->maximum() > 2);
        bar->setValue(0);
        ui()->BUTTON_IMAGE_LIST_DOWN->click();
        QCOMPARE(bar->value(), 1);
        ui()->BUTTON_IMAGE_LIST_UP->click();
        ui()->BUTTON_IMAGE_LIST_UP->click();
        QCOMPARE(bar->value(), 0);

        m_browser->clear();
        QCOMPARE(strip()->count(), 0);
        std::vector<ThumbnailInfo> none;
        m_browser->loadThumbnail(none); // row 0 of nothing is ignored
        QVERIFY(!view()->pixmapItem());
    }

    // A tap in the strip moves the page's slider and stamp; the slider moves the strip's
    // selection and the view; rows out of range change nothing shown.
    void currentSliceBothWays()
    {
        hold(4);
        Ui_ZStackWidget *page = m_page->form();
        const QRect rect = strip()->visualItemRect(strip()->item(2));
        QTest::mouseClick(strip()->viewport(), Qt::LeftButton, {}, rect.center());
        QCOMPARE(strip()->currentRow(), 2);
        QCOMPARE(page->SLIDER_Z_STACK->value(), 2);
        QCOMPARE(page->LABEL_POS_STAMP->text(), QString::fromUtf8("10.0 µm / 15.0 µm  3 / 4"));
        const QRgb third = shownPixel();

        page->SLIDER_Z_STACK->triggerAction(QAbstractSlider::SliderSingleStepAdd);
        QCOMPARE(strip()->currentRow(), 3);
        QCOMPARE(annotation(), QString::fromUtf8("15.0 µm / 15.0 µm  4 / 4"));
        QCOMPARE(page->LABEL_POS_STAMP->text(), QString::fromUtf8("15.0 µm / 15.0 µm  4 / 4"));
        QVERIFY(shownPixel() != third);

        const QRgb shown = shownPixel();
        for (int row : {-1, 4}) {
            m_browser->changedCurrentIndex(row);
            QCOMPARE(shownPixel(), shown);
        }
    }

    // "z / span  n / N" from the files; the short form for a slice without its position; the text
    // shows only while the page asks for it.
    void annotationTexts()
    {
        hold(3, {1});
        QCOMPARE(annotation(), QString::fromUtf8("0.0 µm / 10.0 µm  1 / 3"));
        m_page->form()->SLIDER_Z_STACK->triggerAction(QAbstractSlider::SliderSingleStepAdd);
        QCOMPARE(annotation(), QString("2 / 3"));
        QCOMPARE(m_page->form()->LABEL_POS_STAMP->text(), QString("2 / 3"));
        TAnnotationTextInfo info;
        view()->getAnnotationTextInfo(info);
        QVERIFY(!info.visible);
        m_browser->slotEnableAnnotation(true);
        view()->getAnnotationTextInfo(info);
        QVERIFY(info.visible);
        m_browser->loadImageByIndex(2, false);
        QCOMPARE(annotation(), QString("2 / 3")); // not rebuilt
        m_browser->changedCurrentIndex(2);
        QCOMPARE(annotation(), QString::fromUtf8("10.0 µm / 10.0 µm  3 / 3"));

        // The page's copy of the text for saving, answered at once.
        emit m_page->getAnnotationTextInfo();
        QStringList list;
        ZStackWidget::makeAnnotationList(m_page->zStack().thumbnails(), list);
        QCOMPARE(list, QStringList({QString::fromUtf8("0.0 µm / 10.0 µm  1 / 3"), "2 / 3",
                                    QString::fromUtf8("10.0 µm / 10.0 µm  3 / 3")}));
    }

    // The bar is redrawn with each slice's own objective: a 40X slice gets a bar four times as
    // long as a 10X one; a slice without an objective gives no pixel size.
    void scaleBarPerObjective()
    {
        hold(3, {}, {SliceFiles::kObjective10X, "Objective: Olympus 40X NA 0.65 UPlanFL", QString()});
        TSScaleBar bar;
        bar.show = true;
        bar.lengthUm = 100;
        bar.lengthPixels = 1; // what the model computed for the objective in the turret now
        m_browser->setScaleBar(bar);
        const float pixel10 = view()->objectivePixelSize();
        QVERIFY(pixel10 > 0);
        const double length10 = view()->scaleBarLine(0)->line().length();
        QVERIFY(qAbs(length10 - 100 / pixel10) < 1.0);
        m_browser->changedCurrentIndex(1);
        QVERIFY(qAbs(view()->objectivePixelSize() * 4 - pixel10) < 1e-4);
        QVERIFY(qAbs(view()->scaleBarLine(0)->line().length() - 4 * length10) < 2.0);
        m_browser->changedCurrentIndex(2);
        QCOMPARE(view()->objectivePixelSize(), 0.0f);

        // A new camera pixel size counts from the next settings read, not from every slice.
        m_browser->changedCurrentIndex(0);
        m_root->writeFile("/root/Microscope/NIMBO/NIMBO.ini", "[ScaleBar]\nCMOSPixelSize=7.26\n");
        m_browser->changedCurrentIndex(0);
        QCOMPARE(view()->objectivePixelSize(), pixel10);
        m_browser->readSetting();
        m_browser->changedCurrentIndex(0);
        QVERIFY(qAbs(view()->objectivePixelSize() - 2 * pixel10) < 1e-4);

        // Off the Z-stack screen the record is only kept.
        m_browser->changedCurrentIndex(0);
        g_CurrentMenu = MENU_TIMELAPSE;
        bar.show = false;
        m_browser->setScaleBar(bar);
        QVERIFY(view()->scaleBarGroup()->isVisible());
    }

    // The merged tile: shown above the strip, which moves down by the box and 20 pixels; shown
    // grey while slices follow the pseudo colour; hidden again, the strip back in place.
    void mergedTile()
    {
        hold(2);
        const QString merged = m_folder + "/cells_merged.tif";
        QVERIFY(SliceFiles::write(merged, QString(), 8, 1, 7));
        m_browser->setPseudoColor(true, 2, 1);
        m_browser->changedCurrentIndex(1);
        const uchar value = uchar(SliceFiles::frame(8, 1, 1).at(0));
        QCOMPARE(shownPixel(), g_PseudoColorTable[1][value]);

        const QRect up = ui()->BUTTON_IMAGE_LIST_UP->geometry(), list = strip()->geometry();
        ThumbnailInfo tile = SliceFiles::entries({merged}).front();
        m_browser->slotEnableAnnotation(true);
        m_browser->loadFullThumbnail(true, tile);
        const int shift = ui()->LABEL_IMAGE_BOX->height() + 20;
        QCOMPARE(ui()->BUTTON_IMAGE_LIST_UP->geometry(), up.translated(0, shift));
        QCOMPARE(strip()->geometry(), list.adjusted(0, shift, 0, 0));
        QVERIFY(ui()->BUTTON_IMAGE->isVisible() && ui()->LABEL_IMAGE->isVisible());
        QCOMPARE(ui()->BUTTON_IMAGE->iconSize(), QSize(132, 100));
        QVERIFY(m_browser->fullFocusShown());
        QVERIFY(!ui()->BUTTON_DELETE_IMAGE->isEnabled());
        const uchar mergedValue = uchar(SliceFiles::frame(8, 1, 7).at(0));
        QCOMPARE(shownPixel(), g_PseudoColorTable[7][mergedValue]);
        TAnnotationTextInfo info;
        view()->getAnnotationTextInfo(info);
        QVERIFY(!info.visible);
        m_browser->slotEnableAnnotation(true); // waits for the next slice
        view()->getAnnotationTextInfo(info);
        QVERIFY(!info.visible);

        QTest::mouseClick(strip()->viewport(), Qt::LeftButton, {}, strip()->visualItemRect(strip()->item(0)).center());
        QVERIFY(!m_browser->fullFocusShown());
        QVERIFY(ui()->BUTTON_DELETE_IMAGE->isEnabled());
        view()->getAnnotationTextInfo(info);
        QVERIFY(info.visible);
        ui()->BUTTON_IMAGE->click();
        QVERIFY(m_browser->fullFocusShown());

        m_browser->loadFullThumbnail(false, tile);
        QVERIFY(!ui()->BUTTON_IMAGE->isVisible());
        QCOMPARE(ui()->BUTTON_IMAGE_LIST_UP->geometry(), up);
        QCOMPARE(strip()->geometry(), list);
    }

    // Every road through DELETE: the row shown next, the file, the page's stack and the boxes.
    void deleteRoads_data()
    {
        QTest::addColumn<int>("slices");
        QTest::addColumn<int>("row");      // selected row; -1 none
        QTest::addColumn<int>("answer");   // of the confirmation
        QTest::addColumn<bool>("stuck");   // the file cannot be removed
        QTest::addColumn<int>("shown");    // current row afterwards
        QTest::addColumn<int>("remaining"); // slices afterwards
        QTest::addColumn<QString>("message");
        const QString confirm = "Are you sure you want to delete this data?";
        QTest::newRow("last row") << 3 << 2 << 1 << false << 1 << 2 << confirm;
        QTest::newRow("first row") << 3 << 0 << 1 << false << 0 << 2 << confirm;
        QTest::newRow("cancelled") << 3 << 1 << 0 << false << 1 << 3 << confirm;
        QTest::newRow("one slice") << 1 << 0 << 1 << false << 0 << 1 << "The last image can not be deleted.";
        QTest::newRow("nothing selected") << 2 << -1 << 1 << false << -1 << 2 << "There is no selected image.";
        QTest::newRow("removal fails") << 3 << 1 << 1 << true << 1 << 3 << "The file could not be deleted.";
    }
    void deleteRoads()
    {
        QFETCH(int, slices);
        QFETCH(int, row);
        QFETCH(int, answer);
        QFETCH(bool, stuck);
        QFETCH(int, remaining);
        QFETCH(QString, message);
        hold(slices);
        if (stuck) { // a folder in the slice's place: it exists and will not go
            QVERIFY(QFile::remove(m_paths[row]));
            QVERIFY(QDir().mkpath(m_paths[row] + "/inside"));
        }
        const QString next = row + 1 < slices ? m_paths.value(row + 1) : QString();
        strip()->setCurrentRow(row, QItemSelectionModel::ClearAndSelect);
        m_answer = answer;
        ui()->BUTTON_DELETE_IMAGE->click();

        QVERIFY2(!m_messages.isEmpty() && m_messages.last().contains(message), qPrintable(m_messages.join('|')));
        QTEST(strip()->currentRow(), "shown");
        QCOMPARE(strip()->count(), remaining);
        QCOMPARE(int(m_page->zStack().thumbnails().size()), remaining);
        const bool gone = remaining < slices;
        QCOMPARE(m_deleted, gone ? QList<int>{row} : QList<int>{});
        if (row >= 0)
            QCOMPARE(QFileInfo::exists(m_paths[row]), !gone);
        if (gone && !next.isEmpty())
            QCOMPARE(strip()->item(row)->data(Qt::UserRole).toString(), next); // the next slice moved up
        if (gone)
            QCOMPARE(m_page->form()->SLIDER_Z_STACK->maximum(), remaining - 1);
    }

    // Font size and colour of the text from [Setting_MultiColor]; a colour outside the table reads
    // as the default (green).
    void settings()
    {
        m_root->writeFile("/root/Microscope/NIMBO/NIMBO.ini", "[Setting_MultiColor]\nFontThickness=20\nFontColor=12\n");
        hold(1);
        m_browser->readSetting();
        m_browser->changedCurrentIndex(0);
        TAnnotationTextInfo info;
        view()->getAnnotationTextInfo(info);
        QCOMPARE(info.pointSize, 20);
        QCOMPARE(info.color, g_ColorTable[1]);
    }
};

QTEST_MAIN(TestZStackBrowser)
#include "tst_zstack_browser.moc"
