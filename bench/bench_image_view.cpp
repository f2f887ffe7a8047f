// The image view: a new frame of each depth into the view's pixmap item, against
// QPixmap::fromImage of a ready image of the same content; and the rendered picture of frame and
// 500 annotation items against the picture of the frame alone.
#include "GuiBenchMain.h"
#include "DiagramLineItem.h"
#include "DiagramRectItem.h"
#include "DiagramScene.h"
#include "LGraphicsView.h"
#include "Utilities.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QImage>
#include <QPixmap>
#include <vector>

namespace {

constexpr int W = 1280, H = 1024;

std::vector<uchar> frame(size_t bytesPerPixel)
{
    std::vector<uchar> data(size_t(W) * H * bytesPerPixel);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = uchar((i * 131) ^ (i >> 7));
    return data;
}

void viewFrame(benchmark::State &state, int bits, int channels, bool highByte)
{
    LGraphicsView view;
    view.m_bHighByte = highByte;
    const std::vector<uchar> data = frame(size_t(bits / 8 * channels));
    for (auto _ : state) {
        view.setImageData(7, const_cast<uchar *>(data.data()), bits, channels, false);
        benchmark::DoNotOptimize(view.pixmapItem());
    }
}

// The floor: the ready 8-bit picture of the same content turned into a pixmap.
void fromImage(benchmark::State &state, int channels)
{
    const std::vector<uchar> data = frame(size_t(channels));
    QImage ready(data.data(), W, H, W * channels, channels == 1 ? QImage::Format_Indexed8 : QImage::Format_RGB888);
    if (channels == 1) {
        initializePseudoColorTable();
        ready.setColorTable(g_PseudoColorTable[7]);
    }
    for (auto _ : state) {
        QPixmap pixmap = QPixmap::fromImage(ready);
        benchmark::DoNotOptimize(pixmap);
    }
}

void renderPicture(benchmark::State &state, int items)
{
    LGraphicsView view;
    const std::vector<uchar> data = frame(1);
    view.setImageData(7, const_cast<uchar *>(data.data()), 8, 1, true);
    DiagramScene *scene = view.diagramScene();
    for (int i = 0; i < items; ++i) {
        const qreal x = (i * 97) % 1200, y = (i * 61) % 950;
        QGraphicsItem *item;
        if (i % 2) {
            auto *line = new DiagramLineItem(QLineF(x, y, x + 60, y + 40), scene->itemMenu());
            line->setPen(QPen(Qt::red, 2));
            item = line;
        } else {
            auto *rect = new DiagramRectItem(QRectF(x, y, 50, 30), scene->itemMenu());
            rect->setPen(QPen(Qt::yellow, 1));
            item = rect;
        }
        scene->addGraphicsItem(item, false);
    }
    QImage picture;
    for (auto _ : state) {
        view.getImageData(picture);
        benchmark::DoNotOptimize(picture.constBits());
    }
}

void view_frame_8bit(benchmark::State &state) { viewFrame(state, 8, 1, true); }
void view_frame_8bit_floor(benchmark::State &state) { fromImage(state, 1); }
void view_frame_16bit_high(benchmark::State &state) { viewFrame(state, 16, 1, true); }
void view_frame_16bit_high_floor(benchmark::State &state) { fromImage(state, 1); }
void view_frame_16bit_scaled(benchmark::State &state) { viewFrame(state, 16, 1, false); }
void view_frame_16bit_scaled_floor(benchmark::State &state) { fromImage(state, 1); }
void view_frame_48bit(benchmark::State &state) { viewFrame(state, 16, 3, false); }
void view_frame_48bit_floor(benchmark::State &state) { fromImage(state, 3); }
void render_annotated_500(benchmark::State &state) { renderPicture(state, 500); }
void render_annotated_500_floor(benchmark::State &state) { renderPicture(state, 0); }

} // namespace

BENCHMARK(view_frame_8bit)->Unit(benchmark::kMillisecond);
BENCHMARK(view_frame_8bit_floor)->Unit(benchmark::kMillisecond);
BENCHMARK(view_frame_16bit_high)->Unit(benchmark::kMillisecond);
BENCHMARK(view_frame_16bit_high_floor)->Unit(benchmark::kMillisecond);
BENCHMARK(view_frame_16bit_scaled)->Unit(benchmark::kMillisecond);
BENCHMARK(view_frame_16bit_scaled_floor)->Unit(benchmark::kMillisecond);
BENCHMARK(view_frame_48bit)->Unit(benchmark::kMillisecond);
BENCHMARK(view_frame_48bit_floor)->Unit(benchmark::kMillisecond);
BENCHMARK(render_annotated_500)->Unit(benchmark::kMillisecond);
BENCHMARK(render_annotated_500_floor)->Unit(benchmark::kMillisecond);

int main(int argc, char **argv)
{
    return runGuiBenchmarks(argc, argv);
}
