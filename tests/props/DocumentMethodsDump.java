import com.quorvane.infrastructure.os.windows.Win32Impl;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.StandardCopyOption;
import java.util.Map;
import java.util.Properties;
import java.util.TreeMap;
import java.util.stream.Stream;

/**
 * The four compound-document methods over copies of every fixture, in a fixed order of steps, as one line per
 * file, step and result: "FILE STEP 0xRESULT name=value ..." (names sorted, both escaped). The Windows DLL's
 * harness (tests/windows/DocumentMethodsDump.cpp) writes the same lines; document_methods_match.py compares them.
 * usage: java DocumentMethodsDump.java FIXTURES WORK_FOLDER
 */
public final class DocumentMethodsDump {
    /** What the writing steps hand the methods (the same in the Windows harness). */
    static final String TEXT = "M\u00fcller \u2013 Caf\u00e9 \u20ac5";
    static final String ID = "Xx+/abcdefghijklmnopqQ";

    public static void main(String[] args) throws Exception {
        Path fixtures = Path.of(args[0]), work = Path.of(args[1]);
        try (Stream<Path> files = Files.list(fixtures)) {
            for (Path fixture : files.sorted().toList()) {
                String name = fixture.getFileName().toString();
                if (name.endsWith(".md")) {
                    continue;
                }
                Path copy = work.resolve(name);
                Files.copy(fixture, copy, StandardCopyOption.REPLACE_EXISTING);
                copy.toFile().setWritable(true);
                steps(name, copy.toString());
            }
        }
    }

    static void steps(String name, String path) {
        Properties p = new Properties();
        line(name, "user", Win32Impl.getCompoundDocumentUserProperties(path, p, false), p);
        p = new Properties();
        line(name, "user-checked", Win32Impl.getCompoundDocumentUserProperties(path, p, true), p);
        p = new Properties();
        line(name, "summary", Win32Impl.getCompoundDocumentSummaryProperties(path, p), p);
        p = props("PIDSI_AUTHOR", "Writer", "PIDSI_TITLE", "Heading", "PIDSI_CREATE_DTM", "Made");
        line(name, "copy", Win32Impl.copySummaryPropertiesToUserProperties(path, p), p);
        p = props("Client", TEXT, "Empty", "", "prop1", "##DEL##", "Quorvane ExtendedVersionId", ID,
                "Quorvane MetadataVersion." + ID, "1.2", "Quorvane DocumentId." + ID, "d");
        line(name, "set", Win32Impl.setCompoundDocumentUserProperties(path, p), p);
        p = new Properties();
        line(name, "reread", Win32Impl.getCompoundDocumentUserProperties(path, p, false), p);
        p = new Properties();
        line(name, "reread-checked", Win32Impl.getCompoundDocumentUserProperties(path, p, true), p);
        p = new Properties();
        line(name, "summary-after", Win32Impl.getCompoundDocumentSummaryProperties(path, p), p);
    }

    static Properties props(String... pairs) {
        Properties p = new Properties();
        for (int i = 0; i < pairs.length; i += 2) {
            p.setProperty(pairs[i], pairs[i + 1]);
        }
        return p;
    }

    static void line(String file, String step, int result, Properties p) {
        StringBuilder out = new StringBuilder(file + " " + step + " " + String.format("0x%08X", result));
        Map<String, String> sorted = new TreeMap<>();
        for (String key : p.stringPropertyNames()) {
            sorted.put(key, p.getProperty(key));
        }
        sorted.forEach((k, v) -> out.append(' ').append(escape(k)).append('=').append(escape(v)));
        System.out.println(out);
    }

    /** Printable ASCII but backslash, space and '=' as themselves; any other UTF-16 unit as \\uXXXX. */
    static String escape(String text) {
        StringBuilder out = new StringBuilder();
        for (char c : text.toCharArray()) {
            if (c > 0x20 && c < 0x7F && c != '\\' && c != '=') {
                out.append(c);
            } else {
                out.append(String.format("\\u%04x", (int) c));
            }
        }
        return out.toString();
    }
}
