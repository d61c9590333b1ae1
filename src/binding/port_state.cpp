#include "binding/port_state.h"

#include "binding/port_name.h"
#include "hid/hid_channel.h"
#include "legacy/legacy_channel.h"

namespace halvix {

PortState portState;

bool openPort(const char* name) {
    // The channels' opens do not look for a port already open: close it here
    // so that two readers never run and nothing the first port holds is lost.
    closePort();
    PortChoice choice = parsePortName(name);
    portState.hidMode.store(choice.legacy ? 0 : 1);
    return choice.legacy ? openLegacyPort(choice.ordinal) : openHidPort(choice.ordinal);
}

void closePort() {
    if (portState.hidMode.load() == 1) {
        closeHidPort();
    } else {
        closeLegacyPort();
    }
}

DWORD runReaderThread(void (*reader)()) {
    try {
        reader();
    } catch (...) {
    }
    portState.readerRunning.store(0);
    return 0;
}

}  // namespace halvix
