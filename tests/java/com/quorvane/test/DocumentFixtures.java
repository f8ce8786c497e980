package com.quorvane.test;

import java.io.File;
import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.nio.file.StandardCopyOption;
import java.util.HexFormat;
import java.util.Map;
import java.util.TreeMap;
import org.apache.poi.hpsf.CustomProperties;
import org.apache.poi.hpsf.DocumentSummaryInformation;
import org.apache.poi.hpsf.PropertySetFactory;
import org.apache.poi.hpsf.SummaryInformation;
import org.apache.poi.poifs.filesystem.DirectoryEntry;
import org.apache.poi.poifs.filesystem.POIFSFileSystem;

/** Writable copies of the compound-document fixtures, and Apache POI's view of a document. */
final class DocumentFixtures {
    private DocumentFixtures() {
    }

    static Path fixture(String name) {
        return Paths.get(System.getenv("QV_SOURCE_DIR"), "..", "shared", "fixtures", "compound", name);
    }

    /** A writable copy of the fixture under dir, named as asked. */
    static String copy(Path dir, String fixture, String as) throws IOException {
        Path target = dir.resolve(as);
        Files.copy(fixture(fixture), target, StandardCopyOption.REPLACE_EXISTING);
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
        try (POIFSFileSystem fs = new POIFSFileSystem(new File(path), true)) {
            DirectoryEntry root = fs.getRoot();
            Map<String, Object> result = new TreeMap<>();
            if (!root.hasEntry(DocumentSummaryInformation.DEFAULT_STREAM_NAME)) {
                return result;
            }
            DocumentSummaryInformation dsi = (DocumentSummaryInformation) PropertySetFactory.create(root,
                    DocumentSummaryInformation.DEFAULT_STREAM_NAME);
            CustomProperties props = dsi.getCustomProperties();
            if (props != null) {
                props.forEach((k, v) -> result.put(k, v instanceof byte[] ? HexFormat.of().formatHex((byte[]) v) : v));
            }
            return result;
        }
    }

    /** Changes the summary information with POI and writes the file in place, as another program's save. */
    static void poiSave(String path, java.util.function.Consumer<SummaryInformation> change) throws Exception {
        try (POIFSFileSystem fs = new POIFSFileSystem(new File(path), false)) {
            SummaryInformation si = (SummaryInformation) PropertySetFactory.create(fs.getRoot(),
                    SummaryInformation.DEFAULT_STREAM_NAME);
            change.accept(si);
            si.write(fs.getRoot(), SummaryInformation.DEFAULT_STREAM_NAME);
            fs.writeFilesystem();
        }
    }

    static java.util.Properties props(String... pairs) {
        java.util.Properties p = new java.util.Properties();
        for (int i = 0; i < pairs.length; i += 2) {
            p.setProperty(pairs[i], pairs[i + 1]);
        }
        return p;
    }

    /** "Quorvane NAME.id" to value: the fields of one version of a tracking record, from name, value pairs. */
    static Map<String, String> trackingRecord(String id, String... pairs) {
        Map<String, String> record = new TreeMap<>();
        for (int i = 0; i < pairs.length; i += 2) {
            record.put("Quorvane " + pairs[i] + "." + id, pairs[i + 1]);
        }
        return record;
    }
}
