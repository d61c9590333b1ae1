// The one place the channels and the binding get operating-system services
// from: device files with synchronous and overlapped I/O, threads and their
// priority, events and waits, sleeping, last-error codes, device set-up and
// the HID class library, under their Win32 names and contracts.
//
// The build picks the backend by include path: the Windows SDK on Windows,
// the virtual device bus on Linux (see vbus/os_api.h for the contracts the
// library relies on).
#pragma once

#include "os_api.h"

// Sizes of the set-up records as the running word size has them; SetupAPI
// rejects any other cbSize.
static_assert(sizeof(void*) == 4 ? sizeof(SP_DEVICE_INTERFACE_DATA) == 28
                                 : sizeof(SP_DEVICE_INTERFACE_DATA) == 32,
              "interface record size");
static_assert(sizeof(void*) == 4 ? sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) == 5
                                 : sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) == 8,
              "detail record size");
static_assert(sizeof(HIDD_ATTRIBUTES) == 12, "attributes record size");
