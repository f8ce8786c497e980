// Compound-file engine: open a document and read its small property stream,
// and replace that stream, on a 50 KB document and on a 200 MB one (the same
// document with a big stream added by our writer). Reads are measured from
// disk (as for a file written moments ago) and from what is kept of a file
// left unchanged. Reports time per operation and the bytes read and written
// per operation.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "posix/storage/cfb/CompoundFile.h"

namespace {

namespace cfb = quorvane::posix::cfb;

const std::u16string kSet = u"\005DocumentSummaryInformation";

struct Documents {
  std::string folder, small, large;
  Documents() {
    char pattern[] = "/tmp/qv-cfb-bench-XXXXXX";
    folder = mkdtemp(pattern);
    small = Make("small.doc", 20u << 10);
    large = Make("large.doc", 200u << 20);
  }
  ~Documents() { std::system(("rm -rf '" + folder + "'").c_str()); }

  // The Office sample with a filler stream that brings it to the wanted size.
  std::string Make(const std::string& name, size_t filler) {
    const char* source = getenv("QV_SOURCE_DIR");
    const std::string fixture =
        std::string(source ? source : ".") + "/tests/fixtures/compound/Office365BlankSample_v2507.doc";
    const std::string path = folder + "/" + name;
    std::ifstream in(fixture, std::ios::binary);
    std::ofstream(path, std::ios::binary) << in.rdbuf();
    cfb::ShareMode mode;
    mode.write = mode.denyRead = mode.denyWrite = true;
    std::shared_ptr<cfb::CompoundFile> file;
    if (FAILED(cfb::CompoundFile::Open(path, mode, file))) abort();
    std::vector<uint8_t> bytes(filler);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 31);
    if (FAILED(file->WriteStream(u"Filler", bytes)) || FAILED(file->Commit())) abort();
    return path;
  }
};

Documents& Docs() {
  static Documents documents;
  return documents;
}

const std::string& PathFor(int which) { return which == 0 ? Docs().small : Docs().large; }

void BM_OpenAndReadSet(benchmark::State& state) {
  const std::string& path = PathFor(static_cast<int>(state.range(0)));
  // Whether the file counts as settled, whatever its age.
  cfb::SetStampSettleSeconds(state.range(1) ? -1000000 : 1000000);
  cfb::ShareMode mode;  // shared reading, as the library opens documents to read
  mode.swmr = true;
  uint64_t bytesRead = 0;
  for (auto _ : state) {
    std::shared_ptr<cfb::CompoundFile> file;
    if (FAILED(cfb::CompoundFile::Open(path, mode, file))) state.SkipWithError("open");
    std::vector<uint8_t> data;
    if (FAILED(file->ReadStream(kSet, data))) state.SkipWithError("read");
    benchmark::DoNotOptimize(data.data());
    bytesRead += file->BytesRead();
  }
  state.counters["bytes_read_per_op"] = static_cast<double>(bytesRead) / state.iterations();
  cfb::SetStampSettleSeconds(3);
}

void BM_ReplaceSet(benchmark::State& state) {
  const std::string& path = PathFor(static_cast<int>(state.range(0)));
  cfb::ShareMode mode;  // the library's writing mode
  mode.write = mode.denyWrite = mode.swmr = true;
  uint64_t bytesWritten = 0;
  std::vector<uint8_t> set(600);
  for (auto _ : state) {
    std::shared_ptr<cfb::CompoundFile> file;
    if (FAILED(cfb::CompoundFile::Open(path, mode, file)) || FAILED(file->WaitForWriteAccess(5000)))
      state.SkipWithError("open");
    set[state.iterations() % set.size()] ^= 1;
    if (FAILED(file->WriteStream(kSet, set)) || FAILED(file->Commit())) state.SkipWithError("write");
    bytesWritten += file->BytesWritten();
  }
  state.counters["bytes_written_per_update"] = static_cast<double>(bytesWritten) / state.iterations();
}

}  // namespace

BENCHMARK(BM_OpenAndReadSet)
    ->ArgsProduct({{0, 1}, {0, 1}})
    ->ArgNames({"large", "kept"})
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ReplaceSet)->Arg(0)->Arg(1)->ArgName("large")->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
