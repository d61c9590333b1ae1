import com.kesta.vanmora.util.Halvix;

/**
 * Reads pen data from a legacy port for a while, with a one-line progress
 * display, and closes the port again. getPointData hands over one point a
 * call and pauses 10 ms when none is queued, so a plain loop keeps up with the
 * pad's 200 points a second.
 */
final class SignatureReader {
    private SignatureReader() {}

    static final long PROGRESS_EVERY_MS = 100;

    static Signature read(String port, double seconds) {
        if (!Halvix.openUsbPort(port)) {
            throw new HalvixDemo.DemoFailure(port + ": no pad found");
        }
        System.out.printf("%s: opened; reading pen data for %s s%n", port, trim(seconds));
        boolean live = System.console() != null;
        Signature signature = new Signature();
        long start = System.nanoTime();
        long end = start + (long) (seconds * 1e9);
        long nextProgress = start;
        try {
            for (long now = start; now < end; now = System.nanoTime()) {
                signature.add(Halvix.getPointData());
                if (live && now >= nextProgress) {
                    progress(signature, (now - start) / 1e9, true, false);
                    nextProgress = now + PROGRESS_EVERY_MS * 1_000_000;
                }
            }
        } finally {
            Halvix.closeUsbPort();
        }
        signature.setSeconds((System.nanoTime() - start) / 1e9);
        // Points queued before the close are still there: take them too.
        for (int i = 0; i <= 1000; i++) {
            long record = Halvix.getPointData();
            if (record == 0) break;
            signature.add(record);
        }
        progress(signature, signature.seconds(), live, true);
        System.out.println(port + ": closed");
        return signature;
    }

    /** Rewrites the progress line in place on a terminal; elsewhere prints only the last one. */
    private static void progress(Signature signature, double elapsed, boolean live, boolean last) {
        String line = String.format("  %5.1f s  %5d points  %3d strokes", elapsed,
            signature.pointCount(), signature.strokeCount());
        System.out.print((live ? "\r" : "") + line + (last ? "\n" : ""));
        System.out.flush();
    }

    private static String trim(double seconds) {
        return seconds == Math.rint(seconds) ? Long.toString((long) seconds) : Double.toString(seconds);
    }
}
