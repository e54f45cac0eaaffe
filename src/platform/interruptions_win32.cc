#include "platform/interruptions.h"

// Windows has no signals of this kind to hold: both do nothing here.
namespace platform {

void holdInterruptions() {}
void releaseInterruptions() {}

}  // namespace platform
