#include "HangBound.h"
#include "HostileImages.h"
#include "ImReaderWriter.h"
#include "ImageAttributeDialog.h"
#include "ImageFileReader.h"
#include "ImageThumbnailReader.h"
#include "ImageViewerDlg.h"
#include "TestRoot.h"

#include <QApplication>
#include <QImageWriter>
#include <QLabel>
#include <QPushButton>
#include <QtTest>
#include <opencv2/imgcodecs.hpp>

namespace {

// A grey 16-bit TIFF whose brightest sample is 510 and whose first sample is 204.
bool writeTiff16(const QString &path, const QByteArray &description)
{
    ImReaderWriter image;
    auto *samples = static_cast<quint16 *>(image.reserve(64, 48, 16, 1, 1, 1, 1));
    if (!samples)
        return false;
    std::fill(samples, samples + 64 * 48, quint16(204));
    samples[64 * 48 - 1] = 510;
    return image.write(QFile::encodeName(path), description);
}

struct Folder
{
    TestRoot root;
    QString dir = root.makeDir("/media/USB1/images");
    QList<QFileInfo> files;

    Folder()
    {
        const QString first = dir + "/a.TIF";
        writeTiff16(first, "Serial Number = 7;Filter name = GFP;Objective Lens = 10x;CAMERA MODE = Mono");
        files << QFileInfo(first);
        root.writeFile("/media/USB1/images/b.tif", "not a tiff");
        files << QFileInfo(dir + "/b.tif");
        QImage photo(640, 480, QImage::Format_RGB32);
        photo.fill(Qt::red);
        QImageWriter(dir + "/c.png").write(photo);
        files << QFileInfo(dir + "/c.png");
    }
};

// The file last loaded is decoded beside the interface: its outcome once that has ended.
bool decoded(ImageViewerDlg &viewer)
{
    return QTest::qWaitFor([&] { return !viewer.isLoading(); }, kHangBoundMs);
}

void click(ImageViewerDlg &viewer, const char *name)
{
    viewer.findChild<QPushButton *>(name)->click();
}

} // namespace

class TestImageViewer : public QObject
{
    Q_OBJECT
private slots:
    // Stepping wraps both ways; every load says whether it drew; the panel follows the image.
    void stepsAndShows()
    {
        Folder folder;
        ImageViewerDlg viewer;
        viewer.show();
        viewer.setCurrentFileInfoList(folder.files);
        viewer.setCurrentIndex(folder.files[0]);
        viewer.load(folder.files[0].absoluteFilePath(), folder.files[0].fileName());
        QVERIFY(decoded(viewer));
        QVERIFY(viewer.isValidImage());
        const QImage shown = viewer.pixmap().toImage().convertToFormat(QImage::Format_Grayscale8);
        QCOMPARE(shown.size(), QSize(64, 48));
        QCOMPARE(qGray(shown.pixel(0, 0)), 102);   // 204 of a brightest 510
        QCOMPARE(qGray(shown.pixel(63, 47)), 255);
        // The name bar: a short name as it is, a long one elided in its middle to the bar's width.
        const QLabel *name = viewer.findChild<QLabel *>("LABEL_FILENAME");
        QCOMPARE(name->text(), folder.files[0].fileName());
        const QString longName = QString("cells_").repeated(40) + "end.tif";
        viewer.load(folder.files[0].absoluteFilePath(), longName);
        const QFontMetrics metrics(QFont("DejaVu Sans", 11));
        QVERIFY(name->text().startsWith("cells_") && name->text().endsWith("end.tif"));
        QVERIFY(name->text().contains(QChar(0x2026)));
        QVERIFY(metrics.horizontalAdvance(name->text()) <= 1100);

        click(viewer, "BUTTON_DETAIL");
        QVERIFY(viewer.attributeDialog()->isVisible());
        QCOMPARE(viewer.attributeDialog()->geometry(), QRect(1280 - 223, 56, 223, 197));
        QCOMPARE(viewer.attributeDialog()->text(), QString("Serial number: 7\nFilter cube: GFP\nObjective: 10x\nCAMERA MODE: Mono"));

        click(viewer, "BUTTON_SHOW_PREVIOUS_IMAGE"); // first to last
        QCOMPARE(viewer.currentIndex(), 2);
        QVERIFY(decoded(viewer));
        QVERIFY(viewer.isValidImage());
        QCOMPARE(viewer.attributeDialog()->text(), QString("Invalid image meta data."));
        click(viewer, "BUTTON_SHOW_PREVIOUS_IMAGE");
        QCOMPARE(viewer.currentIndex(), 1);
        QVERIFY(decoded(viewer));
        QVERIFY(!viewer.isValidImage());
        QImage painted(viewer.size(), QImage::Format_RGB32);
        viewer.render(&painted);
        click(viewer, "BUTTON_SHOW_NEXT_IMAGE");
        click(viewer, "BUTTON_SHOW_NEXT_IMAGE"); // last to first
        QCOMPARE(viewer.currentIndex(), 0);
        QVERIFY(decoded(viewer));
        QVERIFY(viewer.isValidImage());
        QVERIFY(viewer.attributeDialog()->isVisible());
    }

    // Files are decoded one at a time under the busy cursor: stepped past before their turn,
    // they are not shown; what is shown at the end is the file last stepped to.
    void steppingWhileDecoding_data()
    {
        QTest::addColumn<QString>("steps"); // n next, p previous, from the first file
        QTest::addColumn<int>("index");
        QTest::addColumn<QSize>("shown"); // invalid: the damaged-file text
        QTest::newRow("to the PNG") << "nn" << 2 << QSize(640, 480);
        QTest::newRow("to the damaged file") << "pp" << 1 << QSize();
        QTest::newRow("back to the TIFF") << "np" << 0 << QSize(64, 48);
    }
    void steppingWhileDecoding()
    {
        QFETCH(QString, steps);
        QFETCH(int, index);
        QFETCH(QSize, shown);
        Folder folder;
        ImageViewerDlg viewer;
        viewer.show();
        viewer.setCurrentFileInfoList(folder.files);
        viewer.load(folder.files[0].absoluteFilePath(), folder.files[0].fileName());
        for (const QChar step : steps)
            click(viewer, step == 'n' ? "BUTTON_SHOW_NEXT_IMAGE" : "BUTTON_SHOW_PREVIOUS_IMAGE");
        QVERIFY(viewer.isLoading());
        QVERIFY(QApplication::overrideCursor() && QApplication::overrideCursor()->shape() == Qt::BusyCursor);
        QVERIFY(decoded(viewer));
        QVERIFY(!QApplication::overrideCursor());
        QCOMPARE(viewer.currentIndex(), index);
        QCOMPARE(viewer.isValidImage(), shown.isValid());
        if (shown.isValid())
            QCOMPARE(viewer.pixmap().size(), shown);
    }

    // Only X leaves; Escape and reject do nothing; X hides the panel.
    void onlyXLeaves()
    {
        Folder folder;
        ImageViewerDlg viewer;
        viewer.setCurrentFileInfoList(folder.files.mid(0, 1));
        QVERIFY(!viewer.findChild<QPushButton *>("BUTTON_SHOW_NEXT_IMAGE")->isEnabled());
        QVERIFY(!viewer.findChild<QPushButton *>("BUTTON_SHOW_PREVIOUS_IMAGE")->isEnabled());
        viewer.show();
        click(viewer, "BUTTON_DETAIL");
        QTest::keyClick(&viewer, Qt::Key_Escape);
        viewer.reject();
        QVERIFY(viewer.isVisible());
        click(viewer, "BUTTON_EXIT");
        QVERIFY(!viewer.isVisible());
        QVERIFY(!viewer.attributeDialog()->isVisible());
    }

    // Hostile files in the viewer, its Detail panel and the thumbnails: a sound file of a kind not
    // shown says what it is, a damaged one is called damaged, a description is cut, none blocks.
    void hostileFiles_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("shown"); // empty: an image is shown
        QTest::addColumn<QString>("detail");
        const QString damaged = "This file appears to be damaged or corrupted.", cannot = "This image cannot be shown: ";
        // tifffile writes the array's shape as the description.
        const QString invalid = "Invalid image meta data.", shape = "{\"shape\": [";
        QTest::newRow("6 MB description") << "long-description.tif" << "" << "Gain: 1\nxxx";
        QTest::newRow("corrupt deflate") << "deflate-corrupt.tif" << damaged << shape;
        QTest::newRow("12-bit") << "12bit.tif" << cannot + "12-bit samples are not supported." << invalid;
        QTest::newRow("int16") << "int16.tif" << cannot + "signed samples are not supported." << shape;
        QTest::newRow("MinIsWhite") << "miniswhite.tif" << cannot + "white-is-zero grey images are not supported." << shape;
        QTest::newRow("tiled") << "tiled.tif" << cannot + "tiled TIFF images are not supported." << shape;
        QTest::newRow("planar") << "planar.tif" << cannot + "TIFF images with separate colour planes are not supported."
                                << shape;
        QTest::newRow("float") << "float.tif" << cannot + "32-bit samples are not supported." << shape;
        QTest::newRow("FIFO") << "fifo.tif" << cannot + "not a regular file." << invalid;
        QTest::newRow("FIFO as PNG") << "fifo.png" << cannot + "not a regular file." << invalid;
        // Refused before libtiff loads a tag: the description behind 4000 tags that share 1 MiB is not read.
        QTest::newRow("4000 tags sharing 1 MiB") << "tags-1m-shared.tif" << damaged << invalid;
        QTest::newRow("tag twice") << "twice-samples.tif" << damaged << invalid;
        QTest::newRow("palette without colour map") << "palette-no-colormap.tif" << damaged << invalid;
        QTest::newRow("critical chunk behind the data") << "critical-after-data.png" << damaged << invalid;
        QTest::newRow("TIFF named .gif") << "sound.gif" << cannot + "not a name of an image read: it must end in .tif, "
                                                                    ".tiff, .png, .jpg, .jpeg or .bmp." << shape;
    }
    void hostileFiles()
    {
        QFETCH(QString, name);
        QFETCH(QString, shown);
        QFETCH(QString, detail);
        const QString folder = HostileImages::folder();
        QVERIFY2(!folder.isEmpty(), "no hostile files");
        QVERIFY(QFileInfo(folder + "/fifo.png").isSymLink() || QFile::link(folder + "/fifo.tif", folder + "/fifo.png"));
        const QString path = folder + "/" + name;
        ImageViewerDlg viewer;
        viewer.show();
        const auto blocks = [&](const std::function<void()> &call) {
            return !HostileImages::returnsWithin(call, folder + "/fifo.tif", kHangBoundMs);
        };
        QVERIFY2(!blocks([&] { viewer.load(path, name); }), "the viewer blocked");
        QVERIFY(decoded(viewer));
        QCOMPARE(viewer.isValidImage(), shown.isEmpty());
        if (!shown.isEmpty())
            QCOMPARE(viewer.failureText(), shown);
        QVERIFY2(!blocks([&] { click(viewer, "BUTTON_DETAIL"); }), "Detail blocked");
        const QString text = viewer.attributeDialog()->text();
        QVERIFY2(text.startsWith(detail), qPrintable(text.left(100)));
        QVERIFY(text.size() <= ImageAttributeDialog::maxShownCharacters + 1);
        QImage thumbnail;
        QVERIFY2(!blocks([&] { thumbnail = ImageThumbnailReader::read(path, QSize(128, 102)); }), "a thumbnail blocked");
        QCOMPARE(thumbnail.isNull(), !shown.isEmpty());
    }

    // The file manager refuses what the analyses and tools refuse: every damaged file of their
    // table gives no thumbnail and the viewer's text (a PNG, JPG or BMP's reason where it is not
    // damaged data), every sound one its samples.
    void sharedReaderTable_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("reason");
        for (const HostileImages::Expected &file : HostileImages::expected())
            QTest::newRow(qPrintable(file.name)) << file.name << file.reason;
    }
    void sharedReaderTable()
    {
        QFETCH(QString, name);
        QFETCH(QString, reason);
        const QString folder = HostileImages::folder();
        QVERIFY2(!folder.isEmpty(), "no hostile files");
        const QString path = folder + "/" + name;
        QImage thumbnail;
        ImageViewerDlg viewer;
        QVERIFY(HostileImages::returnsWithin([&] {
            thumbnail = ImageThumbnailReader::read(path, QSize(128, 102));
            viewer.load(path, name);
            decoded(viewer);
        }, folder + "/fifo.tif", kHangBoundMs));
        QVERIFY(!viewer.isLoading());
        QCOMPARE(thumbnail.isNull(), !reason.isEmpty());
        QCOMPARE(viewer.isValidImage(), reason.isEmpty());
        if (reason.isEmpty()) {
            QCOMPARE(thumbnail.size(), QSize(128, 102));
            const cv::Mat decoded = ImageFileReader::read(QFile::encodeName(path), nullptr);
            const QImage shown = viewer.pixmap().toImage().convertToFormat(QImage::Format_Grayscale8);
            QCOMPARE(shown.size(), QSize(decoded.cols, decoded.rows));
            const cv::Mat grey(shown.height(), shown.width(), CV_8UC1, const_cast<uchar *>(shown.constBits()),
                               size_t(shown.bytesPerLine()));
            QCOMPARE(cv::norm(grey, decoded, cv::NORM_INF), 0.0);
        } else if (!ImageThumbnailReader::isTiff(path)) {
            const QString text = viewer.failureText();
            if (ImageFileReader::isDamaged(reason))
                QCOMPARE(text, QString("This file appears to be damaged or corrupted."));
            else
                QVERIFY2(text.startsWith("This image cannot be shown: " + reason), qPrintable(text));
        }
    }

    // PNG and BMP samples shown as the viewer shows a TIFF's: colour in its order, 16-bit grey to
    // its brightest, 16-bit colour as v x 255 / 4094; thumbnails brought to size.
    void sharedReaderPictures_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("first");  // the first pixel's samples in OpenCV's order
        QTest::addColumn<int>("brightest");
        QTest::addColumn<QRgb>("shown");
        QTest::newRow("colour png") << "c.png" << CV_8UC3 << 0x0a141e << 0 << qRgb(30, 20, 10);
        QTest::newRow("colour bmp") << "c.bmp" << CV_8UC3 << 0x0a141e << 0 << qRgb(30, 20, 10);
        QTest::newRow("grey png") << "g.png" << CV_8UC1 << 77 << 0 << qRgb(77, 77, 77);
        QTest::newRow("16-bit grey png") << "g16.png" << CV_16UC1 << 204 << 510 << qRgb(102, 102, 102);
        QTest::newRow("16-bit colour png") << "c16.png" << CV_16UC3 << 2047 << 0 << qRgb(128, 128, 128);
    }
    void sharedReaderPictures()
    {
        QFETCH(QString, name);
        QFETCH(int, type);
        QFETCH(int, first);
        QFETCH(int, brightest);
        QFETCH(QRgb, shown);
        QTemporaryDir dir;
        cv::Mat samples(48, 64, type);
        if (CV_MAT_CN(type) == 3)
            samples.setTo(CV_MAT_DEPTH(type) == CV_16U ? cv::Scalar::all(first)
                                                       : cv::Scalar(first >> 16, (first >> 8) & 255, first & 255));
        else
            samples.setTo(first);
        if (brightest)
            samples.at<quint16>(47, 63) = quint16(brightest);
        const QString path = dir.path() + "/" + name;
        QVERIFY(cv::imwrite(QFile::encodeName(path).toStdString(), samples));
        QString unshown;
        ImReaderWriter reused;
        const QImage whole = ImageThumbnailReader::readWith(path, QSize(), reused, &unshown);
        QVERIFY2(!whole.isNull(), qPrintable(unshown));
        QCOMPARE(whole.size(), QSize(64, 48));
        QCOMPARE(whole.pixel(0, 0), shown);
        const QImage thumbnail = ImageThumbnailReader::readWith(path, QSize(32, 24), reused);
        QCOMPARE(thumbnail.size(), QSize(32, 24));
        QCOMPARE(thumbnail.pixel(0, 0), shown);
    }

    void rewordings_data()
    {
        QTest::addColumn<QString>("description");
        QTest::addColumn<QString>("shown");
        QTest::newRow("keys") << "Serial Number = 7;Filter name = GFP" << "Serial number: 7\nFilter cube: GFP";
        QTest::newRow("already colons") << "Gain: 2;Light: BF" << "Gain: 2\nLight: BF";
        QTest::newRow("objective any case") << "OBJECTIVE LENS = 4x" << "Objective: 4x";
        QTest::newRow("camera mode exact") << "Camera Mode = Color;CAMERA MODE = x" << "Camera mode: Color\nCAMERA MODE: x";
        QTest::newRow("empty") << "" << "";
    }
    void rewordings()
    {
        QFETCH(QString, description);
        QFETCH(QString, shown);
        QCOMPARE(ImageAttributeDialog::reword(description), shown);
    }
};

QTEST_MAIN(TestImageViewer)
#include "tst_imageviewer.moc"
