package com.kesta.vanmora.util;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotNull;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.ByteArrayOutputStream;
import java.io.IOException;
import java.io.InputStream;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Collections;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;
import java.util.jar.JarEntry;
import java.util.jar.JarFile;
import java.util.jar.Manifest;
import org.junit.jupiter.api.Test;

/**
 * The jar against dist/: every native the loader can choose is inside, and
 * each is the very file dist/ holds; the manifest, the class file version and
 * the sources and javadoc jars beside it.
 */
class JarContentsTest {
    static final String JAR = System.getProperty("halvix.test.jar");
    static final Path ROOT = Paths.get(System.getProperty("halvix.test.root"));

    /** The natives the loader's table names; the jar must carry exactly these. */
    static final List<String> CHOSEN = Arrays.asList(
            "natives/linux-x86-64-virtual/libHalvix.so",
            "natives/linux-x86-64/libHalvix.so",
            "natives/windows-x86-64/Halvix.dll",
            "natives/windows-x86/Halvix.dll");

    /** The build's packing list: each resource of the jar and the dist/ file it was taken from. */
    static Map<String, Path> packingList() throws IOException {
        Map<String, Path> list = new LinkedHashMap<>();
        for (String line : Files.readAllLines(Paths.get(System.getProperty("halvix.test.natives")))) {
            String[] pair = line.trim().split(" +");
            assertEquals(2, pair.length, "packing list line: " + line);
            list.put(pair[0], ROOT.resolve(pair[1]));
        }
        return list;
    }

    /** The dist/ file packed as the given resource. */
    static Path distFileOf(String resource) throws IOException {
        Path file = packingList().get(resource);
        assertNotNull(file, resource + " is on the packing list");
        return file;
    }

    static byte[] read(JarFile jar, String name) throws IOException {
        JarEntry entry = jar.getJarEntry(name);
        assertNotNull(entry, name + " in " + jar.getName());
        try (InputStream in = jar.getInputStream(entry)) {
            ByteArrayOutputStream out = new ByteArrayOutputStream();
            byte[] chunk = new byte[65536];
            for (int n; (n = in.read(chunk)) > 0; ) out.write(chunk, 0, n);
            return out.toByteArray();
        }
    }

    static List<String> names(JarFile jar) {
        List<String> names = new ArrayList<>();
        for (JarEntry e : Collections.list(jar.entries())) {
            if (!e.isDirectory()) names.add(e.getName());
        }
        Collections.sort(names);
        return names;
    }

    @Test
    void theNativesAreDistsFilesByteForByte() throws IOException {
        try (JarFile jar = new JarFile(JAR)) {
            List<String> natives = new ArrayList<>();
            for (String name : names(jar)) {
                if (name.startsWith("natives/")) natives.add(name);
            }
            assertEquals(CHOSEN, natives, "the natives in the jar");
            for (String resource : CHOSEN) {
                Path file = distFileOf(resource);
                assertTrue(file.startsWith(ROOT.resolve("dist")), resource + " comes from dist/: " + file);
                assertArrayEquals(Files.readAllBytes(file), read(jar, resource), resource + " equals " + file);
            }
        }
    }

    @Test
    void theJarIsAPlainLibraryForJava8AndLater() throws IOException {
        try (JarFile jar = new JarFile(JAR)) {
            Manifest manifest = jar.getManifest();
            assertNotNull(manifest, "a manifest");
            assertEquals("com.kesta.vanmora.halvix", manifest.getMainAttributes().getValue("Automatic-Module-Name"));
            assertEquals(Halvix.NativeLoader.VERSION, manifest.getMainAttributes().getValue("Implementation-Version"));
            List<String> classes = new ArrayList<>();
            for (String name : names(jar)) {
                if (name.endsWith(".class")) classes.add(name);
            }
            assertEquals(Arrays.asList("com/kesta/vanmora/util/Halvix$NativeLoader.class",
                                       "com/kesta/vanmora/util/Halvix.class"), classes, "no module-info");
            for (String name : classes) {
                byte[] bytes = read(jar, name);
                assertEquals(52, ((bytes[6] & 0xff) << 8) | (bytes[7] & 0xff), name + " is Java 8 class file");
            }
        }
    }

    @Test
    void sourcesAndJavadocLieBeside() throws IOException {
        String base = JAR.substring(0, JAR.length() - ".jar".length());
        try (JarFile sources = new JarFile(base + "-sources.jar")) {
            assertArrayEquals(Files.readAllBytes(ROOT.resolve("java/src/com/kesta/vanmora/util/Halvix.java")),
                              read(sources, "com/kesta/vanmora/util/Halvix.java"));
        }
        try (JarFile javadoc = new JarFile(base + "-javadoc.jar")) {
            String page = new String(read(javadoc, "com/kesta/vanmora/util/Halvix.html"), StandardCharsets.UTF_8);
            assertTrue(page.contains("halvix.library.path"), "the page tells how the library is found");
            read(javadoc, "index.html");
        }
    }
}
