#include "VisibleText.h"

namespace {

bool shownAsEscape(uint c)
{
    switch (QChar::category(c)) {
    case QChar::Other_Control:
    case QChar::Other_Format:
    case QChar::Other_Surrogate: // one without its other half
    case QChar::Separator_Line:
    case QChar::Separator_Paragraph:
        return true;
    default:
        return c == '\\';
    }
}

QString escape(uint c)
{
    switch (c) {
    case '\n':
        return QStringLiteral("\\n");
    case '\r':
        return QStringLiteral("\\r");
    case '\t':
        return QStringLiteral("\\t");
    case '\\':
        return QStringLiteral("\\\\");
    default:
        break;
    }
    if (QChar::category(c) == QChar::Other_Control)
        return QStringLiteral("\\x%1").arg(c, 2, 16, QLatin1Char('0'));
    return c > 0xffff ? QStringLiteral("\\U%1").arg(c, 8, 16, QLatin1Char('0'))
                      : QStringLiteral("\\u%1").arg(c, 4, 16, QLatin1Char('0'));
}

} // namespace

QString VisibleText::escaped(const QString &text)
{
    QString line;
    line.reserve(text.size());
    for (int i = 0; i < text.size(); ++i) {
        uint c = text[i].unicode();
        const bool pair = QChar::isHighSurrogate(c) && i + 1 < text.size() && text[i + 1].isLowSurrogate();
        if (pair)
            c = QChar::surrogateToUcs4(text[i], text[i + 1]);
        if (shownAsEscape(c))
            line += escape(c);
        else if (pair)
            line += text.midRef(i, 2);
        else
            line += text[i];
        i += pair ? 1 : 0;
    }
    return line;
}

bool VisibleText::unescaped(const QString &line, QString *text)
{
    QString plain;
    plain.reserve(line.size());
    for (int i = 0; i < line.size(); ++i) {
        if (line[i] != '\\') {
            plain += line[i];
            continue;
        }
        const QChar kind = i + 1 < line.size() ? line[i + 1] : QChar();
        const QChar named = kind == 'n' ? '\n' : kind == 'r' ? '\r' : kind == 't' ? '\t' : kind == '\\' ? '\\' : QChar();
        if (!named.isNull()) {
            plain += named;
            ++i;
            continue;
        }
        const int digits = kind == 'x' ? 2 : kind == 'u' ? 4 : kind == 'U' ? 8 : 0;
        bool ok = digits > 0 && i + 2 + digits <= line.size();
        const uint c = ok ? line.mid(i + 2, digits).toUInt(&ok, 16) : 0;
        if (!ok || c > 0x10ffff)
            return false;
        plain += QString::fromUcs4(&c, 1);
        i += 1 + digits;
    }
    // Only the escapes escaped writes: "\\u0041" is not "A".
    if (escaped(plain).compare(line, Qt::CaseInsensitive) != 0)
        return false;
    *text = plain;
    return true;
}
