#include "SliceFiles.h"

#include "ImReaderWriter.h"

#include <QFile>
#include <QPixmap>
#include <cstring>

namespace SliceFiles {

const QString kObjective10X = QStringLiteral("Objective: Olympus 10X NA 0.25 UPlanFL");

QByteArray frame(int bits, int samplesPerPixel, int seed, int width, int height)
{
    const qint64 n = qint64(width) * height * samplesPerPixel;
    QByteArray out(int(n * (bits / 8)), Qt::Uninitialized);
    for (qint64 i = 0; i < n; ++i) {
        const quint32 v = quint32(seed) * 977u + quint32(i) * 13u;
        if (bits == 8) {
            out[int(i)] = char(v & 0xff);
        } else {
            const quint16 w = quint16(v & 0xffff);
            std::memcpy(out.data() + 2 * i, &w, 2);
        }
    }
    return out;
}

bool write(const QString &path, const QString &z, int bits, int samplesPerPixel, int seed, const QString &objective,
           int width, int height)
{
    QByteArray samples = frame(bits, samplesPerPixel, seed, width, height);
    if (bits == 16) {
        // The writer takes camera words and rotates them to plain intensities.
        auto *w = reinterpret_cast<quint16 *>(samples.data());
        for (int i = 0; i < samples.size() / 2; ++i)
            w[i] = quint16((w[i] >> 4) | (w[i] << 12));
    }
    ImReaderWriter image;
    if (!image.load(samples.constData(), quint32(width), quint32(height), quint16(bits), quint16(samplesPerPixel), 1,
                    samplesPerPixel == 3 ? 2 : 1, 1))
        return false;
    QString text = "Instrument: VANTOR S;Serial Number: VS000123;Filter Cube: GFP";
    if (!objective.isEmpty())
        text += ";" + objective;
    if (!z.isEmpty())
        text += ";Z Position: " + z;
    return image.write(path.toUtf8(), text.toUtf8());
}

std::vector<ThumbnailInfo> entries(const QStringList &paths)
{
    std::vector<ThumbnailInfo> out;
    for (const QString &path : paths) {
        ThumbnailInfo info;
        QPixmap picture(132, 100);
        picture.fill(Qt::gray);
        info.thumbnail = picture;
        info.path = path;
        out.push_back(info);
    }
    return out;
}

} // namespace SliceFiles
