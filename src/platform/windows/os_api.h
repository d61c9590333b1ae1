// The operating-system calls Halvix uses, on Windows: the SDK's own
// declarations of Win32, SetupAPI and the HID class library, as MinGW-w64
// ships them. The library links setupapi and hid for these.
#pragma once

#include <windows.h>
#include <setupapi.h>
// This SDK header declares its calls without C linkage of its own.
extern "C" {
#include <hidsdi.h>
}
