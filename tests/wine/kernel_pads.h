// Cases against pads behind a real HID class stack: run by the harness under
// Wine inside the VM of tests/kernel/run-in-vm, while tests/kernel's pad
// emulator plays the pads (uhid devices, or one USB gadget pad) and takes its
// orders from a control file in the shared folder. Every figure is printed on
// standard output as "figure NAME: TEXT".
#pragma once

#include <string>

#include "loaded_dll.h"

namespace halvix::harness {

// `share` is the Unix path of the folder holding the emulator's "control" and
// "events" files. With `gadget` false: discovery among the uhid population,
// round trips, a stream, bursts beside a baseline reader, a silent close,
// open/close cycles and an unplug mid-stream (which removes the second pad).
// With `gadget` true: discovery and round trips with the one gadget pad.
void runKernelCases(const Library& lib, const std::string& share, bool gadget);

}  // namespace halvix::harness
