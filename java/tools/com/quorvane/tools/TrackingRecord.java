package com.quorvane.tools;

import java.util.ArrayList;
import java.util.Collections;
import java.util.List;
import java.util.Properties;

/**
 * The tracking record a document keeps in its user-defined properties, read
 * from a snapshot of them: the current record's id E in "Quorvane
 * ExtendedVersionId", each field under "Quorvane <Field>.E", list elements
 * under "Quorvane <Field><n>.E" (n from 1). Immutable once read.
 */
final class TrackingRecord {
    static final String PREFIX = "Quorvane";
    static final String EXTENDED_VERSION_ID = "Quorvane ExtendedVersionId";
    static final String UNTRACKED = "Quorvane Untracked";
    static final String SORREL_SAVE = "sorrel_save";
    static final String LAST_SAVED_BY = "Quorvane LastSavedBy";

    final String extendedVersionId;
    final String documentId;
    final String masterDocumentId;
    final String versionId;
    final String sequenceNumber;
    final String authorId;
    final String metadataVersion;
    final List<String> unratifiedVersionIds;
    final List<String> contributors;

    private TrackingRecord(Properties p, String e) {
        extendedVersionId = e;
        documentId = p.getProperty(key("DocumentId", e));
        masterDocumentId = p.getProperty(key("MasterDocumentId", e));
        versionId = p.getProperty(key("VersionId", e));
        sequenceNumber = p.getProperty(key("SequenceNumber", e));
        authorId = p.getProperty(key("AuthorId", e));
        metadataVersion = p.getProperty(key("MetadataVersion", e));
        unratifiedVersionIds = list(p, "UrVersionIdsSize", "UrVersionId", e);
        contributors = list(p, "ContributorsSize", "Contributor", e);
    }

    /** The current record, or null when the properties hold none. */
    static TrackingRecord read(Properties properties) {
        String e = properties.getProperty(EXTENDED_VERSION_ID);
        return e == null || e.isEmpty() ? null : new TrackingRecord(properties, e);
    }

    static boolean isUntracked(Properties properties) {
        return "true".equalsIgnoreCase(properties.getProperty(UNTRACKED));
    }

    /** Whether a property belongs to tracking (record fields and save marks). */
    static boolean isTrackingName(String name) {
        return name.startsWith(PREFIX) || name.equals(SORREL_SAVE);
    }

    /** The library tracks records of metadata version 1.2 and later only; absent means 1.0. */
    boolean isCurrent() {
        try {
            // The version the library writes, known without the float parser
            return "1.2".equals(metadataVersion)
                    || metadataVersion != null && Float.parseFloat(metadataVersion) >= 1.2f;
        } catch (NumberFormatException e) {
            return false;
        }
    }

    static String key(String field, String extendedVersionId) {
        return PREFIX + " " + field + "." + extendedVersionId;
    }

    static String key(String field, int n, String extendedVersionId) {
        return PREFIX + " " + field + n + "." + extendedVersionId;
    }

    /** Elements 1..count as stored; a missing element ends the list early (a damaged record). */
    private static List<String> list(Properties p, String sizeField, String field, String e) {
        String size = p.getProperty(key(sizeField, e));
        if (size == null) {
            return Collections.emptyList();
        }
        int count;
        try {
            count = Integer.parseInt(size.trim());
        } catch (NumberFormatException ex) {
            return Collections.emptyList();
        }
        List<String> result = new ArrayList<>();
        for (int n = 1; n <= count; n++) {
            String element = p.getProperty(key(field, n, e));
            if (element == null) {
                break;
            }
            result.add(element);
        }
        return Collections.unmodifiableList(result);
    }
}
