package com.kesta.vanmora.util;

/**
 * A program as a user writes one, started by the extraction tests in a VM of
 * its own with only the jar and this class on the class path. Touches Halvix,
 * sends HID1 a command and reads the echo. Prints "loaded PATH" and exits 0;
 * prints "failed: " and the error's message and exits 2 when the library did
 * not load; exits 3 when it loaded but the pad did not answer.
 */
public final class LoadProbe {
    private LoadProbe() {}

    public static void main(String[] args) throws InterruptedException {
        boolean opened;
        try {
            opened = Halvix.openUsbPort("HID1");
        } catch (UnsatisfiedLinkError e) {
            System.out.println("failed: " + e.getMessage());
            System.exit(2);
            return;
        }
        System.out.println("loaded " + Halvix.NativeLoader.loadedFrom());
        byte[] command = {0x48, 0x41, 0x4c, 0x56, 0x49, 0x58, 0x21, 0x0a, 0x00};
        boolean sent = opened && Halvix.putCmdString(command);
        int back = 0;
        long deadline = System.nanoTime() + 5_000_000_000L;
        while (sent && back < command.length && System.nanoTime() < deadline) {
            byte[] more = Halvix.getSerialData();
            if (more != null) back += more.length;
        }
        Halvix.closeUsbPort();
        if (back != command.length) {
            System.out.println("HID1 opened " + opened + ", sent " + sent + ", echoed " + back + " bytes");
            System.exit(3);
        }
    }
}
