import com.kesta.vanmora.util.Halvix;

import java.util.Arrays;

/** Opens HID1 on the virtual bus, sends a command and shows its echo. */
public final class HalvixDemo {
    public static void main(String[] args) throws Exception {
        if (!Halvix.openUsbPort("HID1")) {
            System.out.println("HID1: no pad found");
            System.exit(1);
        }
        byte[] command = "HELLO PAD".getBytes("US-ASCII");
        Halvix.putCmdString(command);
        byte[] back = new byte[0];
        for (int i = 0; i < 50 && back.length < command.length; i++) {
            byte[] more = Halvix.getSerialData();
            if (more != null) {
                byte[] joined = Arrays.copyOf(back, back.length + more.length);
                System.arraycopy(more, 0, joined, back.length, more.length);
                back = joined;
            }
        }
        Halvix.closeUsbPort();
        System.out.println("sent:     " + new String(command, "US-ASCII"));
        System.out.println("received: " + new String(back, "US-ASCII"));
        boolean same = Arrays.equals(command, back);
        System.out.println(same ? "round trip matched" : "round trip differed");
        System.exit(same ? 0 : 1);
    }
}
