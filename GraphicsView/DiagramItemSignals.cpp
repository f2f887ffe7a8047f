#include "DiagramItemSignals.h"
