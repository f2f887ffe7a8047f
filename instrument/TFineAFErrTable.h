#pragma once
#include "MessageDlg.h"

#include <QMetaType>

// Outcome of a fine autofocus as the panel and the time-lapse and cell-count pages see it. Every
// receiver shows an error as its preset message (fineAFErrorMessage).
enum TFineAFErrTable : int {
    FINEAF_NO_ERROR = 0,
    FINEAF_ERR_DISK_SPACE = 1,   // "Insufficient Disk Space"
    FINEAF_ERR_NOT_SUPPORTED = 2, // the objective (or the board) does not support the autofocus
    FINEAF_ERR_DOF = 3,          // the depth of field gives no usable scan
    FINEAF_ERR_NO_SSD = 4,       // the SSD drive is not detected
};

// The preset message of an error code; MSG_TYPE_COUNT for FINEAF_NO_ERROR or an unknown code.
inline TMessageType fineAFErrorMessage(TFineAFErrTable error)
{
    switch (error) {
    case FINEAF_ERR_DISK_SPACE:
        return MSG_INSUFFICIENT_DISK_SPACE;
    case FINEAF_ERR_NOT_SUPPORTED:
        return MSG_FINEAF_NOT_SUPPORTED;
    case FINEAF_ERR_DOF:
        return MSG_DOF_FAILED;
    case FINEAF_ERR_NO_SSD:
        return MSG_SSD_NOT_DETECTED;
    default:
        return MSG_TYPE_COUNT;
    }
}

Q_DECLARE_METATYPE(TFineAFErrTable)
