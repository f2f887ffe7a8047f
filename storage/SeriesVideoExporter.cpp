#include "SeriesVideoExporter.h"

#include "ImReaderWriter.h"
#include "MediaMonitor.h"
#include "MediaPath.h"
#include "MessageDlg.h"
#include "Paths.h"
#include "PrivateProfile.h"
#include "SystemActions.h"
#include "TimeLapseProgressDlg.h"
#include "Utilities.h"
#include "VideoMakerDlg.h"

#include <QApplication>
#include <QDebug>
#include <QDir>
#include <QImage>
#include <cstring>

namespace {

const char *const kSection = "Setting_Timelapse";
int g_startDelayMs = 1000;
int g_stopGraceMs = 5000;
int g_silenceTimeoutMs = 120000;
int g_flushTimeoutMs = 5000;

QString readSetting(const char *key, const char *fallback)
{
    std::string text;
    ReadPrivateProfileString(kSection, key, fallback, text, Paths::configFile().toStdString());
    return QString::fromStdString(text).trimmed();
}

} // namespace

const QString SeriesVideoExporter::kEncoderPath = QStringLiteral("/root/Microscope/FFmpeg/ffmpeg");
const QString SeriesVideoExporter::kStagingFolder = QStringLiteral("/media/VANTOR SSD/.Video/");
const QString SeriesVideoExporter::kStagingText = QStringLiteral("<p><b>Generating image information ...</b></p>");
const QString SeriesVideoExporter::kEncodingText = QStringLiteral("<p><b>Encoding ...</b></p>");
const QString SeriesVideoExporter::kSaveCompleteText = QStringLiteral("<p><b>Save Complete</b><br/><br/>%1</p>");
const QString SeriesVideoExporter::kNoEncoderText = QStringLiteral(
    "<p><b>FFmpeg Library Not Detected.</b><br/><br/><br/>A software update is required to proceed.</p>");
const QString SeriesVideoExporter::kSaveFailedText = QStringLiteral("<p><b>Save Failed</b><br/><br/>Try again.</p>");

int SeriesVideoExporter::startDelayMs() { return g_startDelayMs; }
void SeriesVideoExporter::setStartDelayMs(int ms) { g_startDelayMs = ms; }
int SeriesVideoExporter::stopGraceMs() { return g_stopGraceMs; }
void SeriesVideoExporter::setStopGraceMs(int ms) { g_stopGraceMs = ms; }
int SeriesVideoExporter::silenceTimeoutMs() { return g_silenceTimeoutMs; }
void SeriesVideoExporter::setSilenceTimeoutMs(int ms) { g_silenceTimeoutMs = ms; }
int SeriesVideoExporter::flushTimeoutMs() { return g_flushTimeoutMs; }
void SeriesVideoExporter::setFlushTimeoutMs(int ms) { g_flushTimeoutMs = ms; }

SeriesVideoExporter::SeriesVideoExporter(FrameSource source, QObject *parent)
    : QObject(parent)
    , m_Source(std::move(source))
    , m_pEncoder(new QProcess(this))
    , m_pWriter(std::make_unique<ImReaderWriter>())
{
    connect(m_pEncoder, &QProcess::readyReadStandardOutput, this, &SeriesVideoExporter::readyReadStandardOutput);
    connect(m_pEncoder, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), this,
            &SeriesVideoExporter::encodingFinished);
    connect(m_pEncoder, &QProcess::errorOccurred, this, &SeriesVideoExporter::slotEncoderError);
    m_KillTimer.setSingleShot(true);
    connect(&m_KillTimer, &QTimer::timeout, m_pEncoder, &QProcess::kill);
    m_SilenceTimer.setSingleShot(true);
    connect(&m_SilenceTimer, &QTimer::timeout, this, &SeriesVideoExporter::slotEncoderSilent);
}

SeriesVideoExporter::~SeriesVideoExporter()
{
    if (m_pEncoder->state() != QProcess::NotRunning) {
        m_pEncoder->disconnect(this);
        m_pEncoder->kill();
        m_pEncoder->waitForFinished(g_stopGraceMs);
    }
}

TimeLapseProgressDlg *SeriesVideoExporter::progressDialog() const
{
    return m_ProgressDlg.data();
}

// ---------------------------------------------------------------------------------------------
// Names, arguments, progress

bool SeriesVideoExporter::checkEncoderAndSpace(int frames)
{
    MessageDlg message;
    if (getFFmpegVersion().isEmpty()) {
        message.setMessage(kNoEncoderText);
        message.setButtonVisibility(MSG_BUTTON_OK);
    } else if (!hasStagingSpace(frames)) {
        message.setMsgType(MSG_INSUFFICIENT_DISK_SPACE);
    } else {
        return true;
    }
    message.exec();
    return false;
}

bool SeriesVideoExporter::hasStagingSpace(int frames)
{
    const quint64 needed = quint64(qMax(0, frames)) * (kStagedFrameBytes + kFrameFileOverhead);
    return MediaMonitor::freeDiskSpace(Paths::ssd()) * 1000000ull >= needed;
}

QString SeriesVideoExporter::stagedFrameName(int index, int count)
{
    const int digits = qMax(5, int(QString::number(qMax(count, index + 1)).size()));
    return QStringLiteral("Image_%1.tif").arg(index + 1, digits, 10, QLatin1Char('0'));
}

QStringList SeriesVideoExporter::encoderArguments(const EncodingParam &param, const QString &outputPath,
                                                  int *multiplier)
{
    QStringList args{"-y", "-framerate", QString::number(param.frameRate), "-pattern_type", "glob", "-i",
                     Paths::path(kStagingFolder) + "*.tif", "-c:v", "mpeg4", "-qscale:v",
                     QString::number(param.qscale)};
    // At one image a second the video runs at three frames a second, each image three times.
    const int perImage = param.frameRate == 1 ? 3 : 1;
    if (perImage != 1)
        args << "-r" << QString::number(perImage);
    if (multiplier)
        *multiplier = perImage;
    if (param.scale != 1.0) {
        // With a filter of its own the encoder would cut the last image's repeats short: the
        // filter chain then makes the three frames an image itself.
        QString filter = QStringLiteral("scale=iw*%1:ih*%2").arg(param.scale).arg(param.scale);
        if (perImage != 1)
            filter += QStringLiteral(",fps=%1").arg(perImage);
        args << "-vf" << filter;
    }
    args << "-pix_fmt" << "yuv420p" << outputPath;
    return args;
}

int SeriesVideoExporter::progressCount(const QString &text, int multiplier)
{
    const int pos = text.indexOf(QLatin1String("fps="));
    if (pos <= 0)
        return -1;
    QString number = text.left(pos);
    number.remove(QLatin1String("frame="));
    bool ok = false;
    const int frames = number.trimmed().toInt(&ok, 10);
    return (ok ? frames : 0) / qMax(1, multiplier);
}

QString SeriesVideoExporter::displayPath(const QString &path)
{
    return MediaPath::isBelowMedia(path) ? MediaPath::label(path) : Paths::fixedPath(path);
}

// ---------------------------------------------------------------------------------------------
// The export

void SeriesVideoExporter::exportSeries(const QStringList &paths, int restoreRow, bool showAnnotation)
{
    if (m_bRunning)
        return;
    m_FileList.clear();
    for (const QString &path : paths)
        m_FileList << QFileInfo(path);
    if (m_FileList.size() < 2) {
        MessageDlg message;
        message.setMsgType(MSG_NO_SELECTED_IMAGE);
        message.exec();
        return;
    }

    m_EncodingParam.frameRate = readSetting("FrameRate", "1").toInt();
    m_EncodingParam.qscale = readSetting("VideoQuality", "2").toInt();
    m_EncodingParam.scale = readSetting("VideoScale", "1").toDouble();
    QString folder, name;
    {
        VideoMakerDlg dialog;
        dialog.setDefaultParam(m_FileList.first().absolutePath(), m_EncodingParam);
        if (dialog.exec() != 1)
            return;
        dialog.getParam(folder, name, m_EncodingParam);
    }
    WritePrivateProfileBatch({{kSection, "FrameRate", QString::number(m_EncodingParam.frameRate).toStdString()},
                              {kSection, "VideoQuality", QString::number(m_EncodingParam.qscale).toStdString()},
                              {kSection, "VideoScale", QString::number(m_EncodingParam.scale).toStdString()}},
                             Paths::configFile().toStdString());

    m_OutputPath = folder + "/" + name + ".mp4";
    m_bCancel = false;
    m_bFailed = false;
    m_bRunning = true;
    m_bShowAnnotation = showAnnotation;
    m_RestoreRow = restoreRow;
    m_bRestored = false;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    QTimer::singleShot(g_startDelayMs, this, &SeriesVideoExporter::slotEncoding);

    m_ProgressDlg = new TimeLapseProgressDlg;
    connect(m_ProgressDlg.data(), &TimeLapseProgressDlg::signalOKClicked, this, &SeriesVideoExporter::slotOKClicked);
    m_ProgressDlg->setMessage(kStagingText);
    m_ProgressDlg->setTotalCount(m_FileList.size());
    m_ProgressDlg->setCurrentCount(0);
    m_ProgressDlg->setSignalMode(true);
    m_ProgressDlg->exec();

    if (m_ProgressDlg)
        m_ProgressDlg->deleteLater();
    QApplication::restoreOverrideCursor();
    restoreShown();
}

void SeriesVideoExporter::restoreShown()
{
    if (m_bRestored)
        return;
    m_bRestored = true;
    if (m_Source.show)
        m_Source.show(m_RestoreRow, true);
}

bool SeriesVideoExporter::stageFrame(int row, const QString &path)
{
    if (!m_Source.show || !m_Source.render)
        return false;
    m_Source.show(row, m_bShowAnnotation);
    auto *samples = static_cast<uchar *>(m_pWriter->reserve(kFrameWidth, kFrameHeight, 8, 3, 1, 2, 1));
    if (!samples)
        return false;
    // The picture is rendered straight into the writer's samples; a source that gives another
    // image has it copied in.
    const int rowBytes = kFrameWidth * 3;
    QImage frame(samples, kFrameWidth, kFrameHeight, rowBytes, QImage::Format_RGB888);
    if (!m_Source.render(frame) || frame.width() != kFrameWidth || frame.height() != kFrameHeight)
        return false;
    if (frame.constBits() != samples) {
        if (frame.format() != QImage::Format_RGB888)
            frame = frame.convertToFormat(QImage::Format_RGB888);
        for (int y = 0; y < kFrameHeight; ++y)
            std::memcpy(samples + qsizetype(y) * rowBytes, frame.constScanLine(y), size_t(rowBytes));
    }
    return m_pWriter->write(path.toUtf8(), QByteArray());
}

void SeriesVideoExporter::removeStaging()
{
    QDir(Paths::path(kStagingFolder)).removeRecursively();
}

void SeriesVideoExporter::slotEncoding()
{
    const QString staging = Paths::path(kStagingFolder);
    if (QDir(staging).removeRecursively())
        createTemporaryPath(staging);
    QApplication::changeOverrideCursor(Qt::ArrowCursor);

    bool written = QFileInfo(staging).isDir();
    const int count = m_FileList.size();
    for (int i = 0; written && i < count && !m_bCancel; ++i) {
        written = stageFrame(i, staging + stagedFrameName(i, count));
        if (m_ProgressDlg)
            m_ProgressDlg->setCurrentCount(i + 1);
        qProcessEvents();
    }
    clearDirtyMemory(g_flushTimeoutMs);

    if (!m_bCancel && !written) {
        qWarning() << "A video frame could not be staged in" << staging;
        finish(false, false);
        return;
    }
    if (m_bCancel || !GenerateSyntheticVideo(m_FileList, m_EncodingParam, m_OutputPath)) {
        removeStaging();
        closeProgress();
        m_bRunning = false;
    }
}

bool SeriesVideoExporter::GenerateSyntheticVideo(const QList<QFileInfo> &files, const EncodingParam &param,
                                                 const QString &outputPath)
{
    QApplication::changeOverrideCursor(Qt::ArrowCursor);
    const QString program = Paths::path(kEncoderPath);
    if (!QFileInfo::exists(program))
        return false;
    const QStringList args = encoderArguments(param, outputPath, &m_FrameMultiplier);
    qDebug() << Q_FUNC_INFO << program << args;
    if (m_ProgressDlg) {
        m_ProgressDlg->setMessage(kEncodingText);
        m_ProgressDlg->setTotalCount(files.size());
        m_ProgressDlg->setCurrentCount(0);
    }
    m_pEncoder->setProcessChannelMode(QProcess::MergedChannels);
    m_SilenceTimer.start(g_silenceTimeoutMs);
    m_pEncoder->start(program, args, QIODevice::ReadWrite);
    return true;
}

void SeriesVideoExporter::readyReadStandardOutput()
{
    QByteArray bytes = m_pEncoder->readAllStandardOutput();
    const int nul = bytes.indexOf('\0');
    if (nul >= 0)
        bytes.truncate(nul);
    const QString text = QString::fromUtf8(bytes);
    if (isEnableSerialLog())
        qDebug() << "\"" + text + "\"";
    if (m_bRunning && !m_bCancel)
        m_SilenceTimer.start(g_silenceTimeoutMs);
    const int count = progressCount(text, m_FrameMultiplier);
    if (count >= 0 && m_ProgressDlg) {
        m_ProgressDlg->setCurrentCount(count);
        qProcessEvents();
    }
}

void SeriesVideoExporter::encodingFinished(int exitCode, QProcess::ExitStatus exitStatus)
{
    if (!m_bRunning)
        return;
    const bool ended = !m_bCancel && !m_bFailed && exitStatus == QProcess::NormalExit && exitCode == 0;
    finish(ended && QFileInfo::exists(m_OutputPath), !ended);
}

void SeriesVideoExporter::slotEncoderError(QProcess::ProcessError error)
{
    // A program that cannot start never finishes: its end is reported here.
    if (error != QProcess::FailedToStart || !m_bRunning)
        return;
    qWarning() << "The video encoder could not be started:" << m_pEncoder->errorString();
    finish(false, false);
}

void SeriesVideoExporter::slotOKClicked()
{
    if (!m_ProgressDlg)
        return;
    m_bCancel = true;
    disconnect(m_ProgressDlg.data(), &TimeLapseProgressDlg::signalOKClicked, this, &SeriesVideoExporter::slotOKClicked);
    stopEncoder();
}

void SeriesVideoExporter::slotEncoderSilent()
{
    if (m_pEncoder->state() == QProcess::NotRunning)
        return;
    qWarning() << "The video encoder gave no output for" << g_silenceTimeoutMs << "ms; stopping it";
    m_bFailed = true;
    stopEncoder();
}

void SeriesVideoExporter::stopEncoder()
{
    m_SilenceTimer.stop();
    if (m_pEncoder->state() != QProcess::Running)
        return;
    m_pEncoder->terminate();
    m_KillTimer.start(g_stopGraceMs);
}

void SeriesVideoExporter::closeProgress()
{
    if (!m_ProgressDlg)
        return;
    m_ProgressDlg->close();
    m_ProgressDlg->deleteLater();
}

void SeriesVideoExporter::finish(bool success, bool removeOutput)
{
    m_bRunning = false;
    m_KillTimer.stop();
    m_SilenceTimer.stop();
    removeStaging();
    closeProgress();
    SystemActions::instance().sync();
    clearDirtyMemory(g_flushTimeoutMs);
    if (removeOutput)
        QFile::remove(m_OutputPath);
    restoreShown(); // the message box is read over the picture the user left
    showResult(success ? kSaveCompleteText.arg(displayPath(m_OutputPath)) : kSaveFailedText);
}

void SeriesVideoExporter::showResult(const QString &text)
{
    MessageDlg message;
    message.setButtonVisibility(MSG_BUTTON_OK);
    message.setMessage(text);
    message.exec();
}
