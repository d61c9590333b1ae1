import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.kesta.vanmora.util.Halvix;
import java.io.ByteArrayOutputStream;
import java.io.File;
import java.nio.charset.StandardCharsets;
import java.util.Arrays;
import java.util.concurrent.TimeUnit;
import java.util.function.LongSupplier;
import java.util.stream.Stream;
import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.Arguments;
import org.junit.jupiter.params.provider.MethodSource;

/**
 * Hostile calls through a real VM: odd names, odd commands and data natives
 * called in the wrong state. Each must answer as the class documents, and the
 * VM must live on. The default virtual bus has echoing HID pads at HID1 and
 * HID2 and one streaming legacy pad at USB1.
 */
class HostileCallsTest {

    @AfterEach
    void closePort() {
        assertTrue(Halvix.closeUsbPort());
    }

    static String repeat(char c, int n) {
        char[] chars = new char[n];
        Arrays.fill(chars, c);
        return new String(chars);
    }

    static Stream<Arguments> names() {
        return Stream.of(
                Arguments.of("null", null, false),
                Arguments.of("empty: the first HID pad", "", true),
                Arguments.of("HID1", "HID1", true),
                Arguments.of("HID2", "HID2", true),
                Arguments.of("HID3: no third pad", "HID3", false),
                Arguments.of("USB1", "USB1", true),
                Arguments.of("USB2: no second legacy pad", "USB2", false),
                Arguments.of("USB0", "USB0", false),
                Arguments.of("HID-1", "HID-1", false),
                Arguments.of("5000 letters", repeat('x', 5000), false),
                Arguments.of("USB and 4997 ones", "USB" + repeat('1', 4997), false),
                Arguments.of("HID1 and 4996 spaces", "HID1" + repeat(' ', 4996), false),
                Arguments.of("16-character suffix", "HID0000000000000001", false),
                Arguments.of("beyond 32 bits", "HID2147483648", false),
                Arguments.of("2^32 + 1", "USB4294967297", false),
                Arguments.of("accent after the prefix", "HID\u00e9", false),
                Arguments.of("accent after the number", "HID1\u00e9", true),
                Arguments.of("CJK after USB1", "USB1\u4e2d\u6587", true),
                Arguments.of("full-width HID1", "\uff28\uff29\uff24\uff11", false),
                Arguments.of("surrogate pair", "HID\ud83d\ude00", false),
                Arguments.of("embedded NUL", "HID\u0000", false),
                Arguments.of("NUL before a number", "HID\u00001", false));
    }

    @ParameterizedTest(name = "{0}")
    @MethodSource("names")
    void namesAnswerAsDocumented(String label, String name, boolean opens) {
        assertEquals(opens, Halvix.openUsbPort(name), label);
        assertTrue(Halvix.closeUsbPort(), label);
    }

    /** Bytes from getSerialData until nothing has come for two calls in a row. */
    static byte[] drainSerial(long limitMs) {
        ByteArrayOutputStream got = new ByteArrayOutputStream();
        long end = System.nanoTime() + TimeUnit.MILLISECONDS.toNanos(limitMs);
        int quiet = 0;
        while (quiet < 2 && System.nanoTime() < end) {
            byte[] data = Halvix.getSerialData();
            if (data == null) {
                ++quiet;
            } else {
                quiet = 0;
                got.write(data, 0, data.length);
            }
        }
        return got.toByteArray();
    }

    static void drainPoints() {
        while (Halvix.getPointData() != 0) {
        }
    }

    /** The shortest of five calls, in milliseconds: noise only lengthens calls. */
    static double shortestMs(Runnable call) {
        double best = Double.MAX_VALUE;
        for (int i = 0; i < 5; ++i) {
            long start = System.nanoTime();
            call.run();
            best = Math.min(best, (System.nanoTime() - start) / 1e6);
        }
        return best;
    }

    @Test
    void commandsAnswerAsDocumented() {
        assertTrue(Halvix.openUsbPort("HID1"));
        drainSerial(2000);
        assertFalse(Halvix.putCmdString(null), "null command");
        assertTrue(Halvix.putCmdString(new byte[0]), "empty command");
        byte[] big = new byte[1 << 20];
        for (int i = 0; i < big.length; ++i) big[i] = (byte) (i * 31 + 7);
        assertTrue(Halvix.putCmdString(big), "1 MB command");
        // The echoes come faster than they are taken, so the ring overflows
        // and drops some; nothing is dropped before it first holds 32758.
        byte[] echoed = drainSerial(20000);
        assertTrue(echoed.length >= 32758 && echoed.length <= big.length, "echo of 1 MB: " + echoed.length);
        assertArrayEquals(Arrays.copyOf(big, 32758), Arrays.copyOf(echoed, 32758), "start of the echo");
        // Echoes of the big command still queued on a loaded machine may come
        // first; the small command's echo must come last and whole.
        byte[] small = {1, 2, 3, 4, 5, 6, 7, 8, 9};
        assertTrue(Halvix.putCmdString(small));
        byte[] after = drainSerial(5000);
        assertTrue(after.length >= small.length, "no echo after the 1 MB command");
        assertArrayEquals(small, Arrays.copyOfRange(after, after.length - small.length, after.length),
                "the pad still answers after the 1 MB command");
        assertTrue(Halvix.closeUsbPort());

        assertTrue(Halvix.openUsbPort("USB1"));
        assertFalse(Halvix.putCmdString(null), "null command, legacy port");
        assertFalse(Halvix.putCmdString(new byte[0]), "empty command, legacy port");
        assertFalse(Halvix.putCmdString(big), "1 MB command, legacy port");
    }

    @Test
    void dataNativesAfterAHidClose() {
        assertTrue(Halvix.openUsbPort("HID2"));
        assertTrue(Halvix.putCmdString(new byte[] {42}));
        assertTrue(Halvix.closeUsbPort());
        drainSerial(2000);  // what came before the close may still be handed out
        drainPoints();
        assertTrue(shortestMs(() -> assertNull(Halvix.getSerialData())) >= 19, "empty ring waits 20 ms");
        assertTrue(shortestMs(() -> assertEquals(0, Halvix.getPointData())) >= 9, "no point waits 10 ms");
        assertTrue(Halvix.putCmdString(new byte[] {1, 2}), "commands are taken while the mode is HID");
        assertFalse(Halvix.putCmdString(null));
    }

    @Test
    void dataNativesAfterALegacyClose() {
        assertTrue(Halvix.openUsbPort("USB1"));
        long end = System.nanoTime() + TimeUnit.SECONDS.toNanos(2);
        long point = 0;
        while (point == 0 && System.nanoTime() < end) point = Halvix.getPointData();
        assertTrue(point != 0, "the streaming pad sent a point");
        assertTrue(Halvix.closeUsbPort());
        assertTrue(shortestMs(() -> assertNull(Halvix.getSerialData())) < 15, "null at once");
        assertFalse(Halvix.putCmdString(new byte[] {1}));
        drainPoints();
        assertEquals(0, Halvix.getPointData());
    }

    @Test
    void alternatingModes() {
        for (int round = 0; round < 10; ++round) {
            assertTrue(Halvix.openUsbPort("USB1"), "USB1, round " + round);
            assertTrue(shortestMs(() -> assertNull(Halvix.getSerialData())) < 15, "legacy: null at once");
            assertFalse(Halvix.putCmdString(new byte[] {1}), "legacy: no commands");
            assertTrue(Halvix.closeUsbPort());

            assertTrue(Halvix.openUsbPort("HID1"), "HID1, round " + round);
            drainSerial(2000);
            byte[] command = {(byte) round, 2, 3};
            assertTrue(Halvix.putCmdString(command));
            assertArrayEquals(command, drainSerial(2000), "echo, round " + round);
            assertTrue(Halvix.closeUsbPort());
        }
    }

    /** Runs in a VM of its own: the data natives before any port was opened. */
    public static final class FreshVm {
        public static void main(String[] args) {
            check("serial data null at once", shortestMs(() -> assertNull(Halvix.getSerialData())) < 15);
            check("no point after 10 ms", shortestMs(() -> assertEquals(0, Halvix.getPointData())) >= 9);
            check("no command", !Halvix.putCmdString(new byte[] {1, 2, 3}));
            check("no null command", !Halvix.putCmdString(null));
            check("close", Halvix.closeUsbPort());
            check("open after all that", Halvix.openUsbPort("HID1") && Halvix.closeUsbPort());
            System.out.println("fresh VM done");
        }

        static void check(String what, boolean ok) {
            System.out.println((ok ? "ok   " : "FAIL ") + what);
        }
    }

    @Test
    void dataNativesBeforeAnyOpenInAFreshVm() throws Exception {
        String java = System.getProperty("java.home") + File.separator + "bin" + File.separator + "java";
        String classes = new File(HostileCallsTest.class.getProtectionDomain().getCodeSource().getLocation().toURI())
                .getPath();
        String tests = System.getProperty("java.class.path");
        Process vm = new ProcessBuilder(java, "-Djava.library.path=" + System.getProperty("java.library.path"),
                        "-cp", classes + File.pathSeparator + tests, FreshVm.class.getName())
                .redirectErrorStream(true)
                .start();
        assertTrue(vm.waitFor(60, TimeUnit.SECONDS), "the fresh VM hung");
        String out = new String(vm.getInputStream().readAllBytes(), StandardCharsets.UTF_8);
        assertEquals(0, vm.exitValue(), out);
        assertFalse(out.contains("FAIL"), out);
        assertTrue(out.contains("fresh VM done"), out);
    }
}
