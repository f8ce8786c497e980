// An update stopped at every k-th write or sync (failed call or exit) leaves the old or the new file,
// for our engine, olefile in its strict mode and POI. A call that fails (here: the disk is full) leaves
// the file byte for byte as it was; one whose switch to the new content reached the disk succeeds.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>

#include "CfbTestSupport.h"
#include "posix/storage/cfb/FileIo.h"

namespace {

using namespace cfbtest;

using Step = std::function<HRESULT(cfb::CompoundFile&)>;

struct Scenario {
  const char* fixture;
  Step update;
  Step prepare;  // optional: brings the copy to the state the update starts from
  uint32_t difatSectorsAfter = 0;  // when set: the update adds the last of these DIFAT sectors
};

uint32_t DifatSectors(const std::string& path) {
  return cfb::Load32(ReadAll(path).data() + cfb::kHeaderNumDifatSectors);
}

auto Write(const char16_t* name, size_t size, uint8_t seed) {
  return [=](cfb::CompoundFile& f) { return f.WriteStream(name, Pattern(size, seed)); };
}

TEST(CfbCrash, EveryStopLeavesTheOldOrTheNewFile) {
  const Scenario scenarios[] = {
      {"Office365BlankSample_v2507.doc", Write(u"\005SummaryInformation", 900, 1)},  // replacing a property stream
      {"LibreOfficeBlankSample_v25.8.doc", Write(u"\005UserDefined", 400, 2)},      // adding: the tree is rebuilt
      {"2custom.doc", Write(u"\005DocumentSummaryInformation", 6000, 3)},          // growing across the cutoff
      // Two streams nearly fill the first mini FAT and directory sectors; the update needs more of each.
      {"TestStream_v3_0.cfs", Write(u"S2", 1000, 4),
       [](cfb::CompoundFile& f) {
         const HRESULT hr = f.WriteStream(u"S0", Pattern(3800, 5));
         return SUCCEEDED(hr) ? f.WriteStream(u"S1", Pattern(3800, 6)) : hr;
       }},
      {"report.xls", [](cfb::CompoundFile& f) { return f.DeleteStream(u"\001CompObj"); }},
      // 15 MB: the FAT sectors that the header and the first DIFAT sector list cover all but a few
      // sectors; the update needs another FAT sector, so a second DIFAT sector. Most of the file is
      // free space between streams, where allocation does not look, so reading a stopped file is cheap.
      {"TestStream_v3_0.cfs", Write(u"More", 64 << 10, 8),
       [](cfb::CompoundFile& f) {
         HRESULT hr = f.WriteStream(u"Head", Pattern(600 * 512, 7));
         if (SUCCEEDED(hr)) hr = f.WriteStream(u"Fill", Pattern(29050 * 512, 8));
         if (SUCCEEDED(hr)) hr = f.WriteStream(u"Tail", Pattern(300 * 512, 9));
         return SUCCEEDED(hr) ? f.DeleteStream(u"Fill") : hr;
       },
       2},
  };
  for (const Scenario& scenario : scenarios) {
    SCOPED_TRACE(scenario.fixture);
    TempDir dir;
    const std::string base = CopyFixture(scenario.fixture, dir), reference = dir.File("reference");
    std::string start;  // the file each update starts from, read once
    auto open = [&](const std::string& path, std::shared_ptr<cfb::CompoundFile>& file) {
      settings_test::WriteBytes(path, start);
      return cfb::CompoundFile::Open(path, ReadWriteExclusive(), file);
    };
    std::shared_ptr<cfb::CompoundFile> file;
    if (scenario.prepare) {
      ASSERT_EQ(cfb::CompoundFile::Open(base, ReadWriteExclusive(), file), S_OK);
      ASSERT_EQ(scenario.prepare(*file), S_OK);
      file.reset();
    }
    start = settings_test::ReadBytes(base);
    // Listings before and after a clean update, which counts the operations.
    std::vector<std::string> before, after;
    ASSERT_EQ(EngineListing(base, before), S_OK);
    ASSERT_EQ(open(reference, file), S_OK);
    cfb::SetFaultPlan({cfb::FaultPlan::Action::kFail, UINT64_MAX, 0});
    ASSERT_EQ(scenario.update(*file), S_OK);
    const uint64_t operations = cfb::FaultPlanOperations();
    cfb::SetFaultPlan({});
    file.reset();
    ASSERT_EQ(EngineListing(reference, after), S_OK);
    ASSERT_NE(before, after);
    if (scenario.difatSectorsAfter) {
      EXPECT_EQ(DifatSectors(base) + 1, scenario.difatSectorsAfter);
      EXPECT_EQ(DifatSectors(reference), scenario.difatSectorsAfter);
    }
    ASSERT_GT(operations, 3u);

    std::vector<std::string> stopped;
    for (uint64_t k = 1; k <= operations; ++k) {
      const std::string failed = dir.File("k" + std::to_string(k) + "f");
      const std::string ended = dir.File("k" + std::to_string(k) + "x");
      ASSERT_EQ(open(failed, file), S_OK);
      cfb::SetFaultPlan({cfb::FaultPlan::Action::kFail, k, 0, STG_E_MEDIUMFULL});
      const HRESULT hr = scenario.update(*file);
      cfb::SetFaultPlan({});
      file.reset();
      if (hr == S_OK) {
        std::vector<std::string> now;
        EXPECT_EQ(EngineListing(failed, now), S_OK);
        EXPECT_EQ(now, after) << "k=" << k << ": succeeded without the change";
      } else {
        EXPECT_EQ(hr, STG_E_MEDIUMFULL) << "k=" << k;
        EXPECT_TRUE(settings_test::ReadBytes(failed) == start) << "k=" << k << ": failed, but changed the file";
      }
      const pid_t pid = fork();
      if (pid == 0) {
        if (open(ended, file) != S_OK) _exit(1);
        cfb::SetFaultPlan({cfb::FaultPlan::Action::kExit, k, 77});
        scenario.update(*file);
        _exit(2);  // the plan should have ended us first
      }
      int status = 0;
      waitpid(pid, &status, 0);
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 77) << "k=" << k;
      for (const std::string& path : {failed, ended}) {
        std::vector<std::string> now;
        ASSERT_EQ(EngineListing(path, now), S_OK) << path;
        EXPECT_TRUE(now == before || now == after) << path;
        stopped.push_back(path);
      }
    }
    for (const auto& oracle : {OlefileListings(stopped), PoiListings(stopped)}) {
      ASSERT_EQ(oracle.size(), stopped.size());
      for (size_t i = 0; i < stopped.size(); ++i)
        EXPECT_TRUE(oracle[i] == before || oracle[i] == after)
            << stopped[i] << ": " << (oracle[i].empty() ? "" : oracle[i][0]);
    }
  }
}

}  // namespace
