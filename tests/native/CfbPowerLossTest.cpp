// Every state a crash or a power loss can leave an update in, rebuilt from the writes and syncs the update
// made: the file after each prefix of its writes (a process killed before the next one), and, for the writes
// since the last sync, subsets of the 4096-byte pages they touched (the disk kept some, lost the others).
// Each state must read as the old document or the new one for our engine, olefile (strict) and POI, and the
// update must succeed when run again on it. A call failing at any write or sync (the disk full) leaves the
// file byte for byte as it was, unless it succeeds with the new document.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <iostream>
#include <random>
#include <set>
#include <unordered_set>

#include "CfbTestSupport.h"
#include "posix/storage/cfb/FileIo.h"

namespace {

using namespace cfbtest;

using Step = std::function<HRESULT(cfb::CompoundFile&)>;
constexpr uint64_t kSync = UINT64_MAX;
constexpr size_t kPage = 4096;
constexpr size_t kSubsetsPerCase = 64;

struct Op {
  uint64_t offset;  // kSync: a sync
  std::string bytes;
};

struct Case {
  const char* name;
  const char* fixture;  // copied; nullptr: a new file of `version`
  uint16_t version;
  Step prepare;  // optional: brings the file to the state the update starts from
  Step update;
  uint32_t fatSectorsAdded;  // what the row must make the update do, so that it tests what it says
  uint32_t difatSectorsAfter;
};

uint32_t HeaderField(const std::string& file, size_t offset) {
  return cfb::Load32(reinterpret_cast<const uint8_t*>(file.data()) + offset);
}

Step Write(const char16_t* name, size_t size, uint8_t seed) {
  return [=](cfb::CompoundFile& f) { return f.WriteStream(name, Pattern(size, seed)); };
}

Step Steps(std::vector<Step> steps) {
  return [=](cfb::CompoundFile& f) {
    HRESULT hr = S_OK;
    for (const Step& step : steps)
      if (FAILED(hr = step(f))) break;
    return hr;
  };
}

// A version 3 file of exactly 128 sectors, its directory holding four streams in two sectors: the first FAT
// sector is full, and a fifth name needs a new directory sector, so a new FAT sector. Sectors: FAT 0,
// directory 1, A 2-9, mini stream 10, mini FAT 11, directory 12, D 13-127.
Step FullFat() {
  return Steps({Write(u"A", 4096, 1), Write(u"B", 100, 2), Write(u"C", 100, 3), Write(u"D", 115 * 512, 4)});
}

// Streams far apart with zeros between them (sparse on disk, cheap to copy and read): the FAT sectors the
// header and the DIFAT sectors list cover all but about 20 sectors of the file. Allocation looks at few FAT
// sectors, so the update appends, and the FAT needs one more sector: its slot is the first of a new DIFAT
// sector.
Step NearlyFullDifat(uint32_t fill) {
  return [=](cfb::CompoundFile& f) {
    HRESULT hr = f.WriteStream(u"Head", Pattern(600 * 512, 7));
    if (SUCCEEDED(hr)) hr = f.WriteStream(u"Fill", std::vector<uint8_t>(fill * 512, 0));
    if (SUCCEEDED(hr)) hr = f.WriteStream(u"Tail", Pattern(300 * 512, 9));
    return SUCCEEDED(hr) ? f.DeleteStream(u"Fill") : hr;
  };
}

const Case kCases[] = {
    {"fat grows for a new document summary stream", nullptr, 3, FullFat(),
     Write(u"\005DocumentSummaryInformation", 300, 4), 1, 0},
    {"fat grows for a longer stream", nullptr, 3, FullFat(), Write(u"D", 100 * 512, 5), 1, 0},
    {"difat starts at 109 fat sectors", "TestStream_v3_0.cfs", 3, NearlyFullDifat(12920),
     Write(u"More", 64 << 10, 8), 1, 1},
    {"a difat sector the file had lists the new fat sector", "TestStream_v3_0.cfs", 3, NearlyFullDifat(14317),
     Write(u"More", 64 << 10, 8), 1, 1},
    {"difat grows at 236 fat sectors", "TestStream_v3_0.cfs", 3, NearlyFullDifat(29050),
     Write(u"More", 64 << 10, 8), 1, 2},
    // Two streams nearly fill the first mini FAT and directory sectors; the update needs more of each.
    {"mini fat and directory grow", "TestStream_v3_0.cfs", 3,
     Steps({Write(u"S0", 3800, 5), Write(u"S1", 3800, 6)}), Write(u"S2", 1000, 4), 0, 0},
    {"a stream leaves the mini stream", "2custom.doc", 3, nullptr,
     Write(u"\005DocumentSummaryInformation", 6000, 3), 0, 0},
    {"4096-byte sectors", nullptr, 4, Steps({Write(u"A", 1000, 1), Write(u"B", 70000, 2)}),
     Write(u"\005SummaryInformation", 5000, 3), 0, 0},
    {"office document without document summary", "no_codepage.doc", 3, nullptr,
     Write(u"\005DocumentSummaryInformation", 400, 5), 0, 0},
    {"office document, summary replaced", "Office365BlankSample_v2507.doc", 3, nullptr,
     Write(u"\005SummaryInformation", 900, 1), 0, 0},
    {"libreoffice presentation with its fat full", "LibreOfficeBlankSample_v25.8.ppt", 3, nullptr,
     Write(u"\005DocumentSummaryInformation", 5000, 6), 1, 0},
    {"libreoffice document, user set added", "LibreOfficeBlankSample_v25.8.doc", 3, nullptr,
     Write(u"\005UserDefined", 400, 2), 0, 0},
    {"office workbook, stream deleted", "report.xls", 3, nullptr,
     [](cfb::CompoundFile& f) {  // run again on a state that has it deleted: nothing to do
       const HRESULT hr = f.DeleteStream(u"\001CompObj");
       return hr == STG_E_FILENOTFOUND ? S_OK : hr;
     },
     0, 0},
};

// Writes `bytes` leaving every all-zero page a hole: the big rows' states are mostly zeros.
void WriteSparse(const std::string& path, const std::string& bytes) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0) << path;
  static const std::string zeros(kPage, '\0');
  for (size_t at = 0; at < bytes.size(); at += kPage) {
    const size_t count = std::min(kPage, bytes.size() - at);
    if (bytes.compare(at, count, zeros, 0, count) != 0)
      ASSERT_EQ(pwrite(fd, bytes.data() + at, count, static_cast<off_t>(at)), static_cast<ssize_t>(count));
  }
  ASSERT_EQ(ftruncate(fd, static_cast<off_t>(bytes.size())), 0);
  close(fd);
}

// Where the states go: memory when there is room. The big rows' states are sparse, their FAT sectors
// scattered through them; once written back, deleting them costs a discard per extent on a disk mounted
// with `discard` (tens of seconds), and the test runs long enough for writeback.
class StateDir {
 public:
  StateDir() {
    struct statvfs fs;
    const bool memory = statvfs("/dev/shm", &fs) == 0 && uint64_t{fs.f_bavail} * fs.f_frsize >= (uint64_t{1} << 30);
    std::string pattern = memory ? "/dev/shm/qv-cfb-XXXXXX" : "/tmp/qv-cfb-XXXXXX";
    path_ = mkdtemp(pattern.data()) ? pattern : "";
  }
  ~StateDir() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  std::string File(const std::string& name) const { return path_ + "/" + name; }
  bool Made() const { return !path_.empty(); }

 private:
  std::string path_;
};

void Apply(std::string& image, uint64_t offset, const char* bytes, size_t count) {
  if (image.size() < offset + count) image.resize(offset + count, '\0');
  image.replace(offset, count, bytes, count);
}

struct State {
  std::string path, what;
  size_t row;
};

struct Row {
  std::vector<std::string> before, after;
  size_t states = 0, refused = 0, writes = 0, syncs = 0;
};

// The states of one row: each prefix of the writes, and page subsets of the writes after each sync.
class StateMaker {
 public:
  StateMaker(const std::string& start, size_t row, const StateDir& dir, std::vector<State>& out)
      : image_(start), synced_(start), row_(row), dir_(dir), out_(out), random_(1000 + row) {}

  void Replay(const std::vector<Op>& ops) {
    size_t writes = 0;
    for (const Op& op : ops) epochs_ += op.offset == kSync;
    for (const Op& op : ops) {
      if (op.offset == kSync) {
        Subsets(writes);
        synced_ = image_;
        pages_.clear();
        continue;
      }
      Emit(image_, "killed before write " + std::to_string(++writes));
      for (uint64_t page = op.offset / kPage; page * kPage < op.offset + op.bytes.size(); ++page) pages_.insert(page);
      Apply(image_, op.offset, op.bytes.data(), op.bytes.size());
    }
    Subsets(writes);
    Emit(image_, "complete");
  }

 private:
  // Every subset when there are few; else each page alone, all pages but one (a write that must wait for
  // another lands alone, or the one it waits for is lost), then random ones, as far as the row's budget goes.
  void Subsets(size_t writes) {
    const std::vector<uint64_t> pages(pages_.begin(), pages_.end());
    const size_t m = pages.size();
    if (m < 2) return;  // nothing between the prefixes
    const size_t budget = std::min(left_, std::max(kSubsetsPerCase / epochs_, 2 * m));
    std::vector<std::vector<bool>> subsets;
    if (m < 12 && (size_t{1} << m) - 2 <= budget) {
      for (size_t bits = 1; bits + 1 < (size_t{1} << m); ++bits) {
        subsets.emplace_back(m);
        for (size_t p = 0; p < m; ++p) subsets.back()[p] = ((bits >> p) & 1) != 0;
      }
    } else {
      for (size_t p = 0; p < m && subsets.size() < budget; ++p) subsets.emplace_back(m, false).at(p) = true;
      for (size_t p = 0; p < m && subsets.size() < budget; ++p) subsets.emplace_back(m, true).at(p) = false;
      while (subsets.size() < budget) {
        subsets.emplace_back(m);
        for (size_t p = 0; p < m; ++p) subsets.back()[p] = (random_() & 1) != 0;
      }
    }
    left_ -= std::min(left_, subsets.size());
    for (const std::vector<bool>& kept : subsets) {
      std::string state = synced_, what = "power lost after write " + std::to_string(writes) + ", pages kept:";
      for (size_t p = 0; p < m; ++p) {
        if (!kept[p]) continue;
        const uint64_t begin = pages[p] * kPage;
        const uint64_t end = std::min<uint64_t>(begin + kPage, image_.size());
        if (begin < end) Apply(state, begin, image_.data() + begin, end - begin);
        what += " " + std::to_string(pages[p]);
      }
      Emit(state, what);
    }
  }

  void Emit(const std::string& state, const std::string& what) {
    if (!seen_.insert(std::hash<std::string>()(state)).second) return;
    const std::string path = dir_.File("s" + std::to_string(out_.size()));  // unique over the rows
    WriteSparse(path, state);
    out_.push_back({path, what, row_});
  }

  std::string image_, synced_;
  size_t row_;
  const StateDir& dir_;
  std::vector<State>& out_;
  std::mt19937 random_;
  size_t epochs_ = 1, left_ = kSubsetsPerCase;
  std::set<uint64_t> pages_;
  std::unordered_set<size_t> seen_;
};

TEST(CfbPowerLoss, EveryCrashAndPowerLossStateReadsOldOrNewAndUpdatesAgain) {
  std::vector<std::unique_ptr<TempDir>> dirs;
  const StateDir stateDir;
  ASSERT_TRUE(stateDir.Made());
  std::vector<State> states;
  std::vector<Row> rows(std::size(kCases));
  for (size_t r = 0; r < std::size(kCases); ++r) {
    const Case& row = kCases[r];
    SCOPED_TRACE(row.name);
    dirs.push_back(std::make_unique<TempDir>());
    const TempDir& dir = *dirs.back();
    std::shared_ptr<cfb::CompoundFile> file;
    std::string base = dir.File("base");
    if (row.fixture) {
      base = CopyFixture(row.fixture, dir);
      ASSERT_EQ(cfb::CompoundFile::Open(base, ReadWriteExclusive(), file), S_OK);
    } else {
      ASSERT_EQ(cfb::CompoundFile::Create(base, ReadWriteExclusive(), false, row.version, file), S_OK);
    }
    if (row.prepare) ASSERT_EQ(row.prepare(*file), S_OK);
    file.reset();
    const std::string start = settings_test::ReadBytes(base);
    ASSERT_EQ(EngineListing(base, rows[r].before), S_OK);

    // The update once, every write and sync recorded.
    std::vector<Op> ops;
    cfb::FaultPlan plan;
    plan.record = [&](uint64_t offset, const uint8_t* bytes, size_t count) {
      ops.push_back({offset, std::string(reinterpret_cast<const char*>(bytes), count)});
    };
    ASSERT_EQ(cfb::CompoundFile::Open(base, ReadWriteExclusive(), file), S_OK);
    cfb::SetFaultPlan(plan);
    const HRESULT updated = row.update(*file);
    cfb::SetFaultPlan({});
    file.reset();
    ASSERT_EQ(updated, S_OK);
    ASSERT_EQ(EngineListing(base, rows[r].after), S_OK);
    ASSERT_NE(rows[r].before, rows[r].after);
    const std::string end = settings_test::ReadBytes(base);
    EXPECT_EQ(HeaderField(end, cfb::kHeaderNumFatSectors),
              HeaderField(start, cfb::kHeaderNumFatSectors) + row.fatSectorsAdded);
    EXPECT_EQ(HeaderField(end, cfb::kHeaderNumDifatSectors), row.difatSectorsAfter);

    // The record replayed must give the file the update made.
    std::string replayed = start;
    for (const Op& op : ops)
      if (op.offset != kSync) Apply(replayed, op.offset, op.bytes.data(), op.bytes.size());
    ASSERT_TRUE(replayed == end) << "the record misses writes";

    for (const Op& op : ops) ++(op.offset == kSync ? rows[r].syncs : rows[r].writes);
    const size_t first = states.size();
    StateMaker(start, r, stateDir, states).Replay(ops);
    for (uint64_t k = 1; k <= ops.size(); ++k) {
      const State failed{stateDir.File("f" + std::to_string(states.size()) + "_" + std::to_string(k)),
                         "write or sync " + std::to_string(k) + " failed", r};
      WriteSparse(failed.path, start);
      ASSERT_EQ(cfb::CompoundFile::Open(failed.path, ReadWriteExclusive(), file), S_OK);
      cfb::SetFaultPlan({cfb::FaultPlan::Action::kFail, k, 0, STG_E_MEDIUMFULL});
      const HRESULT hr = row.update(*file);
      cfb::SetFaultPlan({});
      file.reset();
      std::vector<std::string> now;
      if (hr != S_OK) {
        EXPECT_TRUE(hr == STG_E_MEDIUMFULL && settings_test::ReadBytes(failed.path) == start) << failed.what;
        continue;
      }
      EXPECT_TRUE(EngineListing(failed.path, now) == S_OK && now == rows[r].after) << failed.what << ", yet S_OK";
      states.push_back(failed);  // olefile and POI must read it too
    }
    rows[r].states = states.size() - first;
  }

  // Our engine, then olefile and POI over every state at once (one interpreter, one JVM).
  std::vector<std::string> paths;
  for (const State& s : states) paths.push_back(s.path);
  std::vector<bool> refused(states.size());
  for (size_t i = 0; i < states.size(); ++i) {
    std::vector<std::string> lines;
    const HRESULT hr = EngineListing(states[i].path, lines);
    const Row& row = rows[states[i].row];
    if (FAILED(hr) || (lines != row.before && lines != row.after)) {
      refused[i] = true;
      ADD_FAILURE() << kCases[states[i].row].name << ", " << states[i].what << ": our engine "
                    << (FAILED(hr) ? "refuses it" : "reads neither document");
    }
  }
  const auto olefile = OlefileListings(paths), poi = PoiListings(paths);
  ASSERT_EQ(olefile.size(), states.size());
  ASSERT_EQ(poi.size(), states.size());
  for (size_t i = 0; i < states.size(); ++i) {
    const Row& row = rows[states[i].row];
    for (const auto* reader : {&olefile, &poi}) {
      const std::vector<std::string>& lines = (*reader)[i];
      if (lines == row.before || lines == row.after) continue;
      refused[i] = true;
      ADD_FAILURE() << kCases[states[i].row].name << ", " << states[i].what << ": "
                    << (reader == &olefile ? "olefile" : "POI") << " " << (lines.empty() ? "" : lines[0]);
    }
  }

  // The document can always be updated again.
  for (size_t i = 0; i < states.size(); ++i) {
    const Case& row = kCases[states[i].row];
    std::shared_ptr<cfb::CompoundFile> file;
    HRESULT hr = cfb::CompoundFile::Open(states[i].path, ReadWriteExclusive(), file);
    if (SUCCEEDED(hr)) hr = row.update(*file);
    file.reset();
    std::vector<std::string> lines;
    if (SUCCEEDED(hr)) hr = EngineListing(states[i].path, lines);
    if (FAILED(hr) || lines != rows[states[i].row].after) {
      refused[i] = true;
      ADD_FAILURE() << row.name << ", " << states[i].what << ": updating again gives 0x" << std::hex << hr << std::dec;
    }
  }
  for (size_t i = 0; i < states.size(); ++i) rows[states[i].row].refused += refused[i];
  for (size_t r = 0; r < rows.size(); ++r)
    std::cout << kCases[r].name << ": " << rows[r].writes << " writes, " << rows[r].syncs << " syncs; "
              << rows[r].states << " states, " << rows[r].refused << " failed\n";
}

}  // namespace
