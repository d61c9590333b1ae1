import java.awt.BasicStroke;
import java.awt.Color;
import java.awt.Graphics2D;
import java.awt.RenderingHints;
import java.awt.geom.Path2D;
import java.awt.image.BufferedImage;
import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.Arrays;
import java.util.List;

import javax.imageio.ImageIO;

/**
 * Draws a signature fitted to its own extent, keeping its proportions: as a
 * PNG through Java's imaging (off screen, no display needed) and as lines of
 * text for the terminal.
 */
final class SignaturePicture {
    private SignaturePicture() {}

    static final int PNG_WIDTH = 800;
    static final int PNG_MAX_HEIGHT = 600;
    static final int PNG_MARGIN = 24;
    static final Color INK = new Color(20, 40, 120);

    /** The extent of all points, at least one unit on each axis. */
    record Box(int minX, int minY, int width, int height) {
        static Box of(Signature signature) {
            int minX = Integer.MAX_VALUE, minY = Integer.MAX_VALUE;
            int maxX = Integer.MIN_VALUE, maxY = Integer.MIN_VALUE;
            for (List<Signature.Point> stroke : signature.strokes()) {
                for (Signature.Point p : stroke) {
                    minX = Math.min(minX, p.x());
                    minY = Math.min(minY, p.y());
                    maxX = Math.max(maxX, p.x());
                    maxY = Math.max(maxY, p.y());
                }
            }
            return new Box(minX, minY, Math.max(1, maxX - minX), Math.max(1, maxY - minY));
        }
    }

    /** Writes the PNG, creating its folder; returns the picture's size as "W x H". */
    static String writePng(Signature signature, Path file) throws IOException {
        Box box = Box.of(signature);
        double inner = PNG_WIDTH - 2.0 * PNG_MARGIN;
        double scale = Math.min(inner / box.width(), (PNG_MAX_HEIGHT - 2.0 * PNG_MARGIN) / box.height());
        int width = PNG_WIDTH;
        int height = (int) Math.ceil(box.height() * scale) + 2 * PNG_MARGIN;
        double left = (width - box.width() * scale) / 2;

        BufferedImage image = new BufferedImage(width, height, BufferedImage.TYPE_INT_RGB);
        Graphics2D g = image.createGraphics();
        try {
            g.setColor(Color.WHITE);
            g.fillRect(0, 0, width, height);
            g.setRenderingHint(RenderingHints.KEY_ANTIALIASING, RenderingHints.VALUE_ANTIALIAS_ON);
            g.setRenderingHint(RenderingHints.KEY_STROKE_CONTROL, RenderingHints.VALUE_STROKE_PURE);
            g.setColor(INK);
            g.setStroke(new BasicStroke(3f, BasicStroke.CAP_ROUND, BasicStroke.JOIN_ROUND));
            for (List<Signature.Point> stroke : signature.strokes()) {
                Path2D.Double path = new Path2D.Double();
                for (Signature.Point p : stroke) {
                    double x = left + (p.x() - box.minX()) * scale;
                    double y = PNG_MARGIN + (p.y() - box.minY()) * scale;
                    if (path.getCurrentPoint() == null) {
                        path.moveTo(x, y);
                        path.lineTo(x, y);  // a one-point stroke still shows as a dot
                    } else {
                        path.lineTo(x, y);
                    }
                }
                g.draw(path);
            }
        } finally {
            g.dispose();
        }
        Path folder = file.toAbsolutePath().getParent();
        if (folder != null) Files.createDirectories(folder);
        if (!ImageIO.write(image, "png", file.toFile())) {
            throw new IOException("no PNG writer in this Java runtime");
        }
        return width + " x " + height;
    }

    /**
     * The signature as at most `columns` by `rows` characters inside a frame.
     * A terminal cell is about twice as tall as it is wide, so a row covers
     * twice the pad units of a column.
     */
    static String text(Signature signature, int columns, int rows) {
        Box box = Box.of(signature);
        double unit = Math.max(box.width() / (columns - 1.0), box.height() / (2.0 * (rows - 1)));
        int cols = (int) Math.round(box.width() / unit) + 1;
        int lines = (int) Math.round(box.height() / (2 * unit)) + 1;
        char[][] grid = new char[lines][cols];
        for (char[] line : grid) Arrays.fill(line, ' ');
        for (List<Signature.Point> stroke : signature.strokes()) {
            Signature.Point previous = null;
            for (Signature.Point p : stroke) {
                // Fill in the line from the previous point so fast strokes stay joined.
                Signature.Point from = previous == null ? p : previous;
                double steps = Math.max(1, Math.hypot(p.x() - from.x(), p.y() - from.y()) / unit);
                for (int i = 0; i <= steps; i++) {
                    double t = i / steps;
                    double x = from.x() + (p.x() - from.x()) * t;
                    double y = from.y() + (p.y() - from.y()) * t;
                    int c = (int) Math.round((x - box.minX()) / unit);
                    int r = (int) Math.round((y - box.minY()) / (2 * unit));
                    grid[Math.min(r, lines - 1)][Math.min(c, cols - 1)] = '*';
                }
                previous = p;
            }
        }
        StringBuilder out = new StringBuilder();
        String rule = "+" + "-".repeat(cols + 2) + "+\n";
        out.append(rule);
        for (char[] line : grid) out.append("| ").append(line).append(" |\n");
        out.append(rule);
        return out.toString();
    }
}
