#include "app/CaptureState.h"

CaptureState captureState;
