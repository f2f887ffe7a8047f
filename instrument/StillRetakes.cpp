#include "StillRetakes.h"

#include "CameraAccess.h"

int StillRetakes::retakeMs()
{
    return kPauseMs + 2 * frameStallLimitMs();
}
