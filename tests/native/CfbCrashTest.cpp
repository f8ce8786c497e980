// Crash safety: an update is stopped at its k-th write or sync, for every k,
// by failing the call or by ending the process there. The file must then
// open in our engine and in olefile with the old or the new stream, and
// every other stream unchanged.
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
};

uint64_t CountOperations(const std::string& base, const Step& update) {
  TempDir dir;
  const std::string path = dir.File("count");
  WriteAll(path, ReadAll(base));
  std::shared_ptr<cfb::CompoundFile> file;
  EXPECT_EQ(cfb::CompoundFile::Open(path, ReadWriteExclusive(), file), S_OK);
  cfb::SetFaultPlan({cfb::FaultPlan::Action::kFail, UINT64_MAX, 0});
  EXPECT_EQ(update(*file), S_OK);
  const uint64_t count = cfb::FaultPlanOperations();
  cfb::SetFaultPlan({});
  return count;
}

void RunScenario(const Scenario& scenario) {
  TempDir dir;
  const std::string base = CopyFixture(scenario.fixture, dir);
  if (scenario.prepare) {
    std::shared_ptr<cfb::CompoundFile> file;
    ASSERT_EQ(cfb::CompoundFile::Open(base, ReadWriteExclusive(), file), S_OK);
    ASSERT_EQ(scenario.prepare(*file), S_OK);
  }
  // Listings before and after a clean update.
  std::vector<std::string> before, after;
  const std::string reference = dir.File("reference");
  WriteAll(reference, ReadAll(base));
  ASSERT_EQ(EngineListing(reference, before), S_OK);
  {
    std::shared_ptr<cfb::CompoundFile> file;
    ASSERT_EQ(cfb::CompoundFile::Open(reference, ReadWriteExclusive(), file), S_OK);
    ASSERT_EQ(scenario.update(*file), S_OK);
  }
  ASSERT_EQ(EngineListing(reference, after), S_OK);
  ASSERT_NE(before, after);
  const uint64_t operations = CountOperations(base, scenario.update);
  ASSERT_GT(operations, 3u);

  std::vector<std::string> stopped;
  for (uint64_t k = 1; k <= operations; ++k) {
    for (const auto action : {cfb::FaultPlan::Action::kFail, cfb::FaultPlan::Action::kExit}) {
      const std::string path = dir.File("k" + std::to_string(k) + (action == cfb::FaultPlan::Action::kExit ? "x" : "f"));
      WriteAll(path, ReadAll(base));
      if (action == cfb::FaultPlan::Action::kFail) {
        std::shared_ptr<cfb::CompoundFile> file;
        ASSERT_EQ(cfb::CompoundFile::Open(path, ReadWriteExclusive(), file), S_OK);
        cfb::SetFaultPlan({action, k, 0});
        const HRESULT hr = scenario.update(*file);
        cfb::SetFaultPlan({});
        EXPECT_EQ(hr, STG_E_WRITEFAULT) << "k=" << k;
      } else {
        const pid_t pid = fork();
        if (pid == 0) {
          std::shared_ptr<cfb::CompoundFile> file;
          if (cfb::CompoundFile::Open(path, ReadWriteExclusive(), file) != S_OK) _exit(1);
          cfb::SetFaultPlan({action, k, 77});
          scenario.update(*file);
          _exit(2);  // the plan should have ended us first
        }
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 77) << "k=" << k;
      }
      std::vector<std::string> now;
      ASSERT_EQ(EngineListing(path, now), S_OK) << scenario.fixture << " k=" << k;
      EXPECT_TRUE(now == before || now == after) << scenario.fixture << " k=" << k;
      stopped.push_back(path);
    }
  }
  const auto oracle = OlefileListings(stopped);
  ASSERT_EQ(oracle.size(), stopped.size());
  for (size_t i = 0; i < stopped.size(); ++i)
    EXPECT_TRUE(oracle[i] == before || oracle[i] == after) << stopped[i] << ": " << (oracle[i].empty() ? "" : oracle[i][0]);
}

TEST(CfbCrash, ReplacingAPropertyStream) {
  RunScenario({"Office365BlankSample_v2507.doc", [](cfb::CompoundFile& f) {
                 return f.WriteStream(u"\005SummaryInformation", Pattern(900, 1));
               }});
}

TEST(CfbCrash, AddingAStreamRebuildsTheTree) {
  RunScenario({"LibreOfficeBlankSample_v25.8.doc", [](cfb::CompoundFile& f) {
                 return f.WriteStream(u"\005UserDefined", Pattern(400, 2));
               }});
}

TEST(CfbCrash, GrowingAcrossTheCutoff) {
  RunScenario({"2custom.doc", [](cfb::CompoundFile& f) {
                 return f.WriteStream(u"\005DocumentSummaryInformation", Pattern(6000, 3));
               }});
}

TEST(CfbCrash, GrowingTheMiniStreamMiniFatAndDirectory) {
  // Two streams fill the first mini FAT sector almost (120 of 128 mini
  // sectors) and the first directory sector; the update needs more of each.
  RunScenario({"TestStream_v3_0.cfs",
               [](cfb::CompoundFile& f) { return f.WriteStream(u"S2", Pattern(1000, 4)); },
               [](cfb::CompoundFile& f) {
                 HRESULT hr = f.WriteStream(u"S0", Pattern(3800, 5));
                 return SUCCEEDED(hr) ? f.WriteStream(u"S1", Pattern(3800, 6)) : hr;
               }});
}

TEST(CfbCrash, DeletingAStream) {
  RunScenario({"report.xls", [](cfb::CompoundFile& f) { return f.DeleteStream(u"\001CompObj"); }});
}

}  // namespace
