#include "BoardFault.h"

namespace {
struct NamedKind
{
    const char *name;
    BoardFault::Kind kind;
};
const NamedKind kinds[] = {
    {"silence", BoardFault::Silence},       {"busy", BoardFault::Busy},
    {"ng", BoardFault::Ng},                 {"split", BoardFault::Split},
    {"merge", BoardFault::Merge},           {"event", BoardFault::EventInExchange},
    {"replyevent", BoardFault::ReplyWithEvent}, {"garbage", BoardFault::Garbage},
    {"pos800000", BoardFault::Position800000},  {"short", BoardFault::ShortReply},
    {"late", BoardFault::Late},
};
} // namespace

QStringList BoardFault::names()
{
    QStringList list;
    for (const NamedKind &k : kinds)
        list << QLatin1String(k.name);
    return list;
}

QString BoardFault::name(Kind kind)
{
    for (const NamedKind &k : kinds)
        if (k.kind == kind)
            return QLatin1String(k.name);
    return QString();
}

bool BoardFault::parse(const QString &text, BoardFault *fault, QString *error)
{
    QString rest = text.trimmed();
    BoardFault f;
    const int at = rest.indexOf(QLatin1Char('@'));
    if (at >= 0) {
        f.match = rest.mid(at + 1);
        rest = rest.left(at);
    }
    QString name = rest.toLower();
    QString count;
    const int eq = name.indexOf(QLatin1Char('='));
    if (eq >= 0) {
        count = name.mid(eq + 1);
        name = name.left(eq);
    } else if (name == QLatin1String("ng3")) {
        name = QStringLiteral("ng");
        count = QStringLiteral("3");
    }
    bool known = false;
    for (const NamedKind &k : kinds) {
        if (name == QLatin1String(k.name)) {
            f.kind = k.kind;
            known = true;
        }
    }
    if (!known) {
        if (error)
            *error = QStringLiteral("unknown fault \"%1\" (known: %2)").arg(text, names().join(", "));
        return false;
    }
    if (count == QLatin1String("always")) {
        f.count = -1;
    } else if (!count.isEmpty()) {
        bool ok = false;
        f.count = count.toInt(&ok);
        if (!ok) {
            if (error)
                *error = QStringLiteral("bad count in fault \"%1\"").arg(text);
            return false;
        }
    }
    *fault = f;
    return true;
}

bool BoardFault::parseList(const QString &texts, QList<BoardFault> *faults, QString *error)
{
    for (const QString &text : texts.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        BoardFault f;
        if (!parse(text, &f, error))
            return false;
        faults->append(f);
    }
    return true;
}
