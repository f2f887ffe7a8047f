#include "FineAF.h"

#include "ImMeasurer.h"
#include "ImReaderWriter.h"
#include "Paths.h"
#include "PrivateProfile.h"
#include "Utilities.h"

#include <QDebug>
#include <QDir>
#include <opencv2/core.hpp>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {
constexpr float kReductionLens = 0.63f;
constexpr float kStepsPerUm = 51.2f;
constexpr float kMinimumAperture = 0.001f;

float readFloatSetting(const char *section, const char *key, const char *def)
{
    std::string value;
    ReadPrivateProfileString(section, key, def, value, Paths::configFile().toStdString());
    bool ok = false;
    const float number = QString::fromStdString(value).trimmed().toFloat(&ok);
    return ok ? number : QString::fromLatin1(def).toFloat();
}
} // namespace

FineAF::FineAF(QObject *parent)
    : QObject(parent)
    , m_measurer(std::make_unique<ImMeasurer>())
    , m_work8(kFrameHeight, kFrameWidth, CV_8UC1)
{
}

FineAF::~FineAF() = default;

void FineAF::setFineAFParameter(const QString &magnification, const QString &lensName, int centre, float na,
                                float pixelSize)
{
    QString digits = magnification;
    digits.remove(QLatin1Char('X'));
    m_magnification = digits.trimmed().toInt(); // no number: 0, which canStart refuses
    m_lensName = lensName.trimmed();
    m_centrePos = centre;
    m_na = na;
    m_pixelSize = pixelSize;
    m_curve.clear();
}

TFineAFErrTable FineAF::canStart(int bits, int range)
{
    Q_UNUSED(bits)
    const float a = float(m_magnification) * kReductionLens * m_na;
    if (a == 0.0f || !(std::fabs(m_na) > kMinimumAperture) || !std::isfinite(a))
        return FINEAF_ERR_DOF;

    const float dof = float(0.5 / (double(m_na) * double(m_na)) + m_pixelSize / a);
    const float factor = readFloatSetting("Focus", "DOF_Factor", "0.5");
    const double raw = double(dof * factor * kStepsPerUm);
    // Rounded as the number is printed with no decimals.
    const int interval = std::isfinite(raw) && std::fabs(raw) < 1e9 ? QString::number(raw, 'f', 0).toInt() : 0;
    if (interval <= 0)
        return FINEAF_ERR_DOF; // a scan that would not move

    const int64_t reach = int64_t(range) * interval;
    if (std::llabs(reach) > std::numeric_limits<int>::max() / 4)
        return FINEAF_ERR_DOF;

    m_dof = dof;
    m_interval = interval;
    m_step = interval;
    m_imageNumber = 2 * range + 1;
    m_count = 0;
    m_startPos = m_centrePos - int(reach);
    m_endPos = m_centrePos + int(reach);

    if (isEnableSerialLog()) {
        qDebug() << "DOF =" << m_dof;
        qDebug() << "AF Interval =" << m_interval;
        qDebug() << "AF Range =" << 2 * range * m_interval;
        qDebug() << "Image =" << m_imageNumber;
    }
    return m_imageNumber <= 1 ? FINEAF_ERR_DOF : FINEAF_NO_ERROR;
}

unsigned char *FineAF::eightBitFrame(unsigned char *frame, int bits)
{
    if (bits != 16)
        return frame;
    // Camera words are big-endian: the first byte of each pixel is its upper byte.
    const cv::Mat wide(kFrameHeight, kFrameWidth, CV_8UC2, frame);
    cv::extractChannel(wide, m_work8, 0);
    return m_work8.data;
}

double FineAF::score(unsigned char *frame, int bits, bool cellCount)
{
    try {
        m_measurer->setImageData(eightBitFrame(frame, bits), kFrameWidth, kFrameHeight, 8);
        return m_measurer->GetFocusValue(cellCount);
    } catch (const cv::Exception &e) {
        qWarning() << "FineAF: scoring failed:" << e.what();
        return 0.0;
    }
}

void FineAF::setFocusValueAtMotorPosition(unsigned char *frame, int bits, int motorPosition, bool cellCount)
{
    const double value = score(frame, bits, cellCount);
    m_curve.push_back(FocusResult{value, motorPosition});
    if (isEnableSerialLog())
        qDebug() << "AF motor position =" << motorPosition << "focus value =" << value;
}

bool FineAF::bestPoint(const std::vector<FocusResult> &curve, int &position, int &index, double &value)
{
    if (curve.size() < 2)
        return false;
    double best = std::numeric_limits<double>::lowest();
    bool varies = false;
    for (size_t i = 0; i < curve.size(); ++i) {
        if (curve[i].focusValue > best) {
            best = curve[i].focusValue;
            position = curve[i].motorPosition;
            index = int(i) + 1;
            value = best;
        }
        if (i > 0 && curve[i].focusValue != curve[i - 1].focusValue)
            varies = true;
    }
    return varies;
}

bool FineAF::bestPointBetweenSteps(const std::vector<FocusResult> &curve, int &position, int &index, double &value)
{
    if (!bestPoint(curve, position, index, value))
        return false;
    const size_t best = size_t(index - 1);
    if (best == 0 || best + 1 >= curve.size())
        return true;
    // The parabola through (u0, d0), (0, 0) and (u2, d2), taken relative to the best point.
    const FocusResult &before = curve[best - 1], &after = curve[best + 1];
    const double u0 = double(before.motorPosition) - position, u2 = double(after.motorPosition) - position;
    const double d0 = before.focusValue - value, d2 = after.focusValue - value;
    if (!(u0 < 0 && u2 > 0) && !(u0 > 0 && u2 < 0))
        return true; // neighbours not on either side: no vertex between them
    const double a = (d0 * u2 - d2 * u0) / (u0 * u2 * (u0 - u2));
    const double b = (d0 - a * u0 * u0) / u0;
    if (!(a < 0))
        return true; // no peak (scores that are not numbers)
    const double vertex = std::clamp(-b / (2 * a), std::min(u0, u2), std::max(u0, u2));
    position += int(std::lround(vertex));
    return true;
}

bool FineAF::GetAFMotorPosion2(int &position, int &index, double &value) const
{
    const bool found = bestPoint(m_curve, position, index, value);
    if (isEnableSerialLog() && m_curve.size() >= 2)
        qDebug() << "AF Position =" << position << value;
    return found;
}

bool FineAF::GetAFMotorPosion(int &position) const
{
    int index = 0;
    double value = 0.0;
    return GetAFMotorPosion2(position, index, value);
}

bool FineAF::GetAFMotorPositionBetweenSteps(int &position, int &index, double &value) const
{
    const bool found = bestPointBetweenSteps(m_curve, position, index, value);
    if (isEnableSerialLog() && m_curve.size() >= 2)
        qDebug() << "AF Position =" << position << value;
    return found;
}

void FineAF::setFocusValueAtMotorPosition2(unsigned char *frame, int bits, int motorPosition, bool cellCount,
                                           int folderNumber)
{
    setFocusValueAtMotorPosition(frame, bits, motorPosition, cellCount);
    const QString folder = Paths::ssd() + QStringLiteral("/testTime/%1").arg(folderNumber);
    if (!QDir().mkpath(folder)) {
        qWarning() << "FineAF: cannot make" << folder;
        return;
    }
    const QString name = QString::asprintf("%s[%d] %s(%d).tif", "FineAF", int(m_curve.size()),
                                           QByteArray::number(motorPosition).constData(),
                                           int(m_curve.back().focusValue));
    ImReaderWriter writer;
    const quint16 depth = bits == 16 ? 16 : 8;
    if (!writer.load(frame, kFrameWidth, kFrameHeight, depth, 1, 1, 1, 1)
        || !writer.write((folder + QLatin1Char('/') + name).toUtf8(), QByteArray()))
        qWarning() << "FineAF: cannot write" << name << writer.errorString();
}

int FineAF::deleteRawData()
{
    const QString folder = Paths::ssd() + QStringLiteral("/FineAF/");
    if (!QDir(folder).removeRecursively())
        return -1;
    createTemporaryPath(folder);
    return 1;
}
