package com.kesta.vanmora.util;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.ByteArrayOutputStream;
import java.nio.file.Path;
import java.nio.file.Paths;
import org.junit.jupiter.api.Test;

/**
 * This VM has only the jar on its class path and no java.library.path, and
 * asks for the virtual pads: the library comes out of the jar.
 */
class JarLoadTest {
    @Test
    void theVirtualPadsAnswerFromTheJarsCopy() {
        assertEquals("true", System.getProperty("halvix.virtual"), "the stage asks for the virtual pads");
        assertNull(System.getProperty("halvix.library.path"));
        assertTrue(Halvix.openUsbPort("HID1"));
        Path loaded = Paths.get(Halvix.NativeLoader.loadedFrom());
        Path expected = Paths.get(System.getProperty("halvix.tmpdir"))
                .resolve("halvix-" + Halvix.NativeLoader.VERSION + "-" + System.getProperty("user.name"))
                .resolve("linux-x86-64-virtual/libHalvix.so");
        assertEquals(expected.toAbsolutePath(), loaded);

        byte[] command = new byte[100];
        for (int i = 0; i < command.length; i++) command[i] = (byte) (i * 13 + 1);
        assertTrue(Halvix.putCmdString(command));
        ByteArrayOutputStream back = new ByteArrayOutputStream();
        long deadline = System.nanoTime() + 5_000_000_000L;
        while (back.size() < command.length && System.nanoTime() < deadline) {
            byte[] more = Halvix.getSerialData();
            if (more != null) back.write(more, 0, more.length);
        }
        assertTrue(Halvix.closeUsbPort());
        assertArrayEquals(command, back.toByteArray());
    }
}
