import com.kesta.vanmora.util.Halvix;

/**
 * Loads the library the way a user of the release folder does: the class from
 * dist/java, the library from the folder on java.library.path. Then opens the
 * first virtual HID pad and sends it a command, to show the natives are bound.
 * Exits 0 when that works, 1 with the reason when it does not.
 */
public final class ReleaseFolderCheck {
    private ReleaseFolderCheck() {}

    public static void main(String[] args) {
        try {
            if (!Halvix.openUsbPort("HID1")) fail("HID1 did not open");
            boolean sent = Halvix.putCmdString(new byte[] {1, 2, 3});
            Halvix.closeUsbPort();
            if (!sent) fail("putCmdString answered false on HID1");
        } catch (LinkageError e) {
            fail("the library did not bind to the class: " + e);
        }
        System.out.println("dist/java binds to the library");
    }

    private static void fail(String reason) {
        System.out.println("release folder check failed: " + reason);
        System.exit(1);
    }
}
