// The video export of a Z-stack through the browser and the system's ffmpeg.
//
// video_export: the whole export of 60 slices at 5 images a second (every slice shown, rendered
// and staged as an RGB TIFF, the encoder run, the staging folder removed), against its floor: the
// same ffmpeg command on the same 60 frames already staged. The deliberate pauses of an export
// (the second before staging, the waits for the page cache) are set to nothing here: they are
// waits, not work.
//
// video_stage_frame: one staged frame (shown, rendered, written) against a plain write(2) of its
// 3,932,160 bytes to the same folder.
#include "GuiBenchMain.h"
#include "DialogRunner.h"
#include "FileWriteBench.h"
#include "Globals.h"
#include "Paths.h"
#include "SeriesVideoExporter.h"
#include "Utilities.h"
#include "ZStackImageWidget.h"
#include "ZStackSliceWriter.h"

#include <QDialog>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QSpinBox>

namespace {

constexpr int kSlices = 60;

// 60 grey slices in a folder on the SSD and a browser holding them.
struct Stack
{
    QString folder = Paths::ssd() + "/bench_stack";
    ZStackImageWidget browser;
    bool ok = true;

    Stack()
    {
        QDir().mkpath(folder);
        QByteArray samples(ZStackSliceWriter::kWidth * ZStackSliceWriter::kHeight, Qt::Uninitialized);
        ZStackSliceWriter writer;
        std::vector<ThumbnailInfo> slices(kSlices);
        for (int i = 0; i < kSlices; ++i) {
            for (int p = 0; p < samples.size(); ++p)
                samples[p] = char(((p % 1280) + (p / 1280) + i * 9) & 0xFF);
            slices[size_t(i)].path = folder + QString("/slice_%1.tif").arg(i, 4, 10, QChar('0'));
            ok = ok && writer.setFrame(reinterpret_cast<const uchar *>(samples.constData()), 8)
                 && writer.write(slices[size_t(i)].path, "Objective: Olympus 10X NA 0.25 UPlanFL");
        }
        browser.resize(1495, 1020);
        browser.loadThumbnail(slices);
    }
    ~Stack() { QDir(folder).removeRecursively(); }
    QString video() const { return folder + "/bench_stack.mp4"; }
};

// The user's part of one export: frame rate 5 and OK, the progress box until it closes, OK on the
// final message (remembered).
void scriptExport(QString *message)
{
    DialogRunner::pushScript([](QDialog *d) {
        d->findChild<QSpinBox *>("SPINBOX_FR")->setValue(5);
        DialogRunner::click(d, "BUTTON_APPLY");
        return d->result();
    });
    DialogRunner::pushScript([](QDialog *d) { return DialogRunner::showAndRun(d, [](QDialog *) {}, 600000); });
    DialogRunner::pushScript([message](QDialog *d) {
        auto *label = d->findChild<QLabel *>("message_label");
        *message = label ? label->text() : QString();
        return 1;
    });
}

void video_export(benchmark::State &state)
{
    Stack stack;
    if (!stack.ok) {
        state.SkipWithError("stack not written");
        return;
    }
    SeriesVideoExporter::setStartDelayMs(0);
    SeriesVideoExporter::setFlushTimeoutMs(0);
    for (auto _ : state) {
        QString message;
        state.PauseTiming();
        QFile::remove(stack.video());
        scriptExport(&message);
        state.ResumeTiming();
        stack.browser.slotSaveVideo();
        if (!message.contains("Save Complete")) {
            state.SkipWithError("export failed");
            return;
        }
    }
}

void video_export_floor(benchmark::State &state)
{
    Stack stack;
    const QString staging = Paths::path(SeriesVideoExporter::kStagingFolder);
    QDir().mkpath(staging);
    for (int i = 0; stack.ok && i < kSlices; ++i)
        stack.ok = stack.browser.videoExporter()->stageFrame(i, staging + SeriesVideoExporter::stagedFrameName(i, kSlices));
    if (!stack.ok) {
        state.SkipWithError("frames not staged");
        return;
    }
    EncodingParam param;
    param.frameRate = 5;
    const QStringList args = SeriesVideoExporter::encoderArguments(param, stack.video(), nullptr);
    for (auto _ : state) {
        QProcess encoder;
        encoder.setProcessChannelMode(QProcess::MergedChannels);
        encoder.start(Paths::path(SeriesVideoExporter::kEncoderPath), args);
        if (!encoder.waitForFinished(600000) || encoder.exitCode() != 0) {
            state.SkipWithError("ffmpeg failed");
            break;
        }
    }
    QDir(staging).removeRecursively();
}

void video_stage_frame(benchmark::State &state)
{
    Stack stack;
    QTemporaryDir dir(benchFolder() + "/bench-XXXXXX");
    const QString path = dir.path() + "/Image_00001.tif";
    int row = 0;
    for (auto _ : state) {
        if (!stack.browser.videoExporter()->stageFrame(row++ % kSlices, path)) {
            state.SkipWithError("frame not staged");
            return;
        }
        removeUntimed(state, QFile::encodeName(path));
    }
}

void video_stage_frame_floor(benchmark::State &state)
{
    plainWriteFloor(state, "Image_00001.raw", QByteArray(int(SeriesVideoExporter::kStagedFrameBytes), char(7)));
}

// The sandbox the export works in: the SSD, the configuration folder and the system's ffmpeg at
// the encoder's path.
void prepare()
{
    initializePseudoColorTable();
    g_CurrentMenu = MENU_ZSTACK;
    QDir().mkpath(Paths::ssd());
    QDir().mkpath(Paths::configDir());
    QDir().mkpath(Paths::path("/root/Microscope/FFmpeg"));
    QFile::link("/usr/bin/ffmpeg", Paths::path(SeriesVideoExporter::kEncoderPath));
}

} // namespace

BENCHMARK(video_export)->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(video_export_floor)->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(video_stage_frame)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(video_stage_frame_floor)->UseRealTime()->Unit(benchmark::kMillisecond);

int main(int argc, char **argv)
{
    return runGuiBenchmarks(argc, argv, prepare);
}
