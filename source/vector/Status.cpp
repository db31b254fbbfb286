#include "vector/Status.h"

#include <QtGlobal>

namespace ox::vec {

const char* statusText(int code) noexcept
{
    switch (code) {
    case StsNoErr:
        return "No errors";
    case StsNullPtrErr:
        return "Null pointer error";
    case StsFftOrderErr:
        return "Invalid FFT order";
    case StsRangeErr:
        return "Bad value of argument";
    case StsNotInitialised:
        return "Object not initialised";
    default:
        return "Unknown status";
    }
}

void reportStatus(const char* source, int line, int code)
{
    qWarning("%s:%d : code: %d , text: %s", source, line, code, statusText(code));
}

} // namespace ox::vec
