#pragma once
#include "CSVReaderWriter.h"
#include "GrowthMonitorParameter.h"
#include "TImageType.h"
#include "ThumbnailInfo.h"

#include <QObject>
#include <QString>
#include <string>
#include <vector>

namespace cv {
class Mat;
}

// The model of the growth-monitor mode: the analysis settings of the current run, the analysed
// images as thumbnail records and their result table ("File,ConConfluency,Count,Threshold"). It
// checks the internal drive before a run, empties the mode's work folder, names the result files
// and measures the confluency of one image. GUI thread only.
class GrowthMonitor : public QObject
{
    Q_OBJECT
public:
    static const QByteArray csvHeader;

    explicit GrowthMonitor(QObject *parent = nullptr);
    ~GrowthMonitor() override;

    void setGrowthMonitorParameter(const GrowthMonitorParameter &parameter) { m_Parameter = parameter; }
    const GrowthMonitorParameter &growthMonitorParameter() const { return m_Parameter; }

    // 0 ready; 1 the internal drive has less than twice the room the run's result images need
    // (checked before anything is deleted); 3 emptying the work folder failed (only when clean).
    int canStart(int bitsPerPixel, bool clean);
    // Removes the work folder and makes it again; clears the thumbnails and result rows in every
    // case. 1 on success, -1 when the folder could not be removed or made again.
    int deleteRawData();

    // basePath with "_result" (segmentation), "_count" (count) or suffix (any other type) inserted
    // before the last "." of its file name, or appended when the file name has none.
    static QString getResultFilePath(const QString &basePath, TImageType type, QString suffix);

    // Measures one image and writes its count and segmentation images beside resultBasePath.
    // False when the image cannot be read or a result cannot be written (errorString() says why);
    // then confluency and count are 0 and neither result file is written (older ones stay as they
    // were).
    bool getConfluencyValue(const std::string &imagePath, const QString &resultBasePath, float &confluency,
                            int &count, int &threshold);
    QString errorString() const { return m_Error; }

    // Labels the 4-connected regions of the pixels above threshold, from row 1 and column 1,
    // numbered by first appearance; labels becomes CV_32S. Returns (and stores through labelCount
    // when given) the number of regions.
    static int _labeling(const cv::Mat &image, int threshold, cv::Mat &labels, int *labelCount = nullptr);

    // A source path as the table and the result rows show it: the volume folder "/media" left out
    // ("/media/USB1/a.tif" gives "/USB1/a.tif").
    static QString displayPath(const QString &sourcePath);
    // Appends the result row of one analysed image.
    void setConfluencyResult(const ThumbnailInfo &info);
    void pushThumbnail(ThumbnailInfo &info) { m_Thumbnails.push_back(info); }
    // Empties the thumbnails and the result rows together.
    void clearThumbnails();
    std::vector<ThumbnailInfo> &thumbnails() { return m_Thumbnails; }
    CSVReaderWriter &csvReaderWriter() { return m_CSV; }

    // The work folder of the mode on the internal drive (a real path).
    static QString rawFolder();

private:
    bool fail(const QString &why, float &confluency, int &count);

    GrowthMonitorParameter m_Parameter;
    std::vector<ThumbnailInfo> m_Thumbnails;
    CSVReaderWriter m_CSV;
    QString m_Error;
};
