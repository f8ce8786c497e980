// POI's reading of compound files, as CfbTestSupport's listings print them: "FILE", then one
// "path size sha256" line per stream, or "ERROR ..." for a file POI refuses.
import java.io.File;
import java.security.MessageDigest;
import java.util.ArrayList;
import java.util.List;
import org.apache.poi.poifs.filesystem.DirectoryEntry;
import org.apache.poi.poifs.filesystem.DocumentEntry;
import org.apache.poi.poifs.filesystem.DocumentInputStream;
import org.apache.poi.poifs.filesystem.Entry;
import org.apache.poi.poifs.filesystem.POIFSFileSystem;

public class PoiCfbListing {
  static void walk(DirectoryEntry dir, String prefix, List<String> out) throws Exception {
    for (Entry e : dir) {
      String path = prefix.isEmpty() ? e.getName() : prefix + "/" + e.getName();
      if (e instanceof DirectoryEntry) {
        walk((DirectoryEntry) e, path, out);
      } else {
        byte[] data;
        try (DocumentInputStream in = new DocumentInputStream((DocumentEntry) e)) {
          data = in.readAllBytes();
        }
        StringBuilder hex = new StringBuilder();
        for (byte b : MessageDigest.getInstance("SHA-256").digest(data)) hex.append(String.format("%02x", b));
        out.add(path + " " + data.length + " " + hex);
      }
    }
  }

  public static void main(String[] args) {
    for (String f : args) {
      System.out.println("FILE");
      List<String> lines = new ArrayList<>();
      try (POIFSFileSystem fs = new POIFSFileSystem(new File(f), true)) {
        walk(fs.getRoot(), "", lines);
        lines.forEach(System.out::println);
      } catch (Throwable e) {
        System.out.println("ERROR " + e.getClass().getSimpleName() + " " + e.getMessage());
      }
    }
  }
}
