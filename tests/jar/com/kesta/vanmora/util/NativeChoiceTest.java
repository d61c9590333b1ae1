package com.kesta.vanmora.util;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.util.Arrays;
import java.util.Collections;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.CsvSource;

/** Which native of the jar a VM takes, and the hints a failure gives, without loading anything. */
class NativeChoiceTest {
    @ParameterizedTest
    @CsvSource({
        "Windows XP,             x86,     32,      false, natives/windows-x86/Halvix.dll",
        "Windows 10,             x86,     32,      false, natives/windows-x86/Halvix.dll",
        "Windows 10,             amd64,   32,      false, natives/windows-x86/Halvix.dll",
        "Windows 11,             i686,    32,      false, natives/windows-x86/Halvix.dll",
        "Windows 11,             amd64,   64,      false, natives/windows-x86-64/Halvix.dll",
        "Windows Server 2008 R2, AMD64,   64,      false, natives/windows-x86-64/Halvix.dll",
        "Windows 7,              amd64,   unknown, false, natives/windows-x86-64/Halvix.dll",
        "Linux,                  amd64,   64,      false, natives/linux-x86-64/libHalvix.so",
        "Linux,                  x86_64,  64,      false, natives/linux-x86-64/libHalvix.so",
        "Linux,                  amd64,   64,      true,  natives/linux-x86-64-virtual/libHalvix.so",
        "Linux,                  amd64,   unknown, true,  natives/linux-x86-64-virtual/libHalvix.so",
    })
    void eachVmTakesItsNative(String os, String arch, String model, boolean virtual, String resource) {
        assertEquals(resource, Halvix.NativeLoader.resourcePath(os, arch, model, virtual),
                     os + "/" + arch + "/" + model + "/virtual=" + virtual);
    }

    @ParameterizedTest
    @CsvSource({
        "Windows 11, aarch64, 64, false, os.arch=aarch64",
        "Windows 10, ia64,    64, false, os.arch=ia64",
        "Linux,      aarch64, 64, true,  os.arch=aarch64",
        "Linux,      x86,     32, false, os.arch=x86",
        "Linux,      amd64,   32, false, data model 32",
        "Linux,      '',      64, false, 'os.arch=,'",
        "Mac OS X,   x86_64,  64, false, os.name=Mac OS X",
        "SunOS,      sparcv9, 64, false, os.name=SunOS",
        "Windows 10, x86,     32, true,  halvix.virtual=true",
    })
    void aVmWithoutANativeIsToldSoWithoutAGuess(String os, String arch, String model, boolean virtual,
                                                 String named) {
        IllegalArgumentException e = assertThrows(IllegalArgumentException.class,
                () -> Halvix.NativeLoader.resourcePath(os, arch, model, virtual));
        assertTrue(e.getMessage().contains(named), e.getMessage());
    }

    /** Error texts of VMs on Windows and Linux, and the hint each must bring. */
    @ParameterizedTest
    @CsvSource(delimiter = '|', value = {
        "C:\\app\\Halvix.dll: Can't load AMD 64-bit .dll on a IA 32-bit platform | Wrong word size",
        "C:\\app\\Halvix.dll: Can't load IA 32-bit .dll on a AMD 64-bit platform | Wrong word size",
        "/x/libHalvix.so: wrong ELF class: ELFCLASS32                           | Wrong word size",
        "C:\\t\\Halvix.dll: This program is blocked by group policy              | cannot run code",
        "/tmp/h/libHalvix.so: failed to map segment from shared object          | cannot run code",
        "no Halvix in java.library.path: C:\\Windows\\system32                  | A missing file",
        "halvix.library.path=C:\\x: no such file C:\\x\\Halvix.dll              | A missing file",
        "extracted to /x: access denied: /x                                     | cannot be written",
        "halvix.library.path=/x/libHalvix.so: /x/libHalvix.so: file too short   | Wrong word size",
        "/t/libHalvix.so: Native Library /t/libHalvix.so already loaded in another classloader | second class loader",
        "the copy inside the jar: the jar has no library for os.name=AIX        | No library for this platform",
    })
    void eachKnownCauseBringsItsHint(String error, String hint) {
        String text = Halvix.NativeLoader.failureMessage("Windows 10", "x86", "32",
                                                         Collections.singletonList(error.trim()));
        assertTrue(text.contains("\n  1. " + error.trim()), text);
        String hints = text.substring(text.indexOf("What to check:"));
        assertTrue(hints.contains(hint.trim()), text);
        assertEquals(1, hints.split("\n  - ").length - 1, "one hint for one cause: " + text);
    }

    /** Not on java.library.path is the usual case before the jar's copy, no cause of its own. */
    @org.junit.jupiter.api.Test
    void notFoundOnJavaLibraryPathBringsNoHintWhenTheJarWasTried() {
        String text = Halvix.NativeLoader.failureMessage("Linux", "amd64", "64", Arrays.asList(
                "System.loadLibrary(\"Halvix\"): no Halvix in java.library.path: /usr/lib",
                "natives/linux-x86-64/libHalvix.so from the jar, extracted to /tmp/h: /tmp/h/libHalvix.so:"
                    + " failed to map segment from shared object"));
        String hints = text.substring(text.indexOf("What to check:"));
        assertTrue(hints.contains("cannot run code"), text);
        assertEquals(1, hints.split("\n  - ").length - 1, "the noexec hint alone: " + text);
    }

    @org.junit.jupiter.api.Test
    void anUnknownErrorBringsEveryHint() {
        String text = Halvix.NativeLoader.failureMessage("Linux", "amd64", "64",
                                                         Collections.singletonList("something else"));
        assertTrue(text.startsWith("Halvix " + Halvix.NativeLoader.VERSION + ": no native library"), text);
        assertTrue(text.contains("(os.name=Linux, os.arch=amd64, data model 64 bits)"), text);
        for (String hint : new String[] {"Wrong word size", "cannot run code", "A missing file"}) {
            assertTrue(text.contains(hint), hint + " in " + text);
        }
        assertFalse(text.contains("No library for this platform"), text);
    }
}
