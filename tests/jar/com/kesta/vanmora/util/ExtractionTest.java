package com.kesta.vanmora.util;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static org.junit.jupiter.api.Assumptions.assumeTrue;

import java.io.ByteArrayOutputStream;
import java.io.File;
import java.io.IOException;
import java.io.InputStream;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.nio.file.attribute.PosixFilePermission;
import java.nio.file.attribute.PosixFilePermissions;
import java.nio.file.attribute.UserPrincipal;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.concurrent.TimeUnit;
import java.util.jar.JarFile;
import java.util.stream.Stream;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.ValueSource;

/**
 * The loader in VMs of their own, started with only the jar and LoadProbe on
 * the class path, no java.library.path, and their temporary folder and home
 * in a fresh folder of each test.
 */
class ExtractionTest {
    static final String JAR = System.getProperty("halvix.test.jar");
    static final String PROBE = System.getProperty("halvix.test.classes");
    static final String VIRTUAL = "linux-x86-64-virtual/libHalvix.so";
    static final String FOLDER = "halvix-" + Halvix.NativeLoader.VERSION + "-" + System.getProperty("user.name");

    @TempDir Path root;

    /** What a probe VM printed on its standard output and error, and how it ended. */
    static final class Run {
        final int exit;
        final String out;
        final String err;

        Run(int exit, String out, String err) {
            this.exit = exit;
            this.out = out;
            this.err = err;
        }

        /** The library the probe loaded; the probe's line is all that was printed on standard output. */
        Path loaded() {
            assertEquals(0, exit, out + err);
            assertTrue(out.startsWith("loaded ") && out.indexOf('\n') == out.length() - 1,
                       "one line, the probe's own: " + out + err);
            return Paths.get(out.substring("loaded ".length()).trim());
        }

        String failure() {
            assertEquals(2, exit, out + err);
            assertTrue(out.startsWith("failed: "), out + err);
            return out.substring("failed: ".length()).trim();
        }
    }

    /** A probe VM started; its standard error goes to a file of the test. */
    final class Vm {
        final Process process;
        final Path err;

        Vm(List<String> cmd) throws IOException {
            err = Files.createTempFile(root, "vm", ".err");
            process = new ProcessBuilder(cmd).redirectError(err.toFile()).start();
        }

        Run finish() throws IOException, InterruptedException {
            ByteArrayOutputStream out = new ByteArrayOutputStream();
            try (InputStream in = process.getInputStream()) {
                byte[] chunk = new byte[8192];
                for (int n; (n = in.read(chunk)) > 0; ) out.write(chunk, 0, n);
            }
            assertTrue(process.waitFor(60, TimeUnit.SECONDS), "the probe VM ended");
            return new Run(process.exitValue(), out.toString(StandardCharsets.UTF_8.name()),
                           new String(Files.readAllBytes(err), StandardCharsets.UTF_8));
        }
    }

    /** The command of a probe VM: only the jar and the probe on its class path, its folders under the test's. */
    List<String> command(String... properties) {
        List<String> cmd = new ArrayList<>(Arrays.asList(
                Paths.get(System.getProperty("java.home"), "bin", "java").toString(),
                "-Dhalvix.virtual=true",
                "-Djava.io.tmpdir=" + root.resolve("tmp"),
                "-Duser.home=" + root.resolve("home")));
        cmd.addAll(Arrays.asList(properties));
        cmd.addAll(Arrays.asList("-cp", JAR + File.pathSeparator + PROBE, "com.kesta.vanmora.util.LoadProbe"));
        return cmd;
    }

    Run probe(String... properties) throws Exception {
        Files.createDirectories(root.resolve("tmp"));
        Files.createDirectories(root.resolve("home"));
        return new Vm(command(properties)).finish();
    }

    static byte[] jarNative(String resource) throws IOException {
        try (JarFile jar = new JarFile(JAR); InputStream in = jar.getInputStream(jar.getEntry(resource))) {
            ByteArrayOutputStream out = new ByteArrayOutputStream();
            byte[] chunk = new byte[65536];
            for (int n; (n = in.read(chunk)) > 0; ) out.write(chunk, 0, n);
            return out.toByteArray();
        }
    }

    Path tmpCopy() {
        return root.resolve("tmp").resolve(FOLDER).resolve(VIRTUAL);
    }

    Path homeCopy() {
        return root.resolve("home/.halvix").resolve(Halvix.NativeLoader.VERSION).resolve(VIRTUAL);
    }

    /** A path no one can create a folder under: it runs through a plain file. */
    Path unwritable(String name) throws IOException {
        Path file = root.resolve(name);
        Files.write(file, new byte[] {1});
        return file.resolve("below");
    }

    static void assertNoPartsLeft(Path copy) throws IOException {
        try (Stream<Path> files = Files.list(copy.getParent())) {
            assertEquals(Arrays.asList(copy), Arrays.asList(files.toArray()), "only the library stays");
        }
    }

    static void assertWritable(Path copy) throws IOException {
        assertTrue(Files.getPosixFilePermissions(copy).contains(PosixFilePermission.OWNER_WRITE),
                   copy + " is left writable");
    }

    @Test
    void aSecondStartReusesTheExtractedCopy() throws Exception {
        Run run = probe();
        Path first = run.loaded();
        assertEquals("", run.err, "neither the loader nor the library says anything");
        assertEquals(tmpCopy(), first);
        assertArrayEquals(jarNative("natives/" + VIRTUAL), Files.readAllBytes(first));
        assertWritable(first);
        Object inode = Files.readAttributes(first, "unix:ino").get("ino");
        assertEquals(first, probe().loaded());
        assertEquals(inode, Files.readAttributes(first, "unix:ino").get("ino"), "the copy was not rewritten");
        assertNoPartsLeft(first);
    }

    @ParameterizedTest(name = "{0}")
    @ValueSource(strings = {"one byte changed", "cut short", "empty", "read-only garbage"})
    void aCorruptedCopyIsReplaced(String damage) throws Exception {
        Path copy = probe().loaded();
        byte[] good = Files.readAllBytes(copy);
        byte[] bad = damage.equals("cut short") ? Arrays.copyOf(good, 4096)
                   : damage.equals("empty") ? new byte[0]
                   : good.clone();
        if (damage.equals("one byte changed")) bad[good.length / 2] ^= 0x55;
        if (damage.equals("read-only garbage")) Arrays.fill(bad, (byte) 0x90);
        Files.write(copy, bad);
        if (damage.startsWith("read-only")) Files.setPosixFilePermissions(copy, PosixFilePermissions.fromString("r--r--r--"));

        assertEquals(copy, probe().loaded());
        assertArrayEquals(good, Files.readAllBytes(copy), damage);
        assertWritable(copy);
        assertNoPartsLeft(copy);
    }

    @Test
    void anUnwritableTmpdirFallsBackToTheHome() throws Exception {
        assertEquals(homeCopy(), probe("-Dhalvix.tmpdir=" + unwritable("plain-file")).loaded());
    }

    @Test
    void halvixTmpdirIsUsedBeforeJavaIoTmpdir() throws Exception {
        Path chosen = root.resolve("chosen");
        assertEquals(chosen.resolve(FOLDER).resolve(VIRTUAL), probe("-Dhalvix.tmpdir=" + chosen).loaded());
    }

    @Test
    void aFolderAnotherUserCanChangeIsNotUsed() throws Exception {
        assumeTrue("root".equals(System.getProperty("user.name")), "needs root to hand a folder to another user");
        Path planted = tmpCopy().getParent().getParent();
        Files.createDirectories(planted, PosixFilePermissions.asFileAttribute(PosixFilePermissions.fromString("rwxrwxrwx")));
        Files.setPosixFilePermissions(planted, PosixFilePermissions.fromString("rwxrwxrwx"));
        UserPrincipal nobody = planted.getFileSystem().getUserPrincipalLookupService().lookupPrincipalByName("nobody");
        Files.setOwner(planted, nobody);
        assertEquals(homeCopy(), probe().loaded());
        assertFalse(Files.exists(tmpCopy()), "nothing was written into the other user's folder");
    }

    @Test
    void twoVmsStartingTogetherBothLoadAWholeCopy() throws Exception {
        Files.createDirectories(root.resolve("tmp"));
        Files.createDirectories(root.resolve("home"));
        List<Vm> vms = new ArrayList<>();
        for (int i = 0; i < 4; i++) vms.add(new Vm(command()));
        for (Vm vm : vms) assertEquals(tmpCopy(), vm.finish().loaded());
        assertArrayEquals(jarNative("natives/" + VIRTUAL), Files.readAllBytes(tmpCopy()));
        assertNoPartsLeft(tmpCopy());
    }

    @ParameterizedTest(name = "naming the {0}")
    @ValueSource(strings = {"file", "folder"})
    void halvixLibraryPathComesFirst(String named) throws Exception {
        Path file = JarContentsTest.distFileOf("natives/" + VIRTUAL);
        Path property = named.equals("file") ? file : file.getParent();
        assertEquals(file, probe("-Dhalvix.library.path=" + property).loaded());
        assertFalse(Files.exists(tmpCopy()), "nothing extracted");
    }

    @Test
    void aBrokenLibraryOnJavaLibraryPathGivesWayToTheJarsCopy() throws Exception {
        Path folder = Files.createDirectories(root.resolve("lib"));
        Files.write(folder.resolve("libHalvix.so"), "not a library".getBytes(StandardCharsets.US_ASCII));
        assertEquals(tmpCopy(), probe("-Djava.library.path=" + folder).loaded());
    }

    /** Every place fails: the message names the VM, each place with its error, and the hints. */
    @Test
    void theErrorListsEveryAttempt() throws Exception {
        Path missing = root.resolve("nowhere/libHalvix.so");
        Path tmp = unwritable("file-as-tmpdir");
        Path home = unwritable("file-as-home");
        String text = probe("-Dhalvix.library.path=" + missing, "-Dhalvix.tmpdir=" + tmp,
                            "-Duser.home=" + home).failure();
        String[] expected = {
            "Halvix " + Halvix.NativeLoader.VERSION + ": no native library could be loaded into this VM"
                + " (os.name=Linux, os.arch=amd64, data model 64 bits).",
            "Places tried, in order:",
            "  1. halvix.library.path=" + missing + ": no such file " + missing,
            "  2. System.loadLibrary(\"Halvix\"): no Halvix in java.library.path: ",
            "  3. natives/" + VIRTUAL + " from the jar, extracted to " + tmp.resolve(FOLDER)
                + "/linux-x86-64-virtual: ",
            "  4. natives/" + VIRTUAL + " from the jar, extracted to " + home.resolve(".halvix")
                .resolve(Halvix.NativeLoader.VERSION) + "/linux-x86-64-virtual: ",
            "What to check:",
            "  - A missing file: ",
            "  - A folder that cannot be written: ",
        };
        String[] lines = text.split("\n");
        assertEquals(expected.length, lines.length, text);
        for (int i = 0; i < expected.length; i++) {
            assertTrue(lines[i].startsWith(expected[i]), "line " + (i + 1) + " of\n" + text);
        }
        assertTrue(lines[1 + 2].contains("no Halvix in java.library.path"), text);
        assertTrue(lines[1 + 3].contains("Not a directory") || lines[1 + 3].contains("not a folder"), text);
    }

    /** Forced failures of each kind, each with the error it gives and the hint it brings. */
    @ParameterizedTest(name = "{0}")
    @ValueSource(strings = {"not a library", "32-bit VM on 64-bit Windows", "unknown architecture"})
    void eachForcedFailureIsNamedWithItsHint(String kind) throws Exception {
        String home = "-Duser.home=" + unwritable("home-file");
        String text;
        if (kind.equals("not a library")) {
            Path fake = root.resolve("libHalvix.so");
            Files.write(fake, "#!/bin/sh\n".getBytes(StandardCharsets.US_ASCII));
            text = probe("-Dhalvix.library.path=" + fake, "-Dhalvix.tmpdir=" + unwritable("tmp-file"), home).failure();
            String place = "1. halvix.library.path=" + fake + ": ";
            assertTrue(text.contains(place + "invalid ELF header") || text.contains(place + "file too short"),
                       "the place is named once, then the system's reason: " + text);
            assertTrue(text.contains("\n  - Wrong word size or format"), text);
        } else if (kind.equals("32-bit VM on 64-bit Windows")) {
            // The loader takes the 32-bit DLL and extracts it; Linux cannot load it.
            text = probe("-Dos.name=Windows 10", "-Dos.arch=amd64", "-Dsun.arch.data.model=32",
                         "-Dhalvix.virtual=false", home).failure();
            assertTrue(text.contains("(os.name=Windows 10, os.arch=amd64, data model 32 bits)"), text);
            assertTrue(text.contains("2. natives/windows-x86/Halvix.dll from the jar, extracted to "), text);
            assertTrue(text.contains("\n  - Wrong word size or format"), text);
            assertTrue(Files.isRegularFile(root.resolve("tmp").resolve(FOLDER).resolve("windows-x86/Halvix.dll")));
        } else {
            text = probe("-Dos.arch=aarch64", home).failure();
            assertTrue(text.contains("2. the copy inside the jar: the jar has no library for os.name=Linux,"
                                     + " os.arch=aarch64, data model 64"), text);
            assertFalse(text.contains("extracted to"), "no other library is tried: " + text);
            assertTrue(text.contains("\n  - No library for this platform"), text);
        }
    }

    /**
     * A temporary folder on a file system mounted noexec: the loader fails to
     * load the extracted copy there and takes the home instead; with the home
     * noexec too, the error names the mapping failure and the noexec hint.
     */
    @ParameterizedTest(name = "home noexec too: {0}")
    @ValueSource(booleans = {false, true})
    void aNoexecTmpdirFallsBackToTheHome(boolean homeToo) throws Exception {
        assumeTrue("root".equals(System.getProperty("user.name")) && new File("/usr/bin/unshare").canExecute(),
                   "needs root and unshare to mount a noexec file system");
        Path tmp = Files.createDirectories(root.resolve("tmp"));
        Path home = Files.createDirectories(root.resolve("home"));
        List<String> cmd = new ArrayList<>(Arrays.asList("/usr/bin/unshare", "-m", "sh", "-c",
                "mount -t tmpfs -o noexec tmpfs \"$1\" && { [ \"$2\" = no ] || mount -t tmpfs -o noexec tmpfs \"$2\"; }"
                + " && shift 2 && exec \"$@\"", "sh", tmp.toString(), homeToo ? home.toString() : "no"));
        cmd.addAll(command());
        Run run = new Vm(cmd).finish();
        if (!homeToo) {
            assertEquals(homeCopy(), run.loaded());
            return;
        }
        String text = run.failure();
        assertTrue(text.contains("2. natives/" + VIRTUAL + " from the jar, extracted to " + tmp.resolve(FOLDER)), text);
        assertTrue(text.contains("3. natives/" + VIRTUAL + " from the jar, extracted to " + home), text);
        assertTrue(text.contains("failed to map segment from shared object"), text);
        assertTrue(text.contains("\n  - A folder that cannot run code"), text);
        assertFalse(text.contains("A missing file"), "not found on java.library.path is no cause here: " + text);
    }
}
