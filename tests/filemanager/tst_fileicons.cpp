#include "FileIconProvider.h"
#include "HangBound.h"
#include "ImReaderWriter.h"
#include "ImageThumbnailReader.h"
#include "TestRoot.h"
#include "ViewerConversion.h"

#include <QFileIconProvider>
#include <QFileSystemModel>
#include <QImageWriter>
#include <QMutex>
#include <QSet>
#include <QThread>
#include <QWaitCondition>
#include <QtConcurrent>
#include <QtTest>

#include <atomic>
#include <opencv2/core.hpp>

namespace {

std::atomic<int> threadWarnings{0};
QtMessageHandler previousHandler = nullptr;

void countThreadWarnings(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (message.contains("thread", Qt::CaseInsensitive) || message.contains("QPixmap"))
        ++threadWarnings;
    previousHandler(type, context, message);
}

// A grey 16-bit TIFF whose samples ramp from 0 to top along each row.
bool writeTiff16(const QString &path, int width, int height, quint16 top)
{
    ImReaderWriter image;
    auto *samples = static_cast<quint16 *>(image.reserve(width, height, 16, 1, 1, 1, 1));
    if (!samples)
        return false;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            samples[y * width + x] = quint16(quint64(x) * top / (width - 1));
    return image.write(QFile::encodeName(path), "Objective:10x");
}

QImage picture(const QIcon &icon)
{
    return icon.pixmap(FileIconProvider::thumbnailSize).toImage().convertToFormat(QImage::Format_ARGB32);
}

const QImage &fileIcon()
{
    static const QImage shown = picture(QIcon(":/UI/FileManager/file.png"));
    return shown;
}

// Every decode asked for has ended.
bool settled(const FileIconProvider &provider)
{
    return QTest::qWaitFor([&] { return provider.pendingThumbnails() == 0; }, kHangBoundMs);
}

// A thumbnail reader that records where and how often it runs and, off the GUI thread, holds
// every decode until released; it gives a white picture, or nothing.
struct RecordingReader
{
    QMutex lock;
    QWaitCondition released;
    bool open = false;
    bool decodable = true;
    int calls = 0, inside = 0, mostInside = 0;
    QSet<QThread *> threads;

    QImage read(const QSize &size)
    {
        QMutexLocker hold(&lock);
        ++calls;
        threads.insert(QThread::currentThread());
        mostInside = std::max(mostInside, ++inside);
        while (!open && QThread::currentThread() != qApp->thread())
            released.wait(&lock);
        --inside;
        QImage image(size, QImage::Format_RGB32);
        image.fill(Qt::white);
        return decodable ? image : QImage();
    }
    void release()
    {
        QMutexLocker hold(&lock);
        open = true;
        released.wakeAll();
    }
    int count()
    {
        QMutexLocker hold(&lock);
        return calls;
    }
    FileIconProvider::ThumbnailReader function()
    {
        return [this](const QString &, const QSize &size) { return read(size); };
    }
};

// Image files in a folder of the sandbox.
QStringList imageFiles(TestRoot &root, int count)
{
    const QString dir = root.makeDir("/media/VANTOR SSD/held");
    QStringList paths;
    for (int i = 0; i < count; ++i) {
        paths << QString("%1/%2.tif").arg(dir).arg(i);
        root.writeFile(QString("/media/VANTOR SSD/held/%1.tif").arg(i), "II*\0");
    }
    return paths;
}

} // namespace

class TestFileIcons : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { previousHandler = qInstallMessageHandler(countThreadWarnings); }
    void init() { FileIconProvider::clearThumbnailCache(); }

    void iconTable_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("thumbnails");
        QTest::addColumn<QString>("expected"); // a resource, "base", or "thumbnail"
        QTest::newRow("folder") << "Data" << true << ":/UI/FileManager/folder_128x102.png";
        QTest::newRow("csv") << "counts.csv" << true << ":/UI/FileManager/csv.png";
        QTest::newRow("CSV") << "notes.CSV" << false << ":/UI/FileManager/csv.png";
        QTest::newRow("mp4") << "run.mp4" << true << ":/UI/FileManager/mp4.png";
        QTest::newRow("tif off") << "a.tif" << false << ":/UI/FileManager/file.png";
        QTest::newRow("TIF off") << "b.TIF" << false << ":/UI/FileManager/file.png";
        QTest::newRow("tif on") << "a.tif" << true << "thumbnail";
        QTest::newRow("TIF on") << "b.TIF" << true << "thumbnail";
        QTest::newRow("gif") << "c.gif" << true << "base";
        QTest::newRow("undecodable tif") << "broken.tif" << true << ":/UI/FileManager/file.png";
        QTest::newRow("640 x 480 jpg") << "photo.jpg" << true << "thumbnail";
    }
    void iconTable()
    {
        QFETCH(QString, name);
        QFETCH(bool, thumbnails);
        QFETCH(QString, expected);
        TestRoot root;
        const QString dir = root.makeDir("/media/VANTOR SSD/icons");
        const QString path = dir + '/' + name;
        if (name == "Data")
            QVERIFY(QDir(dir).mkdir(name));
        else if (name.endsWith("tif", Qt::CaseInsensitive) && !name.startsWith("broken"))
            QVERIFY(writeTiff16(path, 1280, 1024, 4095));
        else if (name.endsWith(".jpg")) {
            QImage photo(640, 480, QImage::Format_RGB32);
            photo.fill(Qt::darkGreen);
            QVERIFY(QImageWriter(path).write(photo));
        } else
            root.writeFile("/media/VANTOR SSD/icons/" + name, "II*\0garbage");

        FileIconProvider provider;
        provider.setThumbnailReader(&ImageThumbnailReader::read);
        provider.setThumbnailOn(thumbnails);
        threadWarnings = 0;
        // The model asks on its own thread: so does the test.
        const QIcon icon = QtConcurrent::run([&] { return provider.icon(QFileInfo(path)); }).result();
        QVERIFY(settled(provider));
        QCOMPARE(threadWarnings.load(), 0);
        QVERIFY(!icon.isNull());
        if (expected == "thumbnail") {
            const QImage cached = FileIconProvider::cachedThumbnail(QFileInfo(path));
            QCOMPARE(cached.size(), QSize(128, 102));
            QCOMPARE(picture(icon), cached.convertToFormat(QImage::Format_ARGB32));
        } else if (expected == "base") {
            QCOMPARE(picture(icon), picture(QFileIconProvider().icon(QFileInfo(path))));
        } else {
            QCOMPARE(picture(icon), picture(QIcon(expected)));
            QVERIFY(FileIconProvider::cachedThumbnail(QFileInfo(path)).isNull());
        }
    }

    // Camera images hold 0..4095 in 16 bits: the thumbnail is stretched as the viewer shows it,
    // not nearly black; a file replaced under its name gets a new thumbnail.
    void sixteenBitsAndReplacedFiles()
    {
        TestRoot root;
        const QString path = root.makeDir("/media/USB1") + "/ramp.tif";
        QVERIFY(writeTiff16(path, 1280, 1024, 4095));
        FileIconProvider provider;
        provider.setThumbnailReader(&ImageThumbnailReader::read);
        provider.setThumbnailOn(true);
        provider.icon(QFileInfo(path));
        QVERIFY(settled(provider));
        QImage first = FileIconProvider::cachedThumbnail(QFileInfo(path)).convertToFormat(QImage::Format_Grayscale8);
        QVERIFY(first.pixelColor(127, 50).value() >= 250);
        QVERIFY(first.pixelColor(0, 50).value() <= 5);

        QTest::qWait(20); // a new modification time even on coarse clocks
        QVERIFY(writeTiff16(path, 640, 480, 510));
        {
            QFile touched(path);
            QVERIFY(touched.open(QIODevice::ReadWrite)
                    && touched.setFileTime(QDateTime::currentDateTime().addSecs(5), QFileDevice::FileModificationTime));
        }
        provider.icon(QFileInfo(path));
        QVERIFY(settled(provider));
        const QImage second = FileIconProvider::cachedThumbnail(QFileInfo(path));
        QVERIFY(!second.isNull());
        QVERIFY(second.pixelColor(127, 50).value() >= 250); // 510 is the brightest: full white
    }

    // Deleted files and folders take their thumbnails with them; a neighbour whose name begins
    // the same keeps its own.
    void deletedFilesLeaveTheCache()
    {
        TestRoot root;
        const QString dir = root.makeDir("/media/VANTOR SSD/Day");
        const QString other = root.makeDir("/media/VANTOR SSD/Day2");
        const QStringList files{dir + "/a.tif", dir + "/b.tif", other + "/a.tif", dir + "/../c.tif"};
        FileIconProvider provider;
        provider.setThumbnailReader(&ImageThumbnailReader::read);
        provider.setThumbnailOn(true);
        for (const QString &file : files) {
            QVERIFY(writeTiff16(file, 64, 48, 4095));
            provider.icon(QFileInfo(file));
        }
        QVERIFY(settled(provider));
        FileIconProvider::forgetThumbnails({dir, QFileInfo(files[3]).absoluteFilePath()});
        QString cached;
        for (const QString &file : files)
            cached += FileIconProvider::cachedThumbnail(QFileInfo(file)).isNull() ? '-' : '+';
        QCOMPARE(cached, QString("--+-"));
    }

    // However the views ask (the provider called on the GUI thread, the model resolving paths on
    // it, the model's own thread), no decode runs on the GUI thread: the first answer is the file
    // icon, decodes run side by side on the pool, and each one ended is told on the GUI thread,
    // after which the same icons show the thumbnails.
    void decodesOffTheInterfaceThread_data()
    {
        QTest::addColumn<QString>("asker");
        QTest::newRow("provider") << "provider";
        QTest::newRow("model resolving paths") << "resolve";
        QTest::newRow("model's thread") << "model";
    }
    void decodesOffTheInterfaceThread()
    {
        QFETCH(QString, asker);
        TestRoot root;
        const QStringList paths = imageFiles(root, 4);
        RecordingReader reader;
        QObject receiver;
        QSet<QThread *> toldOn;
        int told = 0;
        FileIconProvider provider;
        provider.setThumbnailReader(reader.function());
        provider.setThumbnailOn(true);
        provider.setThumbnailReady(&receiver, [&] {
            ++told;
            toldOn.insert(QThread::currentThread());
        });
        QFileSystemModel model;
        model.setIconProvider(&provider);
        std::function<QIcon(const QString &)> iconOf = [&](const QString &path) {
            return model.data(model.index(path), Qt::DecorationRole).value<QIcon>();
        };
        if (asker == "provider")
            iconOf = [&](const QString &path) { return provider.icon(QFileInfo(path)); };
        else if (asker == "model")
            model.setRootPath(QFileInfo(paths[0]).path());
        QList<QIcon> icons;
        for (const QString &path : paths)
            icons << iconOf(path);
        {
            QMutexLocker hold(&reader.lock);
            QVERIFY(!reader.threads.contains(qApp->thread()));
        }
        QVERIFY(QTest::qWaitFor([&] { return provider.pendingThumbnails() == paths.size(); }, kHangBoundMs));
        QVERIFY(QTest::qWaitFor([&] { QMutexLocker hold(&reader.lock); return reader.mostInside >= 2; }, kHangBoundMs));
        for (int i = 0; i < paths.size(); ++i) {
            // The model's own thread answers later than the first look.
            if (asker == "model")
                QVERIFY(QTest::qWaitFor([&] { return picture(icons[i] = iconOf(paths[i])) == fileIcon(); }, kHangBoundMs));
            QCOMPARE(picture(icons[i]), fileIcon());
        }
        reader.release();
        QVERIFY(settled(provider));
        QVERIFY(!reader.threads.contains(qApp->thread()));
        QVERIFY(QTest::qWaitFor([&] { return told >= paths.size(); }, kHangBoundMs));
        QCOMPARE(toldOn, QSet<QThread *>{qApp->thread()});
        for (const QString &path : paths) {
            QCOMPARE(qGray(picture(iconOf(path)).pixel(64, 51)), 255);
            QVERIFY(!FileIconProvider::cachedThumbnail(QFileInfo(path)).isNull());
        }
    }

    // Decodes left queued when the folder is left are dropped, and asked again when their icons
    // are painted; a file found undecodable is tried again only when its icon is asked for, not at
    // every repaint.
    void droppedAndUndecodableFiles()
    {
        TestRoot root;
        const QStringList paths = imageFiles(root, FileIconProvider::decodingThreads() + 3);
        RecordingReader reader;
        FileIconProvider provider;
        provider.setThumbnailReader(reader.function());
        provider.setThumbnailOn(true);
        QList<QIcon> icons;
        for (const QString &path : paths)
            icons << provider.icon(QFileInfo(path));
        const int begun = FileIconProvider::decodingThreads();
        QVERIFY(QTest::qWaitFor([&] { return reader.count() == begun; }, kHangBoundMs));
        provider.dropWaitingThumbnails();
        reader.release();
        QVERIFY(settled(provider));
        QCOMPARE(reader.count(), begun);
        for (const QIcon &icon : icons)
            picture(icon);
        QVERIFY(settled(provider));
        QCOMPARE(reader.count(), paths.size());
        for (const QIcon &icon : icons)
            QCOMPARE(qGray(picture(icon).pixel(64, 51)), 255);

        FileIconProvider::clearThumbnailCache();
        reader.decodable = false;
        const QIcon undecodable = provider.icon(QFileInfo(paths[0]));
        QVERIFY(settled(provider));
        for (int repaint = 0; repaint < 3; ++repaint) {
            QCOMPARE(picture(undecodable), fileIcon());
            QVERIFY(settled(provider));
        }
        QCOMPARE(reader.count(), paths.size() + 1);
        provider.icon(QFileInfo(paths[0]));
        QVERIFY(settled(provider));
        QCOMPARE(reader.count(), paths.size() + 2);
    }

    // Headers that declare more than 64 megapixels are not decoded.
    void hugeHeaderRefused()
    {
        TestRoot root;
        const QString path = root.makeDir("/media/USB1") + "/huge.bmp";
        QByteArray bmp(54, '\0');
        bmp[0] = 'B';
        bmp[1] = 'M';
        qToLittleEndian<quint32>(54, bmp.data() + 10);
        qToLittleEndian<quint32>(40, bmp.data() + 14);
        qToLittleEndian<qint32>(20000, bmp.data() + 18);
        qToLittleEndian<qint32>(20000, bmp.data() + 22);
        qToLittleEndian<quint16>(1, bmp.data() + 26);
        qToLittleEndian<quint16>(24, bmp.data() + 28);
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bmp) == bmp.size());
        file.close();
        QVERIFY(ImageThumbnailReader::read(path, QSize(128, 102)).isNull());
    }

    // What the viewer shows: 16-bit grey to its brightest, colour as v x 255 / 4094.
    void viewerConversions_data()
    {
        QTest::addColumn<int>("samples");
        QTest::addColumn<int>("brightest");
        QTest::addColumn<int>("value");
        QTest::addColumn<int>("shown");
        QTest::newRow("grey 204 of 510") << 1 << 510 << 204 << 102;
        QTest::newRow("grey max") << 1 << 510 << 510 << 255;
        QTest::newRow("grey all black") << 1 << 0 << 0 << 0;
        QTest::newRow("colour 4094") << 3 << 4094 << 4094 << 255;
        QTest::newRow("colour 2047") << 3 << 4094 << 2047 << 128;
        QTest::newRow("colour saturates") << 3 << 4095 << 4095 << 255;
    }
    void viewerConversions()
    {
        QFETCH(int, samples);
        QFETCH(int, brightest);
        QFETCH(int, value);
        QFETCH(int, shown);
        ImReaderWriter image;
        auto *data = static_cast<quint16 *>(image.reserve(4, 2, 16, quint16(samples), 1, samples == 1 ? 1 : 2, 1));
        QVERIFY(data);
        std::fill(data, data + 8 * samples, quint16(0));
        data[0] = quint16(brightest);
        for (int c = 0; c < samples; ++c)
            data[samples + c] = quint16(value);
        const QImage out = ViewerConversion::toImage(image);
        QCOMPARE(out.size(), QSize(4, 2));
        QCOMPARE(int(out.constScanLine(0)[samples]), shown);
    }

    // Grey to its maximum gives, for every value up to the maximum and some above, what OpenCV's
    // convertTo gives (rounding ties to even, saturating), whichever road the processor takes.
    void greyScalingMatchesConvertTo_data()
    {
        QTest::addColumn<int>("brightest");
        for (int m : {1, 2, 3, 6, 255, 510, 1000, 2047, 4094, 4095, 65520, 65535})
            QTest::newRow(qPrintable(QString::number(m))) << m;
    }
    void greyScalingMatchesConvertTo()
    {
        QFETCH(int, brightest);
        const int width = brightest + 1 + 37;
        ImReaderWriter image;
        auto *data = static_cast<quint16 *>(image.reserve(quint32(width), 1, 16, 1, 1, 1, 1));
        QVERIFY(data);
        for (int i = 0; i < width; ++i)
            data[i] = quint16(std::min(i, 65535));
        const QImage out = ViewerConversion::toImage(image, QSize(), brightest);
        QCOMPARE(out.size(), QSize(width, 1));
        const cv::Mat ramp(1, width, CV_16UC1, data);
        cv::Mat expected;
        ramp.convertTo(expected, CV_8U, 255.0 / brightest);
        for (int i = 0; i < width; ++i)
            QVERIFY2(out.constScanLine(0)[i] == expected.at<uchar>(i),
                     qPrintable(QString("%1 gives %2, not %3").arg(i).arg(out.constScanLine(0)[i]).arg(expected.at<uchar>(i))));
    }
};

QTEST_MAIN(TestFileIcons)
#include "tst_fileicons.moc"
