package com.quorvane.test;

import static com.quorvane.test.DocumentFixtures.trackingRecord;
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
        p.putAll(trackingRecord(X, "MetadataVersion", "1.2", "DocumentId", "doc-17", "VersionId", "v-4",
                "SequenceNumber", "4", "AuthorId", "alice", "MasterDocumentId", "master-3", "UrVersionIdsSize", "2",
                "UrVersionId1", "u-1", "UrVersionId2", "u-2"));
        p.putAll(Map.of("Quorvane ExtendedVersionId", X, "sorrel_save", "2004-03-05T07:08:09",
                "Title", "kept as it is"));
        return p;
    }

    private static Map<String, String> expectedY(String y) {
        Map<String, String> m = trackingRecord(y, "MetadataVersion", "1.2", "DocumentId", "doc-17", "VersionId", "V",
                "SequenceNumber", "5", "AuthorId", "A", "MasterDocumentId", "master-3", "UrVersionIdsSize", "3",
                "UrVersionId1", "u-1", "UrVersionId2", "u-2", "UrVersionId3", "V", "ContributorsSize", "2",
                "Contributor1", "c1", "Contributor2", "c2");
        m.put("Quorvane ExtendedVersionId", y);
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
