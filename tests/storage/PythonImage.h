#pragma once
#include "HangBound.h"

#include <QByteArray>
#include <QFile>
#include <QProcess>
#include <QStringList>

// How Python reads a saved image: tifffile for TIFF, Pillow for PNG, JPG and BMP (palette images
// through their palette). Fills shape ("1024x1280x3"), dtype ("uint8"), the TIFF orientation (1
// when the file has none), the ImageDescription, and the samples row by row.
struct PythonImage
{
    QString shape;
    QString dtype;
    int orientation = 0;
    QString description;
    QByteArray samples;

    // One Python run for all files; an entry stays empty when the file could not be read.
    static QList<PythonImage> read(const QStringList &paths, const QString &scratch)
    {
        static const char *script = R"(
import sys, numpy as np
for p, out in zip(sys.argv[1::2], sys.argv[2::2]):
    try:
        orientation, desc = 1, ''
        if p.lower().endswith(('.tif', '.tiff')):
            import tifffile
            with tifffile.TiffFile(p) as t:
                page = t.pages[0]
                a = page.asarray()
                desc = page.description
                if 'Orientation' in page.tags:
                    orientation = int(page.tags['Orientation'].value)
        else:
            from PIL import Image
            im = Image.open(p)
            a = np.asarray(im.convert('RGB') if im.mode == 'P' else im)
            if im.mode == 'P' and (a[..., 0] == a[..., 1]).all() and (a[..., 1] == a[..., 2]).all():
                a = a[..., 0]  # a grey palette
        np.ascontiguousarray(a).tofile(out)
        print('x'.join(map(str, a.shape)), a.dtype, orientation, desc.replace('\n', ' '), sep='|')
    except Exception as e:
        print('error|' + str(e).replace('\n', ' '))
)";
        QStringList args{"-c", script};
        for (int i = 0; i < paths.size(); ++i)
            args << paths[i] << QString("%1/python_%2.bin").arg(scratch).arg(i);
        QProcess python;
        python.start("/usr/bin/python3", args);
        python.waitForFinished(kHangBoundMs);
        const QStringList lines = QString::fromUtf8(python.readAllStandardOutput()).split('\n');
        QList<PythonImage> out;
        for (int i = 0; i < paths.size(); ++i) {
            PythonImage image;
            const QStringList fields = lines.value(i).split('|');
            if (fields.size() >= 4) {
                image.shape = fields[0];
                image.dtype = fields[1];
                image.orientation = fields[2].toInt();
                image.description = fields.mid(3).join('|');
                QFile dump(QString("%1/python_%2.bin").arg(scratch).arg(i));
                if (dump.open(QIODevice::ReadOnly))
                    image.samples = dump.readAll();
            } else {
                image.shape = lines.value(i);
            }
            out << image;
        }
        return out;
    }
};
