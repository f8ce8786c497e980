import com.quorvane.infrastructure.os.windows.Win32Impl;
import java.util.Properties;

/**
 * A Java program as its users write it, against the installed package:
 * System.loadLibrary("quorvane") with the JVM's default library path, then
 * a document's summary properties. usage: LoadLibraryCheck DOCUMENT
 */
public class LoadLibraryCheck {
    public static void main(String[] args) {
        System.loadLibrary("quorvane");
        Properties properties = new Properties();
        int hr = Win32Impl.getCompoundDocumentSummaryProperties(args[0], properties);
        if (hr != 0 || properties.isEmpty()) {
            System.err.printf("reading %s failed: 0x%08X, %d properties%n", args[0], hr, properties.size());
            System.exit(1);
        }
        System.out.println("loaded quorvane from java.library.path=" + System.getProperty("java.library.path"));
        System.out.println(properties.size() + " summary properties, title: " + properties.getProperty("PIDSI_TITLE"));
    }
}
