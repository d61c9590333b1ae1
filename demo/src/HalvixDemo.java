import com.kesta.vanmora.util.Halvix;

import java.io.IOException;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;

/**
 * A console tour of the Halvix library on the virtual pads: command round trips
 * on the two HID pads, a missing third one, then a few seconds of pen data from
 * the legacy pad, drawn as a PNG and as text. Exits 0 when every step worked,
 * 1 with a plain message when one failed, 2 on a bad command line.
 */
public final class HalvixDemo {
    private HalvixDemo() {}

    /** What the command line asks for. */
    record Options(double seconds, String port, Path outDir) {}

    static final String USAGE =
        "usage: HalvixDemo [--seconds N] [--port NAME] [--out DIR]\n"
        + "  --seconds N   how long to read pen data (default 4; the figure takes 3 s)\n"
        + "  --port NAME   the port to read pen data from (default USB1)\n"
        + "  --out DIR     where signature.png goes (default demo-out)";

    public static void main(String[] args) {
        Options options;
        try {
            options = parse(args);
        } catch (IllegalArgumentException e) {
            System.err.println(e.getMessage());
            System.err.println(USAGE);
            System.exit(2);
            return;
        }
        // Java's imaging draws off screen; no display is needed or wanted.
        System.setProperty("java.awt.headless", "true");
        try {
            run(options);
            System.exit(0);
        } catch (DemoFailure e) {
            System.out.println("demo failed: " + e.getMessage());
        } catch (LinkageError e) {
            System.out.println("demo failed: the Halvix library did not load (" + e.getMessage()
                + "); run with -Djava.library.path=dist/linux-x64");
        } catch (IOException e) {
            System.out.println("demo failed: cannot write the picture: " + e.getMessage());
        }
        // A port left open by a failed step still has its reader running.
        try {
            Halvix.closeUsbPort();
        } catch (LinkageError ignored) {
            // The library never loaded, so nothing was opened.
        }
        System.exit(1);
    }

    static Options parse(String[] args) {
        double seconds = 4;
        String port = "USB1";
        Path outDir = Path.of("demo-out");
        for (int i = 0; i < args.length; i++) {
            String arg = args[i];
            switch (arg) {
                case "--help", "-h" -> {
                    System.out.println(USAGE);
                    System.exit(0);
                }
                case "--seconds" -> {
                    String value = valueAfter(args, i++);
                    try {
                        seconds = Double.parseDouble(value);
                    } catch (NumberFormatException e) {
                        throw new IllegalArgumentException("--seconds wants a number, not " + value);
                    }
                    if (!(seconds > 0 && seconds <= 600)) {
                        throw new IllegalArgumentException("--seconds must lie between 0 and 600");
                    }
                }
                case "--port" -> port = valueAfter(args, i++);
                case "--out" -> outDir = Path.of(valueAfter(args, i++));
                default -> throw new IllegalArgumentException("unknown option " + arg);
            }
        }
        return new Options(seconds, port, outDir);
    }

    private static String valueAfter(String[] args, int i) {
        if (i + 1 >= args.length) throw new IllegalArgumentException("missing value after " + args[i]);
        return args[i + 1];
    }

    static void run(Options options) throws IOException {
        System.out.println("Halvix demo on the virtual pads");
        System.out.println();

        List<SerialRoundTrips.Result> trips = new ArrayList<>();
        trips.addAll(SerialRoundTrips.run("HID1"));
        trips.addAll(SerialRoundTrips.run("HID2"));
        SerialRoundTrips.expectNoPad("HID3");
        System.out.println();

        Signature signature = SignatureReader.read(options.port(), options.seconds());
        if (signature.pointCount() == 0) {
            throw new DemoFailure("no pen data came from " + options.port() + " in "
                + options.seconds() + " s");
        }
        Path png = options.outDir().resolve("signature.png");
        String size = SignaturePicture.writePng(signature, png);
        System.out.println("picture: " + png + " (" + size + " pixels)");
        System.out.println();
        System.out.print(SignaturePicture.text(signature, 72, 18));
        System.out.println();

        long matched = trips.stream().filter(SerialRoundTrips.Result::matched).count();
        long bytes = trips.stream().filter(SerialRoundTrips.Result::matched)
            .mapToLong(SerialRoundTrips.Result::length).sum();
        System.out.printf("summary: round trips %d of %d matched, %d bytes round-tripped; "
                + "%d points, %d strokes, %.0f points per second%n",
            matched, trips.size(), bytes, signature.pointCount(), signature.strokeCount(),
            signature.pointCount() / signature.seconds());
        if (matched != trips.size()) {
            throw new DemoFailure((trips.size() - matched) + " round trip(s) did not match");
        }
    }

    /** A step of the demo that did not do what it should; the message says which. */
    static final class DemoFailure extends RuntimeException {
        DemoFailure(String message) {
            super(message);
        }
    }
}
