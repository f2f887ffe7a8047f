#pragma once
#include "EncodingParam.h"

#include <QFileInfo>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QProcess>
#include <QTimer>
#include <functional>
#include <memory>

class ImReaderWriter;
class QImage;
class TimeLapseProgressDlg;

// The MP4 export of an image series, shared by the image browsers.
//
// The user chooses the video in VideoMakerDlg; then, inside a modal progress box with Stop, every
// image is shown by the browser as the user sees it, rendered and written as a numbered RGB TIFF
// frame into a private staging folder on the internal SSD, and the external encoder program makes
// the video from that folder. The end is "Save Complete" with the path or "Save Failed"; a failed
// or stopped export leaves no partial video and never leaves the staging folder behind.
//
// Everything runs on the GUI thread inside the progress box's event loop; the encoder is a child
// process whose output and end arrive as signals. One export at a time.
class SeriesVideoExporter : public QObject
{
    Q_OBJECT
public:
    // How the browser shows strip row `row` (its annotation text rebuilt only when annotate) and
    // renders what it shows as a 1280 x 1024 RGB picture: into the RGB888 image it is given, or
    // as another image of that size that replaces it.
    struct FrameSource
    {
        std::function<void(int row, bool annotate)> show;
        std::function<bool(QImage &frame)> render;
    };

    static const QString kEncoderPath;   // fixed path of the encoder program
    static const QString kStagingFolder; // fixed path, with its trailing "/"
    static const QString kStagingText;
    static const QString kEncodingText;
    static const QString kSaveCompleteText;
    static const QString kSaveFailedText;
    static constexpr int kFrameWidth = 1280;
    static constexpr int kFrameHeight = 1024;
    static constexpr quint64 kStagedFrameBytes = quint64(kFrameWidth) * kFrameHeight * 3;
    static constexpr quint64 kFrameFileOverhead = 4096;

    // The pause before staging starts, the grace an encoder gets after Stop before it is killed,
    // how long it may stay silent before it counts as hung, and how long the flushes of the
    // written frames wait for the page cache. Tests may shorten them.
    static int startDelayMs();
    static void setStartDelayMs(int ms);
    static int stopGraceMs();
    static void setStopGraceMs(int ms);
    static int silenceTimeoutMs();
    static void setSilenceTimeoutMs(int ms);
    static int flushTimeoutMs();
    static void setFlushTimeoutMs(int ms);

    explicit SeriesVideoExporter(FrameSource source, QObject *parent = nullptr);
    ~SeriesVideoExporter() override;

    // The whole export of these image files, in strip order. Returns when it has ended; the
    // browser shows restoreRow again, annotated, before the closing message comes up (a row
    // outside the strip is the browser's own: the Z-stack's merged image). showAnnotation:
    // staged frames carry the annotation text.
    void exportSeries(const QStringList &paths, int restoreRow, bool showAnnotation);

    // Shows one row, renders it and writes it as a staged frame; false when it could not be written.
    bool stageFrame(int row, const QString &path);

    static const QString kNoEncoderText;

    // The gate of a page's video button: false, after telling the user, when the encoder program
    // is missing or the SSD cannot hold the staged frames of this many images.
    static bool checkEncoderAndSpace(int frames);
    // Whether the SSD holds the staged frames (RGB, whatever the display) of this many images.
    static bool hasStagingSpace(int frames);
    // The encoder's arguments in their order; multiplier: output frames per image.
    static QStringList encoderArguments(const EncodingParam &param, const QString &outputPath, int *multiplier);
    // The staged frame of 0-based index i: "Image_00001.tif" ... (five digits or more, so that
    // the encoder's sorted glob keeps the order).
    static QString stagedFrameName(int index, int count);
    // The image count an encoder output chunk reports: the number between "frame=" and the first
    // "fps=" divided by multiplier; -1 when the chunk changes nothing.
    static int progressCount(const QString &text, int multiplier);
    // A path for messages: only a leading "/media" is left out.
    static QString displayPath(const QString &path);

    // For tests.
    QProcess *encoder() const { return m_pEncoder; }
    TimeLapseProgressDlg *progressDialog() const;
    bool running() const { return m_bRunning; }

private slots:
    void slotEncoding();
    void readyReadStandardOutput();
    void encodingFinished(int exitCode, QProcess::ExitStatus exitStatus);
    void slotEncoderError(QProcess::ProcessError error);
    void slotOKClicked();
    void slotEncoderSilent();

private:
    bool GenerateSyntheticVideo(const QList<QFileInfo> &files, const EncodingParam &param, const QString &outputPath);
    void stopEncoder();
    void closeProgress();
    void removeStaging();
    void finish(bool success, bool removeOutput);
    void restoreShown();
    void showResult(const QString &text);

    FrameSource m_Source;
    QList<QFileInfo> m_FileList;
    EncodingParam m_EncodingParam;
    QString m_OutputPath;
    QProcess *m_pEncoder;
    int m_FrameMultiplier = 1;
    int m_RestoreRow = -1;
    bool m_bRestored = true;   // the browser shows again what it showed before the export
    bool m_bCancel = false;
    bool m_bShowAnnotation = false;
    bool m_bRunning = false;   // staging or encoding
    bool m_bFailed = false;    // the encoder hung or could not start
    QPointer<TimeLapseProgressDlg> m_ProgressDlg;
    QTimer m_KillTimer;
    QTimer m_SilenceTimer;
    std::unique_ptr<ImReaderWriter> m_pWriter;
};
