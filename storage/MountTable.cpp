#include "MountTable.h"

#include "Paths.h"

#include <QFile>

namespace {
bool isOctal(char ch)
{
    return ch >= '0' && ch <= '7';
}
} // namespace

QString MountTable::decodeField(const QByteArray &field)
{
    QByteArray out;
    out.reserve(field.size());
    for (int i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() && isOctal(field[i + 1]) && isOctal(field[i + 2])
            && isOctal(field[i + 3])) {
            out += char(((field[i + 1] - '0') << 6) | ((field[i + 2] - '0') << 3) | (field[i + 3] - '0'));
            i += 3;
        } else {
            out += field[i];
        }
    }
    return QString::fromUtf8(out);
}

bool MountTable::read(QList<Entry> *entries)
{
    entries->clear();
    QFile file(Paths::path("/etc/mtab"));
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray text = file.readAll();
    if (file.error() != QFile::NoError)
        return false;
    for (const QByteArray &line : text.split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() < 3)
            continue;
        entries->append({decodeField(fields[0]), decodeField(fields[1]), decodeField(fields[2])});
    }
    return true;
}
