#pragma once

// Status codes of the vector primitives and the one warning shape used to
// report them: "<source>:<line> : code: <code> , text: <text>".
namespace ox::vec {

enum Status : int {
    StsNoErr = 0,
    StsRangeErr = -7,
    StsNullPtrErr = -8,
    StsFftOrderErr = -15,
    StsNotInitialised = -17,
};

const char* statusText(int code) noexcept;

// Warning through Qt's message handler for a failed primitive.
void reportStatus(const char* source, int line, int code);

} // namespace ox::vec
