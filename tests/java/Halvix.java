/**
 * A class Halvix in the unnamed package with instance natives: the library's
 * exported JNI names bind to it without registration.
 */
public class Halvix {
    static {
        System.loadLibrary("Halvix");
    }

    public native boolean openUsbPort(String port);

    public native boolean closeUsbPort();

    public native long getPointData();

    public native boolean putCmdString(byte[] command);

    public native byte[] getSerialData();
}
