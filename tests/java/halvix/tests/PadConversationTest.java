package halvix.tests;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.kesta.vanmora.util.Halvix;
import java.io.ByteArrayOutputStream;
import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.CsvSource;

/** The packaged class against the default virtual bus, through a real VM. */
class PadConversationTest {
    @AfterEach
    void closePort() {
        assertTrue(Halvix.closeUsbPort());
    }

    static byte[] readSerial(int bytes, long millis) {
        ByteArrayOutputStream back = new ByteArrayOutputStream();
        long deadline = System.nanoTime() + millis * 1_000_000L;
        while (back.size() < bytes && System.nanoTime() < deadline) {
            byte[] more = Halvix.getSerialData();
            if (more != null) back.write(more, 0, more.length);
        }
        return back.toByteArray();
    }

    static double millisOf(Runnable action) {
        long start = System.nanoTime();
        action.run();
        return (System.nanoTime() - start) / 1e6;
    }

    @ParameterizedTest
    @CsvSource({"HID1, 1", "HID1, 7", "HID1, 8", "HID1, 20", "HID2, 700", "HID2, 30000"})
    void commandsComeBackFromTheEchoingPads(String port, int length) {
        assertTrue(Halvix.openUsbPort(port));
        byte[] command = new byte[length];
        for (int i = 0; i < length; i++) command[i] = (byte) (i * 31 + 7);
        assertTrue(Halvix.putCmdString(command));
        assertArrayEquals(command, readSerial(length, 5000));
    }

    @ParameterizedTest
    @CsvSource({
        "USB1, true", "USB, true", "USB0, false", "USBx, false", "USB2, false",
        "HID1, true", "HID2, true", "HID3, false", "HID, true", "COM2, true", "usb1, true",
        "'', true"
    })
    void portNamesSelectPads(String name, boolean opens) {
        assertEquals(opens, Halvix.openUsbPort(name), name);
    }

    @Test
    void emptyCommandSendsNothingAndAnswersTrue() {
        assertTrue(Halvix.openUsbPort("HID1"));
        assertTrue(Halvix.putCmdString(new byte[0]));
        assertNull(Halvix.getSerialData());
    }

    @Test
    void modesAnswerAndPause() {
        assertTrue(Halvix.openUsbPort("HID1"));
        readSerial(Integer.MAX_VALUE, 50);  // whatever an earlier port left
        double emptyRing = millisOf(() -> assertNull(Halvix.getSerialData()));
        assertTrue(emptyRing >= 19, "an empty ring answers after its pause: " + emptyRing);
        while (Halvix.getPointData() != 0) {}
        double emptyQueue = millisOf(() -> assertEquals(0, Halvix.getPointData()));
        assertTrue(emptyQueue >= 9, "an empty queue answers after its pause: " + emptyQueue);

        assertTrue(Halvix.openUsbPort("USB1"));
        assertFalse(Halvix.putCmdString(new byte[] {1, 2, 3}));
        double legacy = millisOf(() -> assertNull(Halvix.getSerialData()));
        assertTrue(legacy < 15, "a legacy port answers at once: " + legacy);
    }

    @Test
    void legacyPadStreamsPointsUntilClosed() {
        assertTrue(Halvix.openUsbPort("HID1"));
        assertTrue(Halvix.closeUsbPort());
        assertTrue(Halvix.openUsbPort("USB1"));
        int points = 0;
        int negative = 0;
        long start = System.nanoTime();
        while (System.nanoTime() - start < 2_000_000_000L) {
            long p = Halvix.getPointData();
            if (p == 0) continue;
            points++;
            if (p < 0) negative++;
            assertTrue(p >= Integer.MIN_VALUE && p <= Integer.MAX_VALUE, "a 32-bit record: " + p);
        }
        double perSecond = points / ((System.nanoTime() - start) / 1e9);
        assertTrue(perSecond > 120 && perSecond < 300, "about 200 points a second: " + perSecond);
        assertTrue(negative > 0, "records with the top bit set come back negative");

        double close = millisOf(() -> assertTrue(Halvix.closeUsbPort()));
        assertTrue(close < 1000, "a prompt close: " + close);
        while (Halvix.getPointData() != 0) {}
        // The close went to the legacy channel: its reader queues nothing more.
        for (int i = 0; i < 20; i++) assertEquals(0, Halvix.getPointData());
    }
}
