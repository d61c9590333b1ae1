// System calls that not every supported Windows version has, found at run
// time so that the library still loads where they are missing (Windows XP
// SP3 and XP x64 are supported). Each lookup answers the call, or null where
// the system lacks it; any thread may look up, and each lookup asks anew.
#pragma once

#include "platform/platform.h"

namespace halvix {

// CancelSynchronousIo (Windows Vista and later): ends the synchronous I/O
// that `thread` is blocked in, if its driver lets it. Null on Windows XP.
using CancelSynchronousIoCall = BOOL(WINAPI*)(HANDLE thread);
CancelSynchronousIoCall findCancelSynchronousIo();

}  // namespace halvix
