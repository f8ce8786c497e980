package com.quorvane.test;

import java.io.*;
import java.nio.file.*;
import java.util.*;
import java.util.function.BiConsumer;
import org.apache.poi.hpsf.*;
import org.apache.poi.poifs.filesystem.POIFSFileSystem;

/** Writable copies of the compound-document fixtures, and Apache POI's view of a document. */
final class DocumentFixtures {
    private DocumentFixtures() {
    }

    /** A writable copy of the fixture under dir, named as asked (by default, as the fixture). */
    static String copy(Path dir, String fixture, String as) throws IOException {
        Path target = dir.resolve(as);
        Files.copy(Paths.get(System.getenv("QV_SOURCE_DIR"), "tests", "fixtures", "compound", fixture), target,
                StandardCopyOption.REPLACE_EXISTING);
        target.toFile().setWritable(true);
        return target.toString();
    }

    static String copy(Path dir, String fixture) throws IOException {
        return copy(dir, fixture, fixture);
    }

    static SummaryInformation poiSummary(String path) throws Exception {
        try (POIFSFileSystem fs = new POIFSFileSystem(new File(path), true)) {
            return (SummaryInformation) PropertySetFactory.create(fs.getRoot(), SummaryInformation.DEFAULT_STREAM_NAME);
        }
    }

    /** The user-defined properties as POI reads them, blobs as hex (empty when there are none). */
    static Map<String, Object> poiCustom(String path) throws Exception {
        Map<String, Object> result = new TreeMap<>();
        try (POIFSFileSystem fs = new POIFSFileSystem(new File(path), true)) {
            if (fs.getRoot().hasEntry(DocumentSummaryInformation.DEFAULT_STREAM_NAME)) {
                CustomProperties props = ((DocumentSummaryInformation) PropertySetFactory.create(fs.getRoot(),
                        DocumentSummaryInformation.DEFAULT_STREAM_NAME)).getCustomProperties();
                if (props != null) {
                    props.forEach((k, v) -> result.put(k, v instanceof byte[] b ? HexFormat.of().formatHex(b) : v));
                }
            }
        }
        return result;
    }

    /** Changes both summary sets with POI and writes the file in place, as another program's save. */
    static void poiSave(String path, BiConsumer<SummaryInformation, DocumentSummaryInformation> change)
            throws Exception {
        try (POIFSFileSystem fs = new POIFSFileSystem(new File(path), false)) {
            SummaryInformation si = (SummaryInformation) PropertySetFactory.create(fs.getRoot(),
                    SummaryInformation.DEFAULT_STREAM_NAME);
            DocumentSummaryInformation dsi = (DocumentSummaryInformation) PropertySetFactory.create(fs.getRoot(),
                    DocumentSummaryInformation.DEFAULT_STREAM_NAME);
            change.accept(si, dsi);
            si.write(fs.getRoot(), SummaryInformation.DEFAULT_STREAM_NAME);
            dsi.write(fs.getRoot(), DocumentSummaryInformation.DEFAULT_STREAM_NAME);
            fs.writeFilesystem();
        }
    }

    static Properties props(String... pairs) {
        Properties p = new Properties();
        p.putAll(trackingRecord(null, pairs));
        return p;
    }

    /** "Quorvane NAME.id" to value (NAME alone for a null id): one version of a tracking record, from name, value. */
    static Map<String, String> trackingRecord(String id, String... pairs) {
        Map<String, String> record = new TreeMap<>();
        for (int i = 0; i < pairs.length; i += 2) {
            record.put(id == null ? pairs[i] : "Quorvane " + pairs[i] + "." + id, pairs[i + 1]);
        }
        return record;
    }
}
