#include "FineAF.h"

#include "ImMeasurer.h"
#include "ImReaderWriter.h"
#include "Paths.h"
#include "PrivateProfile.h"
#include "Utilities.h"

#include <QDebug>
#include <QDir>
#include <opencv2/core.hpp>

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

bool FineAF::GetAFMotorPosion2(int &position, int &index, double &value) const
{
    if (m_curve.size() < 2)
        return false;
    double best = std::numeric_limits<double>::lowest();
    bool varies = false;
    for (size_t i = 0; i < m_curve.size(); ++i) {
        if (m_curve[i].focusValue > best) {
            best = m_curve[i].focusValue;
            position = m_curve[i].motorPosition;
            index = int(i) + 1;
            value = best;
        }
        if (i > 0 && m_curve[i].focusValue != m_curve[i - 1].focusValue)
            varies = true;
    }
    if (isEnableSerialLog())
        qDebug() << "AF Position =" << position << value;
    return varies;
}

bool FineAF::GetAFMotorPosion(int &position) const
{
    int index = 0;
    double value = 0.0;
    return GetAFMotorPosion2(position, index, value);
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
