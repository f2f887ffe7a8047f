#include "BoardFirmware.h"

#include "VirtualInstrument.h"

#include <QRegularExpression>

#include <cmath>
#include <cstdlib>

namespace {
const QString NewPrefix = QStringLiteral("$A#");
const QByteArray LineEnd = QByteArrayLiteral("\r\n");

// A decimal integer without anything around it.
bool toInt(const QString &text, int *value)
{
    static const QRegularExpression number(QStringLiteral("^-?[0-9]{1,9}$"));
    if (!number.match(text).hasMatch())
        return false;
    *value = text.toInt();
    return true;
}

// The number after prefix in text ("STAGE SPEED 700" with "STAGE SPEED " gives 700).
bool numberAfter(const QString &text, const QString &prefix, int *value)
{
    return text.startsWith(prefix) && toInt(text.mid(prefix.size()), value);
}

QByteArray line(const QString &text)
{
    return text.toLatin1() + LineEnd;
}
} // namespace

BoardFirmware::BoardFirmware(VirtualInstrument &instrument, const BoardProfile &profile)
    : m_instrument(instrument)
{
    setProfile(profile);
}

void BoardFirmware::setProfile(const BoardProfile &profile)
{
    m_profile = profile;
    m_stageSpeed = profile.defaultSpeed;
    m_sliderSpeed = profile.defaultSpeed;
}

bool BoardFirmware::isCommand(const QString &line) const
{
    if (m_profile.newDialect)
        return line.startsWith(NewPrefix);
    return !line.isEmpty() && !line.startsWith(QLatin1Char('$'));
}

BoardFirmware::Reply BoardFirmware::handle(const QString &line)
{
    if (!isCommand(line))
        return Reply();
    return m_profile.newDialect ? handleNew(line) : handleOld(line);
}

int BoardFirmware::positionNow() const
{
    return m_instrument.state().stagePosition;
}

int BoardFirmware::filterSlot(int position, bool turning)
{
    return turning ? 0 : 4 - position;
}

BoardFirmware::Reply BoardFirmware::handleOld(const QString &cmd)
{
    Reply r;
    r.answered = true;
    r.command = cmd;
    int n = 0;
    int power = 0;
    const VirtualInstrument::State s = m_instrument.state();
    static const QRegularExpression led(QStringLiteral("^LED ([0-3]) ([0-9]{1,3})$"));
    const QRegularExpressionMatch ledMatch = led.match(cmd);

    if (cmd == QLatin1String("FILTER")) {
        r.text = QByteArray::number(s.filterTurning ? -1 : s.filterPosition);
    } else if (cmd == QLatin1String("OBJLENS")) {
        r.text = QByteArray::number(s.objectiveTurning ? 0 : s.objectivePosition);
    } else if (cmd == QLatin1String("Z POS")) {
        r.isPosition = true;
        r.text = QByteArray::number(s.stagePosition);
    } else if (numberAfter(cmd, QStringLiteral("Z SPEED "), &n) && n > 0) {
        m_stageSpeed = n * m_profile.speedScale;
        r.text = QByteArray::number(s.stagePosition);
    } else if (cmd == QLatin1String("Z STOP")) {
        m_instrument.stopStage();
        r.text = QByteArray::number(positionNow());
    } else if (cmd == QLatin1String("Z BOTTOM")) {
        m_instrument.moveTo(s.stageLower, m_stageSpeed);
        answerMove(r);
    } else if (cmd == QLatin1String("Z RESET")) {
        m_instrument.resetCounter();
        r.text = QByteArray::number(positionNow());
    } else if (numberAfter(cmd, QStringLiteral("Z "), &n)) {
        m_instrument.moveBy(n, m_stageSpeed);
        answerMove(r);
    } else if (ledMatch.hasMatch() && (power = ledMatch.captured(2).toInt()) <= 100) {
        m_instrument.setLed(ledMatch.captured(1).toInt(), power > 0, power);
        r.text = QByteArray::number(power);
    } else {
        r.text = QByteArrayLiteral("NG");
    }
    r.text += LineEnd;
    return r;
}

// The answer to an old-dialect move just started: where the stage is now, or where it will
// stand, held until it gets there.
void BoardFirmware::answerMove(Reply &reply) const
{
    const VirtualInstrument::State s = m_instrument.state();
    if (!m_profile.oldMoveAnswerAtEnd || !s.stageMoving || s.stageSpeed <= 0) {
        reply.text = QByteArray::number(s.stagePosition);
        return;
    }
    reply.text = QByteArray::number(s.stageTarget);
    reply.delayMs = int(std::ceil(std::abs(s.stageTarget - s.stagePosition) * 1000.0 / s.stageSpeed));
}

BoardFirmware::Reply BoardFirmware::ok(const QString &command, const QString &text) const
{
    Reply r;
    r.answered = true;
    r.command = command;
    r.text = line(QStringLiteral("$OK#A#") + text);
    return r;
}

BoardFirmware::Reply BoardFirmware::stageReply(const QString &command) const
{
    return ok(command, QStringLiteral("STAGE %1").arg(positionNow()));
}

BoardFirmware::Reply BoardFirmware::handleNew(const QString &line)
{
    const QString cmd = line.mid(NewPrefix.size());
    const VirtualInstrument::State s = m_instrument.state();
    int n = 0;

    if (cmd == QLatin1String("VER"))
        return ok(cmd, QStringLiteral("VER#") + m_profile.version);
    if (cmd == QLatin1String("STATUS") && m_profile.hasStatusQuery())
        return ok(cmd, QStringLiteral("STATUS#FILTER %1#OBJ %2")
                           .arg(filterSlot(s.filterPosition, s.filterTurning))
                           .arg(s.objectiveTurning ? 0 : s.objectivePosition));
    if (cmd == QLatin1String("FILTER"))
        return ok(cmd, QStringLiteral("FILTER %1").arg(filterSlot(s.filterPosition, s.filterTurning)));
    if (cmd == QLatin1String("OBJ"))
        return ok(cmd, QStringLiteral("OBJ %1").arg(s.objectiveTurning ? 0 : s.objectivePosition));
    if (cmd == QLatin1String("STAGE POS")) {
        Reply r = ok(cmd, QStringLiteral("STAGE POS#%1").arg(s.stagePosition));
        r.isPosition = true;
        return r;
    }
    if (cmd == QLatin1String("STAGE LIMIT TOP") || cmd == QLatin1String("STAGE LIMIT BOTTOM")) {
        const bool top = cmd.endsWith(QLatin1String("TOP"));
        return ok(cmd, cmd + QLatin1Char('#') + ((top ? s.atUpper() : s.atLower()) ? "1" : "0"));
    }
    if (m_profile.takesMaxAndAcc() && numberAfter(cmd, QStringLiteral("STAGE#MAX#"), &n) && n > 0) {
        m_stageSpeed = n * m_profile.maxSpeedScale;
        return ok(cmd, cmd);
    }
    if (m_profile.takesMaxAndAcc() && numberAfter(cmd, QStringLiteral("STAGE#ACC#"), &n) && n > 0) {
        m_acc = n;
        return ok(cmd, cmd);
    }
    if (numberAfter(cmd, QStringLiteral("STAGE SPEED "), &n) && n > 0) {
        m_stageSpeed = n * m_profile.speedScale;
        return ok(cmd, cmd);
    }
    if (numberAfter(cmd, QStringLiteral("SLIDER SPEED "), &n) && n > 0) {
        m_sliderSpeed = n * m_profile.speedScale;
        return ok(cmd, cmd);
    }
    if (cmd == QLatin1String("STAGE STOP")) {
        m_instrument.stopStage();
        return stageReply(cmd);
    }
    if (cmd == QLatin1String("STAGE RESET")) {
        m_instrument.resetCounter();
        return stageReply(cmd);
    }
    if (cmd == QLatin1String("STAGE BOTTOM") || cmd == QLatin1String("SLIDER BOTTOM")) {
        m_instrument.moveTo(s.stageLower, cmd.startsWith(QLatin1String("STAGE")) ? m_stageSpeed : m_sliderSpeed);
        return stageReply(cmd);
    }
    if (cmd == QLatin1String("SLIDER TOP")) {
        m_instrument.moveTo(s.stageUpper, m_sliderSpeed);
        return stageReply(cmd);
    }
    if (numberAfter(cmd, QStringLiteral("STAGE "), &n)) {
        m_instrument.moveBy(n, m_stageSpeed);
        return stageReply(cmd);
    }
    if (numberAfter(cmd, QStringLiteral("SLIDER "), &n)) {
        m_instrument.moveBy(n, m_sliderSpeed);
        return stageReply(cmd);
    }
    for (const bool coarse : {true, false}) {
        if (numberAfter(cmd, coarse ? QStringLiteral("KNOB COARSE ") : QStringLiteral("KNOB FINE "), &n)) {
            m_instrument.setKnobSpeed(coarse, n);
            return ok(cmd, cmd);
        }
    }
    static const QRegularExpression brt(QStringLiteral("^LED BRT([1-4]) ([0-9]{1,4})$"));
    static const QRegularExpression off(QStringLiteral("^LED OFF([1-4])$"));
    const int maxPower = m_profile.ledPowerInTenths() ? 1000 : 100;
    const QRegularExpressionMatch b = brt.match(cmd);
    if (b.hasMatch() && b.captured(2).toInt() <= maxPower) {
        const double percent = b.captured(2).toInt() * 100.0 / maxPower;
        m_instrument.setLed(4 - b.captured(1).toInt(), true, percent);
        return ok(cmd, cmd);
    }
    const QRegularExpressionMatch o = off.match(cmd);
    if (o.hasMatch()) {
        m_instrument.setLedOn(4 - o.captured(1).toInt(), false);
        return ok(cmd, cmd);
    }
    Reply r;
    r.answered = true;
    r.command = cmd;
    r.text = ngReply(line);
    return r;
}

QByteArray BoardFirmware::busyReply(const QString &line) const
{
    if (!m_profile.newDialect)
        return QByteArrayLiteral("BUSY") + LineEnd;
    return ::line(QStringLiteral("$BUSY#A#") + line.mid(NewPrefix.size()));
}

QByteArray BoardFirmware::ngReply(const QString &line) const
{
    if (!m_profile.newDialect)
        return QByteArrayLiteral("NG") + LineEnd;
    return ::line(QStringLiteral("$NG#A#") + line.mid(NewPrefix.size()));
}

QByteArray BoardFirmware::shortReply(const Reply &reply) const
{
    if (!m_profile.newDialect)
        return LineEnd;
    QByteArray text = reply.text.left(reply.text.size() - LineEnd.size());
    if (text.count('#') > 2)
        text.truncate(text.lastIndexOf('#'));
    else if (text.lastIndexOf(' ') > text.lastIndexOf('#'))
        text.truncate(text.lastIndexOf(' '));
    return text + LineEnd;
}

QByteArray BoardFirmware::positionReply(int position) const
{
    if (!m_profile.newDialect)
        return QByteArray::number(position) + LineEnd;
    return line(QStringLiteral("$OK#A#STAGE POS#%1").arg(position));
}

QByteArray BoardFirmware::event(const QString &text)
{
    return line(NewPrefix + text);
}
