package com.quorvane.test;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNotEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.util.Map;
import java.util.Properties;
import java.util.TreeMap;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.ValueSource;
import org.junit.jupiter.api.Test;

/** The tracking record's life when it lives in a java.util.Properties object. */
class TrackingRecordOnJavaPropertiesTest {
    private static final String X = "Xx+/abcdefghijklmnopqQ";

    private static Properties recordX() {
        Properties p = new Properties();
        p.setProperty("Quorvane ExtendedVersionId", X);
        p.setProperty("Quorvane MetadataVersion." + X, "1.2");
        p.setProperty("Quorvane DocumentId." + X, "doc-17");
        p.setProperty("Quorvane VersionId." + X, "v-4");
        p.setProperty("Quorvane SequenceNumber." + X, "4");
        p.setProperty("Quorvane AuthorId." + X, "alice");
        p.setProperty("Quorvane MasterDocumentId." + X, "master-3");
        p.setProperty("Quorvane UrVersionIdsSize." + X, "2");
        p.setProperty("Quorvane UrVersionId1." + X, "u-1");
        p.setProperty("Quorvane UrVersionId2." + X, "u-2");
        p.setProperty("sorrel_save", "2004-03-05T07:08:09");
        p.setProperty("Title", "kept as it is");
        return p;
    }

    private static Map<String, String> expectedY(String y) {
        Map<String, String> m = new TreeMap<>();
        m.put("Quorvane ExtendedVersionId", y);
        m.put("Quorvane MetadataVersion." + y, "1.2");
        m.put("Quorvane DocumentId." + y, "doc-17");
        m.put("Quorvane VersionId." + y, "V");
        m.put("Quorvane SequenceNumber." + y, "5");
        m.put("Quorvane AuthorId." + y, "A");
        m.put("Quorvane MasterDocumentId." + y, "master-3");
        m.put("Quorvane UrVersionIdsSize." + y, "3");
        m.put("Quorvane UrVersionId1." + y, "u-1");
        m.put("Quorvane UrVersionId2." + y, "u-2");
        m.put("Quorvane UrVersionId3." + y, "V");
        m.put("Quorvane ContributorsSize." + y, "2");
        m.put("Quorvane Contributor1." + y, "c1");
        m.put("Quorvane Contributor2." + y, "c2");
        return m;
    }

    private static Map<String, String> asMap(Properties p) {
        Map<String, String> m = new TreeMap<>();
        for (String name : p.stringPropertyNames()) {
            m.put(name, p.getProperty(name));
        }
        return m;
    }

    @ParameterizedTest(name = "through an in-memory snapshot: {0}")
    @ValueSource(booleans = {false, true})
    void recordXBecomesY(boolean inMemory) {
        Properties p = recordX();
        assertTrue(PropertiesHooks.isTracked(p));
        PropertiesHooks.createNewVersion(p, "V", "A", new String[] {"c1", "c2"}, inMemory);

        String y = p.getProperty("Quorvane ExtendedVersionId");
        assertEquals(22, y.length());
        assertNotEquals(X, y);
        Map<String, String> expected = expectedY(y);
        expected.put("Title", "kept as it is");
        // Directly on the object the old save mark survives; the copy back from a snapshot clears it.
        if (!inMemory) {
            expected.put("sorrel_save", "2004-03-05T07:08:09");
        }
        assertEquals(expected, asMap(p));
    }

    @Test
    void copyAndClearAcrossJavaObjects() {
        Properties source = recordX();
        PropertiesHooks.createNewVersion(source, "V", "A", new String[] {"c1", "c2"}, false);
        String y = source.getProperty("Quorvane ExtendedVersionId");

        Properties target = recordX();
        target.setProperty("Quorvane LastSavedBy", "bob");
        target.setProperty("quorvane lower case", "not ours");
        PropertiesHooks.copyTracking(source, target);
        Map<String, String> expected = expectedY(y);
        expected.put("Title", "kept as it is");
        expected.put("quorvane lower case", "not ours");
        assertEquals(expected, asMap(target));

        PropertiesHooks.clearTracking(target);
        assertEquals(Map.of("Title", "kept as it is", "quorvane lower case", "not ours"), asMap(target));
        assertFalse(PropertiesHooks.isTracked(target));
    }
}
