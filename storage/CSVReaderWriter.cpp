#include "CSVReaderWriter.h"

#include "SafeFileWriter.h"

#include <QDebug>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace {
// A length or area that cannot be known (no objective for a micrometre figure).
const QByteArray kUnknown = "N/A";
// "%.1f" as printf writes it (halves go to the even neighbour of the binary value).
QByteArray oneDecimal(double value)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.1f", value);
    return text;
}
}

const QByteArray CSVReaderWriter::defaultHeader =
    "Tool,Length,Area/Angle,Min(CH1),Max(CH1),Mean(CH1),Std(CH1),Min(CH2),Max(CH2),Mean(CH2),Std(CH2),"
    "Min(CH3),Max(CH3),Mean(CH3),Std(CH3),Min(CH4),Max(CH4),Mean(CH4),Std(CH4)";

CSVReaderWriter::CSVReaderWriter()
    : header(defaultHeader)
    , rows{defaultHeader}
{
}

CSVReaderWriter::~CSVReaderWriter() = default;

void CSVReaderWriter::setHeader(const QByteArray &text)
{
    header = text;
    if (rows.isEmpty())
        rows.append(text);
    else
        rows[0] = text;
}

void CSVReaderWriter::fillCSVData(const QByteArray &line)
{
    lastRow = line;
    rows.append(line);
}

QByteArray CSVReaderWriter::field(const QString &text)
{
    QByteArray bytes = text.toUtf8();
    if (!bytes.contains(',') && !bytes.contains('"') && !bytes.contains('\n') && !bytes.contains('\r'))
        return bytes;
    bytes.replace('"', "\"\"");
    return '"' + bytes + '"';
}

QByteArray CSVReaderWriter::lengthField(float length, int unit)
{
    if (std::isnan(length))
        return kUnknown;
    static const char *const units[] = {"um", "mm", "pixel"};
    return oneDecimal(length) + ' ' + units[qBound(0, unit, 2)];
}

QByteArray CSVReaderWriter::areaField(const QByteArray &tool, float area, int unit, float angle)
{
    if (tool == "Angle")
        return oneDecimal(angle);
    if (std::isnan(area))
        return kUnknown;
    static const char *const units[] = {"um^2", "mm^2", "pixel^2"};
    return oneDecimal(area) + ' ' + units[qBound(0, unit, 2)];
}

void CSVReaderWriter::fillDataField(const QByteArray &tool, float length, int lengthUnit, float area,
                                    int areaUnit, int min, int max, float mean, float std, float angle)
{
    lastRow = tool + ',' + lengthField(length, lengthUnit) + ',' + areaField(tool, area, areaUnit, angle) + ','
              + QByteArray::number(min) + ',' + QByteArray::number(max) + ','
              + oneDecimal(mean) + ',' + oneDecimal(std);
    rows.append(lastRow);
}

void CSVReaderWriter::fillDataFieldNew(int index, const QByteArray &tool, float length, int lengthUnit,
                                       float area, int areaUnit, const int min[4], const int max[4],
                                       const float mean[4], const float std[4], float angle)
{
    lastRow = tool + ',' + lengthField(length, lengthUnit) + ',' + areaField(tool, area, areaUnit, angle);
    for (int c = 0; c < 4; ++c)
        lastRow += ',' + QByteArray::number(min[c]) + ',' + QByteArray::number(max[c]) + ','
                   + oneDecimal(mean[c]) + ','
                   + oneDecimal(std[c]);
    if (index >= 0 && index < rows.size())
        rows[index] = lastRow;
    else
        rows.append(lastRow);
}

void CSVReaderWriter::removeCSVData(int index)
{
    if (index >= 0 && index < rows.size())
        rows.removeAt(index);
}

void CSVReaderWriter::erase()
{
    rows.clear();
    rows.append(header);
}

bool CSVReaderWriter::write(const char *path)
{
    // The whole file is laid out in one buffer and written with one call: cheaper than a write
    // per block or per row.
    qsizetype size = rows.isEmpty() ? 0 : rows.size() - 1;
    for (const QByteArray &row : rows)
        size += row.size();
    QByteArray bytes(int(size), Qt::Uninitialized);
    char *out = bytes.data();
    for (int i = 0; i < rows.size(); ++i) {
        if (i)
            *out++ = '\n';
        std::memcpy(out, rows.at(i).constData(), size_t(rows.at(i).size()));
        out += rows.at(i).size();
    }
    SafeFileWriter file(path);
    if (!file.open() || !file.write(bytes.constData(), bytes.size()) || !file.commit()) {
        qWarning().noquote() << "CSVReaderWriter: cannot write" << path << "-" << file.errorString();
        return false;
    }
    return true;
}

float CSVReaderWriter::fileSize() const
{
    return float(double(rows.size()) * 0.000126);
}
