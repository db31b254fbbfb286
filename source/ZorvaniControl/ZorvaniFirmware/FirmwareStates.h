#pragma once

#include <QString>

// The steps and outcomes of a firmware update as `ZorvaniFirmware::state(int)`
// reports them, and the text its window or error box shows for each.
namespace zorvani::firmware {

enum State : int {
    Connecting = 0,
    EnteringBootloader = 1,
    Erasing = 2,
    Writing = 3,        // progress 0 ... 100 follows
    Verifying = 4,
    Resetting = 5,      // image written, leaving the bootloader
    PortError = 6,      // the link to the receiver could not be opened
    NoBootloader = 7,   // the receiver did not enter its bootloader
    EraseFailed = 8,
    NoImage = 9,        // the image resource cannot be opened
    ImageTooLarge = 10, // more than kImageBytes
    NoApplication = 11, // the image went out, but the application did not answer afterwards
    WriteFailed = 12,   // both write attempts failed; the receiver waits in its bootloader
    Finished = 13,
    UpToDate = 14,
};

// States 6 ... 12 end an update with an error box offering Retry.
inline bool isError(int state)
{
    return state >= PortError && state <= WriteFailed;
}

// True for the states after which the update thread has ended.
inline bool isEnd(int state)
{
    return isError(state) || state == Finished || state == UpToDate;
}

// "Connection", "Executing step 1", ... for the steps; the error box's message
// for states 6 ... 12; a short description for 13 and 14.
QString stateText(int state);

} // namespace zorvani::firmware
