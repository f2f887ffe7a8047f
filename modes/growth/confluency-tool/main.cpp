// vantor-confluency: measures the confluency of one image as the growth monitor does and prints
//   confluency=P count=N threshold=T
// With --out the two result images replace older ones only when both are written whole. Exit 0
// on success, 2 on a refused input or a failed write of the result images, 1 when the line cannot
// be written (one line on standard error says why).
#include "CommandLineTool.h"
#include "GrowthMonitor.h"

#include <QFileInfo>
#include <QStringList>
#include <QTemporaryDir>

#include <cmath>
#include <cstdio>

namespace {

const char kUsage[] = "usage: vantor-confluency [--threshold auto|T] [--background white|dark] [--dilate] "
                      "[--min-area A] [--watershed L] [--out BASE] IMAGE";

struct Options
{
    GrowthMonitorParameter parameter;
    QByteArray image; // the name as the file system holds it, UTF-8 or not
    QString out;
};

bool hasImageExtension(const QString &path)
{
    static const QStringList extensions = {"tif", "tiff", "png", "jpg", "jpeg", "bmp"};
    const QString name = QFileInfo(path).fileName();
    const int dot = name.lastIndexOf('.');
    return dot > 0 && extensions.contains(name.mid(dot + 1).toLower());
}

bool refused(QString &why, const QString &reason)
{
    why = reason;
    return false;
}

// Reads the command line (args as text, raw as given) into options; on a refusal returns false
// with why.
bool parse(const QStringList &args, const QList<QByteArray> &raw, Options &options, QString &why)
{
    GrowthMonitorParameter &p = options.parameter;
    p.thresholdType = 0;
    p.thresholdValue = 0;
    p.background = 1;
    p.dilate = 0;
    p.minArea = 0;
    p.watershed = 0.0;
    for (int i = 0; i < args.size(); ++i) {
        QString arg = args[i], value;
        const bool option = arg.startsWith("--");
        const int equals = arg.indexOf('=');
        if (option && equals > 0) {
            value = arg.mid(equals + 1);
            arg = arg.left(equals);
        }
        auto takeValue = [&]() {
            if (equals > 0)
                return true;
            if (i + 1 >= args.size()) {
                why = arg + " needs a value";
                return false;
            }
            value = args[++i];
            return true;
        };
        bool ok = true;
        if (arg == "--threshold") {
            if (!takeValue())
                return false;
            if (value == "auto") {
                p.thresholdType = 0;
            } else {
                p.thresholdType = 1;
                p.thresholdValue = value.toInt(&ok);
                if (!ok || p.thresholdValue < 0 || p.thresholdValue > 255)
                    return refused(why, "--threshold must be auto or a whole number 0..255, not " + value);
            }
        } else if (arg == "--background") {
            if (!takeValue())
                return false;
            if (value != "white" && value != "dark")
                return refused(why, "--background must be white or dark, not " + value);
            p.background = value == "white" ? 1 : 0;
        } else if (arg == "--dilate" && equals < 0) {
            p.dilate = 1;
        } else if (arg == "--min-area") {
            if (!takeValue())
                return false;
            p.minArea = value.toInt(&ok);
            if (!ok || p.minArea < 0)
                return refused(why, "--min-area must be a whole number of 0 or more, not " + value);
        } else if (arg == "--watershed") {
            if (!takeValue())
                return false;
            p.watershed = value.toDouble(&ok);
            if (!ok || !std::isfinite(p.watershed) || p.watershed < 0)
                return refused(why, "--watershed must be a number of 0 or more, not " + value);
        } else if (arg == "--out") {
            if (!takeValue())
                return false;
            if (!hasImageExtension(value))
                return refused(why, "--out needs a file name with an image extension (.tif, .png, .jpg, .bmp), not "
                                        + value);
            // The result names are made from it as text: a name that is not text in the
            // system's encoding would be written under another name.
            if (QFile::encodeName(value) != (equals > 0 ? raw[i].mid(equals + 1) : raw[i]))
                return refused(why, "--out needs a file name in the system's encoding (UTF-8), not " + value);
            options.out = value;
        } else if (option || (arg.startsWith('-') && arg.size() > 1)) {
            return refused(why, "unknown option " + args[i]);
        } else if (!options.image.isEmpty()) {
            return refused(why, "only one image, not " + arg);
        } else {
            options.image = raw[i];
        }
    }
    if (options.image.isEmpty())
        return refused(why, "no image given");
    return true;
}

int refuse(const QString &why)
{
    return CommandLineTool::refuse(stderr, "vantor-confluency", why);
}

} // namespace

int main(int argc, char **argv)
{
    // Standard error carries only the one line of a refusal.
    CommandLineTool::quiet();
    QStringList args;
    QList<QByteArray> raw;
    for (int i = 1; i < argc; ++i) {
        raw << QByteArray(argv[i]);
        args << QFile::decodeName(raw.back());
    }
    if (args.contains("--help") || args.contains("-h")) {
        std::printf("%s\n", kUsage);
        return CommandLineTool::closedOutput("vantor-confluency", "the usage") ? 0 : 1;
    }
    Options options;
    QString why;
    if (!parse(args, raw, options, why))
        return refuse(why + " (" + kUsage + ")");

    QTemporaryDir scratch;
    QString base = options.out;
    if (base.isEmpty()) {
        if (!scratch.isValid())
            return refuse("cannot make a temporary folder");
        base = scratch.filePath(QFileInfo(QFile::decodeName(options.image)).fileName());
        if (!hasImageExtension(base))
            base += ".tif";
    }
    GrowthMonitor model;
    model.setGrowthMonitorParameter(options.parameter);
    float confluency = 0;
    int count = 0, threshold = 0;
    if (!model.getConfluencyValue(options.image.toStdString(), base, confluency, count, threshold))
        return refuse(model.errorString());
    std::printf("confluency=%.3f count=%d threshold=%d\n", double(confluency), count, threshold);
    return CommandLineTool::closedOutput("vantor-confluency", "the result") ? 0 : 1;
}
