import com.kesta.vanmora.util.Halvix;

/**
 * The JVM side of the benchmarks: what one getSerialData call that returns
 * seven bytes costs a Java program, against the least a native can do to
 * hand Java seven new bytes.
 *
 * <p>Run with java.library.path pointing at the benchmark variant of the
 * library (named Halvix as well): loading the real Halvix class then loads
 * it, and the three natives below, exported by the same library, reach the
 * same serial ring. stagePayload queues bytes exactly as the HID reader does
 * for one report, so each getSerialData call finds seven bytes and returns
 * them without its empty-ring pause. The open pad stays silent throughout.
 *
 * <p>Prints its figures as rows of the benchmark table: tab-separated item,
 * figure, reference, ratio, goal and verdict.
 */
public final class HalvixBench {
    static native void stagePayload(int count);

    static native void stageNothing(int count);

    static native byte[] newSevenBytes();

    private static long checksum;

    /** Nanoseconds per (stagePayload(7), getSerialData()) pair over n pairs. */
    static double serialPairs(int n) {
        long sum = 0;
        long start = System.nanoTime();
        for (int i = 0; i < n; i++) {
            stagePayload(7);
            byte[] b = Halvix.getSerialData();
            sum += b.length + b[0];
        }
        long ns = System.nanoTime() - start;
        checksum += sum;
        if (sum != (long) n * (7 + (byte) 0x81)) throw new AssertionError("getSerialData returned wrong bytes");
        return (double) ns / n;
    }

    /** Nanoseconds per (stageNothing(7), newSevenBytes()) pair over n pairs. */
    static double trivialPairs(int n) {
        long sum = 0;
        long start = System.nanoTime();
        for (int i = 0; i < n; i++) {
            stageNothing(7);
            byte[] b = newSevenBytes();
            sum += b.length + b[0];
        }
        long ns = System.nanoTime() - start;
        checksum += sum;
        if (sum != (long) n * (7 + (byte) 0x81)) throw new AssertionError("newSevenBytes returned wrong bytes");
        return (double) ns / n;
    }

    /** Nanoseconds of getSerialData alone, timed call by call, timer cost included. */
    static double serialCalls(int n) {
        long total = 0;
        long sum = 0;
        for (int i = 0; i < n; i++) {
            stagePayload(7);
            long t0 = System.nanoTime();
            byte[] b = Halvix.getSerialData();
            long t1 = System.nanoTime();
            total += t1 - t0;
            sum += b.length;
        }
        checksum += sum;
        if (sum != 7L * n) throw new AssertionError("getSerialData returned wrong bytes");
        return (double) total / n;
    }

    /** Nanoseconds of newSevenBytes alone, timed call by call, timer cost included. */
    static double trivialCalls(int n) {
        long total = 0;
        long sum = 0;
        for (int i = 0; i < n; i++) {
            stageNothing(7);
            long t0 = System.nanoTime();
            byte[] b = newSevenBytes();
            long t1 = System.nanoTime();
            total += t1 - t0;
            sum += b.length;
        }
        checksum += sum;
        if (sum != 7L * n) throw new AssertionError("newSevenBytes returned wrong bytes");
        return (double) total / n;
    }

    /** Nanoseconds of two back-to-back nanoTime calls: the timer's own share. */
    static double timerOnly(int n) {
        long total = 0;
        for (int i = 0; i < n; i++) {
            long t0 = System.nanoTime();
            long t1 = System.nanoTime();
            total += t1 - t0;
        }
        return (double) total / n;
    }

    static double median(double[] values) {
        double[] v = values.clone();
        java.util.Arrays.sort(v);
        return v[v.length / 2];
    }

    static void row(String item, String figure, String reference, double ratio, String goal, boolean met) {
        System.out.printf("%s\t%s\t%s\t%.3g\t%s\t%s%n", item, figure, reference, ratio, goal, met ? "met" : "MISSED");
    }

    public static void main(String[] args) {
        boolean quick = args.length > 0 && args[0].equals("--quick");
        int n = quick ? 20_000 : 1_000_000;
        int warmups = quick ? 2 : 5;
        int rounds = quick ? 3 : 9;

        if (!Halvix.openUsbPort("HID1")) {
            System.err.println("HID1 did not open");
            System.exit(1);
        }
        while (Halvix.getSerialData() != null) {
            // left over from an earlier run in this process: none expected
        }
        try {
            for (int w = 0; w < warmups; w++) {
                serialPairs(n);
                trivialPairs(n);
                serialCalls(n);
                trivialCalls(n);
                timerOnly(n);
            }
            // Rounds alternate between the two sides so that both meet the
            // same machine noise; the median round counts.
            double[] serial = new double[rounds];
            double[] trivial = new double[rounds];
            double[] serialOne = new double[rounds];
            double[] trivialOne = new double[rounds];
            double[] timer = new double[rounds];
            for (int r = 0; r < rounds; r++) {
                serial[r] = serialPairs(n);
                trivial[r] = trivialPairs(n);
                serialOne[r] = serialCalls(n);
                trivialOne[r] = trivialCalls(n);
                timer[r] = timerOnly(n);
            }
            double s = median(serial);
            double t = median(trivial);
            row("6 JVM: stagePayload(7) + getSerialData() -> 7 bytes",
                String.format("%.1f ns a pair", s),
                String.format("stageNothing(7) + newSevenBytes() %.1f ns", t),
                s / t, "<= 2", s / t <= 2);
            double timerNs = median(timer);
            double so = median(serialOne) - timerNs;
            double to = median(trivialOne) - timerNs;
            row("6 JVM: getSerialData() -> 7 bytes, timed per call",
                String.format("%.1f ns a call (timer %.1f ns taken off)", so, timerNs),
                String.format("newSevenBytes() %.1f ns", to),
                so / to, "<= 2", so / to <= 2);
        } finally {
            Halvix.closeUsbPort();
        }
        if (checksum == 42) System.err.println();  // keeps the results live
    }
}
