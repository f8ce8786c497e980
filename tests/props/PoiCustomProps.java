// Prints the user-defined properties of a compound document as POI reads
// them: one "name=value" line each, non-ASCII escaped, sorted by name.
import java.io.File;
import java.util.TreeMap;
import org.apache.poi.hpsf.CustomProperties;
import org.apache.poi.hpsf.DocumentSummaryInformation;
import org.apache.poi.hpsf.PropertySetFactory;
import org.apache.poi.poifs.filesystem.POIFSFileSystem;

public class PoiCustomProps {
  static String escape(String s) {
    StringBuilder b = new StringBuilder();
    for (char c : s.toCharArray()) {
      if (c >= 0x20 && c < 0x7F && c != '\\') b.append(c);
      else b.append(String.format("\\u%04x", (int) c));
    }
    return b.toString();
  }

  public static void main(String[] args) throws Exception {
    try (POIFSFileSystem fs = new POIFSFileSystem(new File(args[0]), true)) {
      if (!fs.getRoot().hasEntry(DocumentSummaryInformation.DEFAULT_STREAM_NAME)) return;
      DocumentSummaryInformation dsi = (DocumentSummaryInformation) PropertySetFactory.create(
          fs.getRoot(), DocumentSummaryInformation.DEFAULT_STREAM_NAME);
      CustomProperties custom = dsi.getCustomProperties();
      TreeMap<String, String> sorted = new TreeMap<>();
      if (custom != null)
        for (String name : custom.nameSet()) sorted.put(name, String.valueOf(custom.get(name)));
      for (java.util.Map.Entry<String, String> e : sorted.entrySet())
        System.out.println(escape(e.getKey()) + "=" + escape(e.getValue()));
    }
  }
}
