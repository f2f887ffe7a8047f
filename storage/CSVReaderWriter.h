#pragma once
#include <QByteArray>
#include <QString>
#include <QVector>

// An in-memory result table written as a comma-separated file: row 0 is the header line, every
// other row one ready-made data line. Fields are placed as they are (see field() for quoting). GUI thread only.
class CSVReaderWriter
{
public:
    // The 19-column measurement header of a new table.
    static const QByteArray defaultHeader;

    CSVReaderWriter();
    CSVReaderWriter(const CSVReaderWriter &other) = default;
    CSVReaderWriter &operator=(const CSVReaderWriter &other) = default;
    virtual ~CSVReaderWriter();

    // Replaces row 0 (or adds it to an empty table).
    void setHeader(const QByteArray &text);
    // Appends a ready-made line.
    void fillCSVData(const QByteArray &line);
    // One field as RFC 4180 writes it: quoted (quotes doubled) when it holds a comma, a quote or
    // a line break.
    static QByteArray field(const QString &text);

    // Appends a seven-column row of one channel. Units: 0 um, 1 mm, 2 pixel. A length or area
    // that is not a number (unknown without an objective) is written "N/A".
    void fillDataField(const QByteArray &tool, float length, int lengthUnit, float area, int areaUnit,
                       int min, int max, float mean, float std, float angle);
    // A nineteen-column row of four channels: replaces row index when it exists, else appends.
    void fillDataFieldNew(int index, const QByteArray &tool, float length, int lengthUnit, float area,
                          int areaUnit, const int min[4], const int max[4], const float mean[4],
                          const float std[4], float angle);
    // Removes row index when it exists (row 0 is the header).
    void removeCSVData(int index);
    // Back to the header alone.
    void erase();

    // Writes the rows joined by LF, none after the last, as one whole file: true only when every
    // byte and the close succeeded; otherwise nothing is left at the path (an older file stays).
    bool write(const char *path);
    // Estimated file size in megabytes: 126 bytes per row.
    float fileSize() const;

    int rowCount() const { return rows.size(); }
    const QByteArray &row(int index) const { return rows.at(index); }

    QByteArray header;
    QByteArray lastRow;
    QVector<QByteArray> rows;

private:
    static QByteArray lengthField(float length, int unit);
    static QByteArray areaField(const QByteArray &tool, float area, int unit, float angle);
};
