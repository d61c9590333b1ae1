import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.ByteArrayOutputStream;
import org.junit.jupiter.api.Test;

/** The unpackaged class with instance natives reaches the same functions. */
class UnpackagedHalvixTest {
    @Test
    void instanceNativesRoundTripACommand() {
        Halvix pad = new Halvix();
        assertTrue(pad.openUsbPort("HID2"));
        byte[] command = {9, 8, 7, 6, 5, 4, 3, 2, 1, 0, -1};
        assertTrue(pad.putCmdString(command));
        ByteArrayOutputStream back = new ByteArrayOutputStream();
        long deadline = System.nanoTime() + 2_000_000_000L;
        while (back.size() < command.length && System.nanoTime() < deadline) {
            byte[] more = pad.getSerialData();
            if (more != null) back.write(more, 0, more.length);
        }
        assertTrue(pad.closeUsbPort());
        assertArrayEquals(command, back.toByteArray());
        assertFalse(pad.openUsbPort("HID3"));
        assertTrue(pad.closeUsbPort());
    }
}
