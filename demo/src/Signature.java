import java.util.ArrayList;
import java.util.List;

/**
 * The pen data of one reading, decoded as the virtual legacy pad encodes it:
 * each record holds x in its high 16 bits and y in its low 16 bits, both
 * unsigned, y growing downwards.
 *
 * <p>The pad sends a record of 0 between strokes, but the library never queues
 * a 0 (to getPointData a 0 means "nothing queued"), so the pen lifts do not
 * reach Java. A stroke boundary shows instead as a jump: at 200 records a
 * second the pen moves at most about 1400 units from one record to the next
 * within a stroke, while the figure's strokes start at least 5900 units from
 * where the previous one ended.
 */
final class Signature {
    /** A jump longer than this, between two consecutive points, starts a new stroke. */
    static final int STROKE_JUMP = 0x0C00;

    /** A decoded point in pad units, 0 to 65535 on both axes. */
    record Point(int x, int y) {}

    private final List<List<Point>> strokes = new ArrayList<>();
    private Point last;
    private int points;
    private double seconds;

    /** Decodes one value from getPointData; 0 (nothing queued) is ignored. */
    void add(long record) {
        if (record == 0) return;
        // getPointData widens the 32-bit record with its sign; the masks undo that.
        Point p = new Point((int) ((record >> 16) & 0xFFFF), (int) (record & 0xFFFF));
        if (last == null || Math.hypot(p.x() - last.x(), p.y() - last.y()) > STROKE_JUMP) {
            strokes.add(new ArrayList<>());
        }
        strokes.get(strokes.size() - 1).add(p);
        last = p;
        points++;
    }

    void setSeconds(double seconds) {
        this.seconds = seconds;
    }

    /** How long the pad was read. */
    double seconds() {
        return seconds;
    }

    int pointCount() {
        return points;
    }

    int strokeCount() {
        return strokes.size();
    }

    List<List<Point>> strokes() {
        return strokes;
    }
}
