// POI's reading of property-set streams (or with --custom DOC a document's user-defined set) as qv_props_dump prints.
import java.io.BufferedInputStream;
import java.io.File;
import java.io.FileInputStream;
import java.util.Date;
import java.util.TreeMap;
import java.util.stream.Collectors;
import org.apache.poi.hpsf.*;
import org.apache.poi.poifs.filesystem.POIFSFileSystem;

public class PoiPropsDump {
  static String escape(String s) {
    return s.chars().mapToObj(c -> c >= 0x20 && c < 0x7F && c != '\\' ? String.valueOf((char) c)
        : String.format("\\u%04x", c)).collect(Collectors.joining());
  }

  static String value(long type, Object v) {
    if (v == null) return "null";
    switch ((int) type) {
      case 2: case 3: case 16: case 17: case 18: case 19: case 22: case 23:
        return Long.toString(((Number) v).longValue());
      case 11: return v.toString();
      case 30: case 31: case 8: return "\"" + escape(v.toString()) + "\"";
      case 64: return v instanceof Date ? Long.toString(((Date) v).getTime()) : "?";
      case 5: return Long.toHexString(Double.doubleToLongBits((Double) v));
      default: return "-";
    }
  }

  public static void main(String[] args) throws Exception {
    if (args.length == 2 && args[0].equals("--custom")) {
      try (POIFSFileSystem fs = new POIFSFileSystem(new File(args[1]), true)) {
        if (!fs.getRoot().hasEntry(DocumentSummaryInformation.DEFAULT_STREAM_NAME)) return;
        CustomProperties custom = ((DocumentSummaryInformation) PropertySetFactory.create(
            fs.getRoot(), DocumentSummaryInformation.DEFAULT_STREAM_NAME)).getCustomProperties();
        TreeMap<String, String> sorted = new TreeMap<>();
        if (custom != null) for (String name : custom.nameSet()) sorted.put(name, String.valueOf(custom.get(name)));
        sorted.forEach((k, v) -> System.out.println(escape(k) + "=" + escape(v)));
      }
      return;
    }
    for (String file : args) {
      try (FileInputStream in = new FileInputStream(file)) {
        PropertySet ps = new PropertySet(new BufferedInputStream(in));
        System.out.println("stream " + new File(file).getName() + " sections=" + ps.getSectionCount());
        for (Section s : ps.getSections()) {
          System.out.println("section " + s.getFormatID().toString().toUpperCase() + " cp="
              + (s.getCodepage() == -1 ? 0 : s.getCodepage() & 0xFFFF));
          if (s.getDictionary() != null)
            new TreeMap<>(s.getDictionary()).forEach((id, n) -> System.out.println("name " + id + " \"" + escape(n)
                + "\""));
          TreeMap<Long, Property> props = new TreeMap<>();
          for (Property p : s.getProperties()) props.put(p.getID() & 0xFFFFFFFFL, p);  // ids are unsigned
          props.forEach((id, p) -> {
            if (id > 1) System.out.println("prop " + id + " " + p.getType() + " " + value(p.getType(), p.getValue()));
          });
        }
      }
    }
  }
}
