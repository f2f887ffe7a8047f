#pragma once
#include "TCellCountErrTable.h"
#include "TCountMode.h"
#include "ThumbnailInfo.h"
#include "nimbo_protocol_t.h"
#include "protocol_t.h"

#include <QObject>
#include <QString>
#include <vector>

class ImMeasurer;

// The model behind the Cell count page: its current counting protocol, whether a count may start,
// the work folder of the count in progress ("/media/VANTOR SSD/.CellCount/") with the thumbnails
// of its images, and the mean intensity of a camera frame for the light adjustment. GUI thread.
class CellCount : public QObject
{
    Q_OBJECT
public:
    explicit CellCount(QObject *parent = nullptr);
    ~CellCount() override;

    // Checks in order, returning at the first that fails: for an automatic count the 8-bit camera
    // mode (1) and an objective below 5X (2); free space on the SSD (3); with clean, the emptied
    // work folder (5). Nothing is deleted unless every other check passed.
    TCellCountErrTable canStart(int bits, const float &magnification, bool clean, TCountMode mode);
    // Removes the work folder with everything in it and makes it anew; the thumbnails are emptied
    // either way. 1 when the folder is there again, empty; -1 otherwise.
    int deleteRawData();

    std::vector<ThumbnailInfo> &thumbnails() { return m_Thumbnails; }
    void pushThumbnail(ThumbnailInfo &info) { m_Thumbnails.push_back(info); }
    void clearThumbnails() { m_Thumbnails.clear(); }

    // Mean pixel value of a 1280 x 1024 camera frame: bytes for 8 bits, the 12-bit values of
    // most-significant-byte-first words for 16. The third argument is not used.
    double getAvgIntensityValue(unsigned char *frame, int bits, int);

    // Reads "Protocol_<name>_NIMBO.ini" into the protocol: a missing file or key gives the
    // fall-backs. A name that cannot be stored (a hand-edited configuration) is taken as DEFAULT.
    void LoadProtocol(const QString &name);
    nimbo_protocol_t &protocol() { return m_Protocol; }
    const nimbo_protocol_t &protocol() const { return m_Protocol; }
    protocol_t &secondEngineProtocol() { return m_ProtocolVesk; }

    // The live-cell sensitivity digit shown for MustDetect_intensity ("0" to "9").
    static QString convertLiveCellSensitivity(int mustDetectIntensity);
    // The caption of a noise-reduction kernel size: "Low", "Medium", "High" or "None".
    static QString convertDigitalFilteringToString(int nrKernelSize);

    // "/media/VANTOR SSD/.CellCount/" under the current root.
    static QString rawDataPath();

private:
    nimbo_protocol_t m_Protocol;
    protocol_t m_ProtocolVesk;
    ImMeasurer *m_pMeasurer;
    std::vector<ThumbnailInfo> m_Thumbnails;
};
