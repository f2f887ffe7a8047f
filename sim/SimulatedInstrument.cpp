#include "SimulatedInstrument.h"

#include "Paths.h"

#include <atomic>

namespace {
std::atomic<SimulatedInstrument *> g_current {nullptr};

QString environment(const char *name)
{
    return qEnvironmentVariable(name).trimmed();
}
} // namespace

SimulatedInstrument::Options SimulatedInstrument::Options::fromEnvironment(QStringList *warnings)
{
    Options o;
    o.startBoard = environment("VANTOR_SERIAL_DEVICE").isEmpty();
    const QString firmware = environment("VANTOR_SIM_FIRMWARE");
    if (!firmware.isEmpty() && !BoardProfile::fromName(firmware, &o.profile) && warnings)
        *warnings << QStringLiteral("VANTOR_SIM_FIRMWARE: unknown profile \"%1\" (known: %2)")
                         .arg(firmware, BoardProfile::names().join(", "));
    const QString moveAnswer = environment("VANTOR_SIM_OLD_MOVE_ANSWER");
    if (!moveAnswer.isEmpty() && !o.profile.setOldMoveAnswer(moveAnswer) && warnings)
        *warnings << QStringLiteral("VANTOR_SIM_OLD_MOVE_ANSWER: \"%1\" is neither start nor end").arg(moveAnswer);
    QString error;
    QList<BoardFault> faults;
    if (BoardFault::parseList(environment("VANTOR_SIM_FAULTS"), &faults, &error))
        o.faults = faults;
    else if (warnings)
        *warnings << QStringLiteral("VANTOR_SIM_FAULTS: %1").arg(error);
    return o;
}

SimulatedInstrument::SimulatedInstrument(const Options &options) : m_options(options)
{
    m_instrument.setDefaultSpeed(options.profile.defaultSpeed);
    m_camera = std::make_unique<SimulatedCamera>(m_instrument);
    m_camera->setLogging(options.keepLog);
    if (!Paths::isInstrument())
        CameraTransport::setInstance(m_camera.get());
    g_current = this;
}

SimulatedInstrument::~SimulatedInstrument()
{
    SimulatedInstrument *self = this;
    g_current.compare_exchange_strong(self, nullptr);
    m_hand.reset(); // it may call the board
    m_board.reset();
}

bool SimulatedInstrument::start(QString *error)
{
    if (!m_options.startBoard || m_board)
        return true;
    auto board = std::make_unique<BoardSimulator>(m_instrument, m_options.profile);
    board->setLogging(m_options.keepLog);
    for (const BoardFault &fault : m_options.faults)
        board->injectFault(fault);
    if (!board->start(error))
        return false;
    m_board = std::move(board);
    return true;
}

bool SimulatedInstrument::startHand(QString *error)
{
    if (m_hand)
        return true;
    auto hand = std::make_unique<SimHand>(m_instrument, m_board.get());
    if (!hand->start(error))
        return false;
    m_hand = std::move(hand);
    return true;
}

QString SimulatedInstrument::devicePath() const
{
    if (!m_options.startBoard)
        return environment("VANTOR_SERIAL_DEVICE");
    return m_board ? m_board->devicePath() : QString();
}

QString SimulatedInstrument::serialDevice()
{
    const QString overridden = environment("VANTOR_SERIAL_DEVICE");
    if (!overridden.isEmpty())
        return overridden;
    if (Paths::isInstrument())
        return QStringLiteral("ttyS4");
    SimulatedInstrument *sim = g_current;
    return sim ? sim->devicePath() : QString();
}

SimulatedInstrument *SimulatedInstrument::current()
{
    return g_current;
}
