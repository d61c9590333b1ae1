package com.kesta.vanmora.util;

import java.io.ByteArrayOutputStream;
import java.io.IOException;
import java.io.InputStream;
import java.io.OutputStream;
import java.nio.file.AtomicMoveNotSupportedException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.nio.file.StandardCopyOption;
import java.nio.file.attribute.FileAttribute;
import java.nio.file.attribute.PosixFileAttributeView;
import java.nio.file.attribute.PosixFilePermission;
import java.nio.file.attribute.PosixFilePermissions;
import java.nio.file.attribute.UserPrincipal;
import java.security.MessageDigest;
import java.security.NoSuchAlgorithmException;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.HashSet;
import java.util.List;
import java.util.Locale;
import java.util.Set;

/**
 * The Java face of the Halvix native library: five natives that open a
 * signature pad by port name, move its data and close it again.
 *
 * <p>Port names: "USB1", "USB2", ... select pads of the maker's legacy driver;
 * any other name ("HID1", "HID2", ...) selects a HID pad. The number counts
 * pads of that kind from 1. One port is open at a time; opening another closes
 * the first. Call the data natives from one thread, and never let open or
 * close overlap another call.
 *
 * <p>The class loads the native library once, when it is first used, from the
 * first of these places that works:
 * <ol>
 * <li>the file named by the system property {@code halvix.library.path}, or
 *     {@code Halvix.dll} ({@code libHalvix.so} on Linux) in the folder it names;
 * <li>{@code System.loadLibrary("Halvix")}, that is the folders of
 *     {@code java.library.path};
 * <li>the copy inside the jar that matches the running VM (a 32-bit VM takes
 *     the 32-bit DLL, also on 64-bit Windows), extracted to a folder of this
 *     user and version under {@code halvix.tmpdir} (by default
 *     {@code java.io.tmpdir}), or under the user's home when that folder
 *     cannot be written or cannot run code. An extracted copy whose SHA-256
 *     matches the jar's is reused. {@code -Dhalvix.virtual=true} picks the
 *     Linux library with the virtual pads.
 * </ol>
 * When none works, the first use throws one {@link UnsatisfiedLinkError} whose
 * message names the VM's os.name, os.arch and data model, every place tried
 * with the error it gave, and a hint for the cause.
 */
public final class Halvix {
    static {
        NativeLoader.load();
    }

    private Halvix() {}

    /**
     * Opens a port, closing the one open before.
     *
     * @param port the port name: "HID1", "HID2", ... or "USB1", "USB2", ...
     * @return true when the pad was found and its reader started; false when no such pad is present
     */
    public static native boolean openUsbPort(String port);

    /**
     * Closes the open port, if any. A legacy port's close waits at most about
     * 1 s for its reader to stop, then leaves it to finish on its own.
     *
     * @return true, always
     */
    public static native boolean closeUsbPort();

    /**
     * Takes one point of a legacy port.
     *
     * @return the next point record, or 0 after a 10 ms pause when none is queued
     */
    public static native long getPointData();

    /**
     * Hands a command to the HID writer, which sends it to the open HID pad
     * as 9-byte output reports of up to 7 command bytes.
     *
     * @param command the command bytes
     * @return true once the writer has the command, whether or not a pad took
     *     it; false while a legacy port is in use, or for null
     */
    public static native boolean putCmdString(byte[] command);

    /**
     * Takes the serial bytes a HID pad sent since the last call.
     *
     * @return the bytes, oldest first, or null: at once on a legacy port, after
     *     a 20 ms pause when nothing is queued
     */
    public static native byte[] getSerialData();

    /**
     * Finds and loads the native library for {@link Halvix}. A class of its own,
     * so that the choice of library can be asked without loading anything.
     * Runs once, on the thread that initialises Halvix.
     */
    static final class NativeLoader {
        static final String VERSION = "1.6.0";
        private static final String LOAD_LIBRARY = "System.loadLibrary(\"Halvix\")";

        /** Where the library came from, once loaded; null before. */
        private static volatile String loadedFrom;

        private NativeLoader() {}

        static String loadedFrom() {
            return loadedFrom;
        }

        static void load() {
            String osName = System.getProperty("os.name", "");
            String osArch = System.getProperty("os.arch", "");
            String dataModel = System.getProperty("sun.arch.data.model", "unknown");
            List<String> attempts = new ArrayList<String>();

            String named = System.getProperty("halvix.library.path");
            if (named != null && !named.isEmpty() && loadNamed(named, attempts)) return;

            try {
                System.loadLibrary("Halvix");
                loadedFrom = "java.library.path";
                return;
            } catch (UnsatisfiedLinkError e) {
                // Java 9 and later name the folders in the message; Java 8 does not.
                String folders = System.getProperty("java.library.path", "");
                String text = String.valueOf(e.getMessage());
                attempts.add(LOAD_LIBRARY + (text.contains(folders) ? "" : " on java.library.path=" + folders)
                        + ": " + text);
            }

            if (loadFromJar(osName, osArch, dataModel, attempts)) return;
            throw new UnsatisfiedLinkError(failureMessage(osName, osArch, dataModel, attempts));
        }

        /**
         * The jar resource that serves a VM: "natives/FOLDER/FILE". The data
         * model decides on Windows, since a 32-bit VM on 64-bit Windows may
         * report either architecture. Throws IllegalArgumentException, naming
         * what is missing, for a platform the jar carries no library for.
         */
        static String resourcePath(String osName, String osArch, String dataModel, boolean virtual) {
            String os = osName.trim().toLowerCase(Locale.ROOT);
            String arch = osArch.trim().toLowerCase(Locale.ROOT);
            boolean x86 = arch.equals("x86") || arch.matches("i[3-6]86") || arch.equals("ia32");
            boolean x64 = arch.equals("amd64") || arch.equals("x86_64") || arch.equals("x86-64")
                    || arch.equals("x64") || arch.equals("em64t");
            boolean vm32 = dataModel.trim().equals("32");
            if (os.startsWith("windows") && virtual) {
                throw new IllegalArgumentException("halvix.virtual=true, but the virtual pads exist"
                        + " only in the Linux x86-64 library");
            }
            if (os.startsWith("windows") && (x86 || (x64 && vm32))) {
                return "natives/windows-x86/Halvix.dll";
            }
            if (os.startsWith("windows") && x64) return "natives/windows-x86-64/Halvix.dll";
            if (os.equals("linux") && x64 && !vm32) {
                return virtual ? "natives/linux-x86-64-virtual/libHalvix.so"
                               : "natives/linux-x86-64/libHalvix.so";
            }
            throw new IllegalArgumentException("the jar has no library for os.name=" + osName
                    + ", os.arch=" + osArch + ", data model " + dataModel + " (it carries windows-x86,"
                    + " windows-x86-64, linux-x86-64 and linux-x86-64-virtual)");
        }

        /** The folders the jar's copy is extracted to, in the order they are tried. */
        static List<String> extractionFolders(String folder) {
            List<String> dirs = new ArrayList<String>();
            String base = System.getProperty("halvix.tmpdir");
            if (base == null || base.isEmpty()) base = System.getProperty("java.io.tmpdir");
            String user = System.getProperty("user.name", "user").replaceAll("[^A-Za-z0-9._-]", "_");
            if (base != null && !base.isEmpty()) {
                dirs.add(base + java.io.File.separator + "halvix-" + VERSION + "-" + user
                        + java.io.File.separator + folder);
            }
            String home = System.getProperty("user.home");
            if (home != null && !home.isEmpty() && !home.equals("?")) {
                dirs.add(home + java.io.File.separator + ".halvix" + java.io.File.separator + VERSION
                        + java.io.File.separator + folder);
            }
            return dirs;
        }

        private static boolean loadNamed(String named, List<String> attempts) {
            String where = "halvix.library.path=" + named;
            Path file;
            try {
                file = Paths.get(named).toAbsolutePath();
                if (Files.isDirectory(file)) {
                    file = file.resolve(System.mapLibraryName("Halvix"));
                    where += ", file " + file;
                }
            } catch (RuntimeException e) {
                attempts.add(where + ": " + describe(e));
                return false;
            }
            if (!Files.isRegularFile(file)) {
                attempts.add(where + ": no such file " + file);
                return false;
            }
            return loadFile(file, where, attempts);
        }

        private static boolean loadFromJar(String osName, String osArch, String dataModel,
                                           List<String> attempts) {
            String resource;
            byte[] bytes;
            try {
                resource = resourcePath(osName, osArch, dataModel, Boolean.getBoolean("halvix.virtual"));
                bytes = readResource(resource);
            } catch (IllegalArgumentException e) {
                attempts.add("the copy inside the jar: " + e.getMessage());
                return false;
            } catch (IOException e) {
                attempts.add("the copy inside the jar: " + e.getMessage());
                return false;
            }
            String[] parts = resource.split("/");
            String folder = parts[1];
            String fileName = parts[2];
            byte[] digest = sha256(bytes);
            for (String dir : extractionFolders(folder)) {
                String where = resource + " from the jar, extracted to " + dir;
                Path file;
                try {
                    Path path = Paths.get(dir).toAbsolutePath();
                    file = path.resolve(fileName);
                    extract(path, file, bytes, digest);
                } catch (IOException e) {
                    attempts.add(where + ": " + describe(e));
                    continue;
                } catch (RuntimeException e) {
                    attempts.add(where + ": " + describe(e));
                    continue;
                }
                if (loadFile(file, where, attempts)) return true;
            }
            return false;
        }

        private static boolean loadFile(Path file, String where, List<String> attempts) {
            try {
                System.load(file.toString());
                loadedFrom = file.toString();
                return true;
            } catch (UnsatisfiedLinkError e) {
                // The VM and the system loader both put the path before their
                // reason; the attempt names the place once.
                String text = String.valueOf(e.getMessage());
                String repeated = file + ": ";
                while (text.startsWith(repeated)) text = text.substring(repeated.length());
                attempts.add(where + ": " + text);
                return false;
            }
        }

        /**
         * Leaves the jar's bytes in `file`: kept when its SHA-256 already
         * matches, otherwise written to a temporary file in the same folder and
         * moved over it, so a VM starting at the same time never loads half a
         * file. The file is left writable, so a later version or a clean-up can
         * replace it.
         */
        private static void extract(Path dir, Path file, byte[] bytes, byte[] digest) throws IOException {
            boolean posix = makeFolder(dir);
            if (!Files.isRegularFile(file) || !Arrays.equals(digest, sha256Of(file))) {
                if (Files.exists(file)) makeWritable(file, posix);
                Path part = Files.createTempFile(dir, file.getFileName() + ".", ".part");
                try {
                    OutputStream out = Files.newOutputStream(part);
                    try {
                        out.write(bytes);
                    } finally {
                        out.close();
                    }
                    try {
                        Files.move(part, file, StandardCopyOption.ATOMIC_MOVE,
                                   StandardCopyOption.REPLACE_EXISTING);
                    } catch (AtomicMoveNotSupportedException e) {
                        Files.move(part, file, StandardCopyOption.REPLACE_EXISTING);
                    }
                } finally {
                    Files.deleteIfExists(part);
                }
            }
            makeWritable(file, posix);
        }

        /**
         * Creates the folder, private to this user where the file system has
         * POSIX permissions, and refuses one that belongs to another user (a
         * shared temporary folder is open to everybody, and a folder of someone
         * else's could have its file swapped between the check and the load).
         * Answers whether the file system is POSIX.
         */
        private static boolean makeFolder(Path dir) throws IOException {
            Path top = dir.getParent();
            if (Files.getFileAttributeView(top, PosixFileAttributeView.class) == null) {
                Files.createDirectories(dir);
                return false;
            }
            FileAttribute<Set<PosixFilePermission>> privateFolder =
                    PosixFilePermissions.asFileAttribute(PosixFilePermissions.fromString("rwx------"));
            Files.createDirectories(top, privateFolder);
            UserPrincipal me;
            Path probe = Files.createTempFile(top, ".owner", ".tmp");
            try {
                me = Files.getOwner(probe);  // what this process creates is its own
            } finally {
                Files.deleteIfExists(probe);
            }
            requireOwn(top, me);
            requireOwn(Files.createDirectories(dir, privateFolder), me);
            return true;
        }

        private static void requireOwn(Path folder, UserPrincipal me) throws IOException {
            UserPrincipal owner = Files.getOwner(folder);
            if (!owner.equals(me)) {
                throw new IOException(folder + " belongs to " + owner.getName() + ", not to " + me.getName());
            }
            Set<PosixFilePermission> perms = new HashSet<PosixFilePermission>(Files.getPosixFilePermissions(folder));
            if (perms.remove(PosixFilePermission.GROUP_WRITE) | perms.remove(PosixFilePermission.OTHERS_WRITE)) {
                Files.setPosixFilePermissions(folder, perms);
            }
        }

        private static void makeWritable(Path file, boolean posix) throws IOException {
            if (posix) {
                Set<PosixFilePermission> perms = new HashSet<PosixFilePermission>(Files.getPosixFilePermissions(file));
                if (perms.add(PosixFilePermission.OWNER_READ) | perms.add(PosixFilePermission.OWNER_WRITE)
                        | perms.add(PosixFilePermission.OWNER_EXECUTE)) {
                    Files.setPosixFilePermissions(file, perms);
                }
            } else if (!file.toFile().canWrite() && !file.toFile().setWritable(true)) {
                throw new IOException(file + " is read-only and cannot be made writable");
            }
        }

        private static byte[] readResource(String resource) throws IOException {
            InputStream in = NativeLoader.class.getResourceAsStream("/" + resource);
            if (in == null) {
                throw new IOException("no " + resource + " in the jar (no such file): is the"
                        + " Halvix jar on the class path, whole?");
            }
            try {
                ByteArrayOutputStream all = new ByteArrayOutputStream(1 << 20);
                byte[] chunk = new byte[65536];
                for (int n; (n = in.read(chunk)) > 0; ) all.write(chunk, 0, n);
                return all.toByteArray();
            } finally {
                in.close();
            }
        }

        private static byte[] sha256Of(Path file) {
            try {
                return sha256(Files.readAllBytes(file));
            } catch (IOException e) {
                return new byte[0];  // unreadable: replaced like a corrupted copy
            }
        }

        private static byte[] sha256(byte[] bytes) {
            try {
                return MessageDigest.getInstance("SHA-256").digest(bytes);
            } catch (NoSuchAlgorithmException e) {
                throw new IllegalStateException("every Java platform has SHA-256", e);
            }
        }

        private static String describe(Exception e) {
            String text = e.getMessage();
            String kind = e.getClass().getSimpleName();
            if (kind.equals("AccessDeniedException")) return "access denied: " + text;
            if (kind.equals("NoSuchFileException")) return "no such file or folder: " + text;
            if (kind.equals("FileAlreadyExistsException")) return "not a folder: " + text;
            if (kind.equals("IOException")) return text;
            return kind + ": " + text;
        }

        /** The text of the one UnsatisfiedLinkError that reports a failed load. */
        static String failureMessage(String osName, String osArch, String dataModel, List<String> attempts) {
            StringBuilder text = new StringBuilder();
            text.append("Halvix ").append(VERSION).append(": no native library could be loaded into this VM")
                .append(" (os.name=").append(osName).append(", os.arch=").append(osArch)
                .append(", data model ").append(dataModel).append(" bits).\nPlaces tried, in order:");
            for (int i = 0; i < attempts.size(); i++) {
                text.append("\n  ").append(i + 1).append(". ").append(attempts.get(i));
            }
            // Not finding the library on java.library.path is the usual case when
            // the jar's copy follows, so it is a cause only when nothing else was tried.
            StringBuilder signs = new StringBuilder();
            for (String attempt : attempts) {
                boolean usual = attempt.startsWith(LOAD_LIBRARY) && attempt.contains("no Halvix in")
                        && attempts.size() > 1;
                if (!usual) signs.append(attempt.toLowerCase(Locale.ROOT)).append('\n');
            }
            String all = signs.toString();
            List<String> hints = new ArrayList<String>();
            String[][] causes = {
                {"32-bit", "64-bit", "elfclass", "invalid elf header", "not a valid win32 application",
                 "wrong elf class", "file too short", "is not a valid"},
                {"failed to map segment", "group policy"},
                {"no such file", "not in java.library.path", "no halvix in", "cannot open shared object",
                 "can't find dependent"},
                {"access denied", "not a folder", "not a directory", "read-only", "belongs to"},
                {"has no library for", "virtual pads exist only"},
                {"already loaded in another classloader"},
            };
            String[] advice = {
                "Wrong word size or format: the library must match the VM, not Windows. This VM is "
                    + dataModel + "-bit; a 32-bit VM needs the 32-bit Halvix.dll (windows-x86), also on"
                    + " 64-bit Windows, and a 64-bit VM the 64-bit one (windows-x86-64).",
                "A folder that cannot run code (mounted noexec, or blocked by policy): set"
                    + " -Dhalvix.tmpdir to a folder where programs may run, or name the library with"
                    + " -Dhalvix.library.path.",
                "A missing file: keep halvix-" + VERSION + ".jar whole on the class path, put "
                    + System.mapLibraryName("Halvix") + " in a folder on java.library.path, or name it"
                    + " with -Dhalvix.library.path.",
                "A folder that cannot be written: set -Dhalvix.tmpdir to a folder of your own.",
                "No library for this platform: Halvix runs in 32-bit and 64-bit Windows VMs and in"
                    + " 64-bit Linux VMs.",
                "A second class loader: a native library serves one class loader of a VM. Load the"
                    + " Halvix jar once, from a class loader its users share (not inside each web"
                    + " application).",
            };
            for (int i = 0; i < causes.length; i++) {
                for (String sign : causes[i]) {
                    if (all.contains(sign)) {
                        hints.add(advice[i]);
                        break;
                    }
                }
            }
            if (hints.isEmpty()) hints.addAll(Arrays.asList(advice).subList(0, 3));
            text.append("\nWhat to check:");
            for (String hint : hints) text.append("\n  - ").append(hint);
            return text.toString();
        }
    }
}
