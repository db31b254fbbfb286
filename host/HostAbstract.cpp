// Anchors the meta-object code of the host's abstract classes in one library.
#include "DeviceAbstract.h"
