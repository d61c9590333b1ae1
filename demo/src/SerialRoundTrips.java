import com.kesta.vanmora.util.Halvix;

import java.nio.charset.StandardCharsets;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;

/**
 * Command round trips on a HID pad. The virtual HID pads answer every output
 * report with the same bytes as an input report, so each command sent with
 * putCmdString must come back, whole and in order, through getSerialData.
 */
final class SerialRoundTrips {
    private SerialRoundTrips() {}

    /** One command and what came back for it. */
    record Result(String port, byte[] sent, byte[] received) {
        boolean matched() {
            return Arrays.equals(sent, received);
        }

        int length() {
            return sent.length;
        }
    }

    /** How long to wait for a whole echo before calling it short. */
    static final long ECHO_TIMEOUT_MS = 2000;

    /**
     * Commands of the lengths that matter: a report carries up to 7 command
     * bytes, so 1 and 7 bytes fit one report, 9 need two, and 600 bytes of
     * every value (zeros included) need 86.
     */
    static List<byte[]> commands() {
        byte[] every = new byte[600];
        for (int i = 0; i < every.length; i++) every[i] = (byte) i;
        return List.of(
            new byte[] {0x1B},
            ascii("STATUS?"),
            ascii("HELLO PAD"),
            every);
    }

    /** Opens the port, sends every command, shows each echo and closes the port again. */
    static List<Result> run(String port) {
        if (!Halvix.openUsbPort(port)) {
            throw new HalvixDemo.DemoFailure(port + ": no pad found");
        }
        System.out.println(port + ": opened");
        List<Result> results = new ArrayList<>();
        try {
            for (byte[] command : commands()) {
                Result result = roundTrip(port, command);
                results.add(result);
                System.out.printf("  sent     %-4d bytes  %s%n", command.length, describe(command));
                System.out.printf("  received %-4d bytes  %s  -> %s%n", result.received().length,
                    describe(result.received()), result.matched() ? "matched" : "DIFFERED");
            }
            byte[] stray = Halvix.getSerialData();
            if (stray != null) {
                throw new HalvixDemo.DemoFailure(port + " sent " + stray.length
                    + " bytes after the last echo: " + describe(stray));
            }
        } finally {
            Halvix.closeUsbPort();
        }
        System.out.println(port + ": closed");
        return results;
    }

    /** Shows that the port finds no pad. */
    static void expectNoPad(String port) {
        if (Halvix.openUsbPort(port)) {
            Halvix.closeUsbPort();
            throw new HalvixDemo.DemoFailure(port + " opened, but the virtual bus has only two HID pads");
        }
        System.out.println(port + ": no pad found, as expected (the virtual bus has two HID pads)");
    }

    /**
     * Sends a command and collects its echo. Each getSerialData call hands
     * over what has arrived so far (or pauses 20 ms and answers null), so a
     * long echo comes back in several pieces: keep draining until it is whole
     * or the time is up.
     */
    static Result roundTrip(String port, byte[] command) {
        if (!Halvix.putCmdString(command)) {
            return new Result(port, command, new byte[0]);
        }
        byte[] received = new byte[0];
        long deadline = System.nanoTime() + ECHO_TIMEOUT_MS * 1_000_000;
        while (received.length < command.length && System.nanoTime() < deadline) {
            byte[] more = Halvix.getSerialData();
            if (more == null) continue;
            byte[] joined = Arrays.copyOf(received, received.length + more.length);
            System.arraycopy(more, 0, joined, received.length, more.length);
            received = joined;
        }
        return new Result(port, command, received);
    }

    /** Printable text in quotes, anything else in hex; long runs shortened in the middle. */
    static String describe(byte[] bytes) {
        if (bytes.length == 0) return "(nothing)";
        boolean text = true;
        for (byte b : bytes) text &= b >= 0x20 && b < 0x7F;
        if (text && bytes.length <= 40) return '"' + new String(bytes, StandardCharsets.US_ASCII) + '"';
        StringBuilder out = new StringBuilder();
        int head = bytes.length > 12 ? 8 : bytes.length;
        for (int i = 0; i < head; i++) out.append(String.format("%02x ", bytes[i] & 0xFF));
        if (head < bytes.length) {
            out.append("... ");
            for (int i = bytes.length - 4; i < bytes.length; i++) {
                out.append(String.format("%02x ", bytes[i] & 0xFF));
            }
        }
        return out.toString().trim();
    }

    private static byte[] ascii(String s) {
        return s.getBytes(StandardCharsets.US_ASCII);
    }
}
