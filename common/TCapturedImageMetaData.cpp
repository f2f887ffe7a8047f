#include "TCapturedImageMetaData.h"

#include "Globals.h"

#include <QStringList>

QString TCapturedImageMetaData::metaText(int forChannel) const
{
    int c = forChannel;
    if (c < 0 || c >= kChannels)
        c = (channel >= 0 && channel < kChannels) ? channel : 0;
    return QStringList{instrument, serialNumber, version, cameraMode, filterCube[c], objective[c],
                       light[c], exposure[c], gain[c]}
        .join(';');
}

QMutex &capturedImageMetaDataLock()
{
    static QMutex lock;
    return lock;
}

TCapturedImageMetaData capturedImageMetaData()
{
    QMutexLocker lock(&capturedImageMetaDataLock());
    return g_CapturedImageMetaData;
}
