import java.awt.image.BufferedImage;
import java.io.File;

import javax.imageio.ImageIO;

/**
 * Checks a signature picture the demo wrote: it must decode as an image, carry
 * ink, and the ink must form drawn strokes rather than scattered dots or a
 * filled block. Exits 0 when it does, 1 with the reason when it does not.
 *
 * <p>Usage: SignaturePngCheck FILE
 */
public final class SignaturePngCheck {
    private SignaturePngCheck() {}

    public static void main(String[] args) throws Exception {
        if (args.length != 1) fail("usage: SignaturePngCheck FILE");
        File file = new File(args[0]);
        if (!file.isFile()) fail(file + " does not exist");
        BufferedImage image = ImageIO.read(file);
        if (image == null) fail(file + " does not decode as an image");
        int width = image.getWidth();
        int height = image.getHeight();
        if (width < 100 || height < 50) fail("image is only " + width + " x " + height);

        int ink = 0;
        int minX = width, maxX = -1, minY = height, maxY = -1;
        boolean[] inkedColumn = new boolean[width];
        for (int y = 0; y < height; y++) {
            for (int x = 0; x < width; x++) {
                int rgb = image.getRGB(x, y);
                int r = (rgb >> 16) & 0xFF, g = (rgb >> 8) & 0xFF, b = rgb & 0xFF;
                if ((r * 299 + g * 587 + b * 114) / 1000 >= 128) continue;
                ink++;
                inkedColumn[x] = true;
                minX = Math.min(minX, x);
                maxX = Math.max(maxX, x);
                minY = Math.min(minY, y);
                maxY = Math.max(maxY, y);
            }
        }
        double share = (double) ink / ((double) width * height);
        if (ink == 0) fail("image is blank");
        if (share > 0.4) fail(String.format("%.0f%% of the image is ink: not a drawing of strokes", share * 100));
        int spanX = maxX - minX + 1;
        int spanY = maxY - minY + 1;
        if (spanX < width / 2 && spanY < height / 2) {
            fail("the ink covers only " + spanX + " x " + spanY + " pixels of " + width + " x " + height);
        }
        // Strokes are joined lines: nearly every column across the ink is touched.
        int touched = 0;
        for (int x = minX; x <= maxX; x++) if (inkedColumn[x]) touched++;
        if (touched < 0.9 * spanX) {
            fail("ink in only " + touched + " of " + spanX + " columns: dots rather than strokes");
        }
        System.out.printf("%s: %d x %d, %.1f%% ink over %d x %d pixels%n", file, width, height,
            share * 100, spanX, spanY);
    }

    private static void fail(String reason) {
        System.out.println("picture check failed: " + reason);
        System.exit(1);
    }
}
