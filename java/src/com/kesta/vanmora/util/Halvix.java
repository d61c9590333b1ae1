package com.kesta.vanmora.util;

/**
 * The Java face of the Halvix native library: five natives that open a
 * signature pad by port name, move its data and close it again.
 *
 * <p>Port names: "USB1", "USB2", ... select pads of the maker's legacy driver;
 * any other name ("HID1", "HID2", ...) selects a HID pad. The number counts
 * pads of that kind from 1. One port is open at a time; opening another closes
 * the first. Call the data natives from one thread, and never let open or
 * close overlap another call.
 */
public final class Halvix {
    static {
        System.loadLibrary("Halvix");
    }

    private Halvix() {}

    /** Opens the port; false when no such pad is present. */
    public static native boolean openUsbPort(String port);

    /** Closes the open port, if any; always true, after at most about 1 s. */
    public static native boolean closeUsbPort();

    /** The next point of a legacy port, or 0 after a 10 ms pause when none is queued. */
    public static native long getPointData();

    /**
     * Hands a command to the HID writer, which sends it to the open HID pad;
     * true whether or not a pad took it, false while a legacy port is in use.
     */
    public static native boolean putCmdString(byte[] command);

    /**
     * The serial bytes a HID pad sent since the last call, or null: at once on
     * a legacy port, after a 20 ms pause when nothing is queued.
     */
    public static native byte[] getSerialData();
}
