// Folder change notification: a burst of 10,000 files made in 100 new
// folders of a watched tree, read with a 64 KiB buffer by one reader that
// keeps calling (every change must be reported: none lost, none twice, no
// "rescan" answer); then the median delay from a change to the return of
// the call that reports it; last, 5,000 renames one after another, alone and
// again beside a busy folder, each of which must come as one
// old-name/new-name pair, never as REMOVED and ADDED.
// A harness rather than a Google Benchmark: the burst is one measured event.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "Win32Api.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kFolders = 100;
constexpr int kFilesPerFolder = 100;
constexpr int kDelaySamples = 200;
constexpr int kRenames = 5000;
constexpr DWORD kBufferBytes = 64 * 1024;

struct Reader {
  HANDLE folder;
  std::set<std::string> added;
  size_t records = 0, duplicates = 0, rescans = 0;
  std::atomic<size_t> addedCount{0};
  // Of the renames: reported as a pair, or split into REMOVED and ADDED.
  std::atomic<size_t> renamePairs{0}, renameSplits{0};
  std::atomic<bool> stop{false};
  std::atomic<int64_t> lastReturn{0};

  void Run() {
    std::vector<uint8_t> buffer(kBufferBytes);
    while (!stop.load()) {
      DWORD got = 0;
      if (!ReadDirectoryChangesW(folder, buffer.data(), kBufferBytes, TRUE,
                                 FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME, &got, nullptr, nullptr))
        return;  // closed
      lastReturn.store(Clock::now().time_since_epoch().count());
      if (got == 0) ++rescans;
      for (DWORD at = 0; got > 0;) {
        const auto* record = reinterpret_cast<const FILE_NOTIFY_INFORMATION*>(buffer.data() + at);
        std::string name;
        for (DWORD i = 0; i < record->FileNameLength / 2; ++i) name.push_back(static_cast<char>(record->FileName[i]));
        ++records;
        const bool neighbour = name.compare(0, 5, "busy/") == 0;  // made again and again
        if (record->Action == FILE_ACTION_ADDED && !neighbour && !added.insert(name).second) ++duplicates;
        if (record->Action == FILE_ACTION_RENAMED_NEW_NAME) ++renamePairs;
        if (record->Action == FILE_ACTION_REMOVED && name.compare(0, 3, "mv/") == 0) ++renameSplits;
        if (record->NextEntryOffset == 0) break;
        at += record->NextEntryOffset;
      }
      addedCount.store(added.size());
    }
  }
};

void Touch(const std::string& path) { std::ofstream(path).put('x'); }

bool WaitFor(const std::function<bool()>& done, int seconds) {
  const auto until = Clock::now() + std::chrono::seconds(seconds);
  while (!done()) {
    if (Clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  return true;
}

}  // namespace

int main() {
  char pattern[] = "/tmp/qv-dirwatch-bench-XXXXXX";
  const std::string root = mkdtemp(pattern);
  const std::wstring wideRoot(root.begin(), root.end());
  HANDLE folder = CreateFileW(wideRoot.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (folder == INVALID_HANDLE_VALUE) return 1;
  Reader reader{folder};
  std::thread thread([&] { reader.Run(); });
  // The first call starts the watch: go on once it has reported something.
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  Touch(root + "/start");
  if (!WaitFor([&] { return reader.addedCount.load() >= 1; }, 10)) return 1;

  const size_t expected = 1 + kFolders + kFolders * kFilesPerFolder;
  const auto begin = Clock::now();
  char name[64];
  for (int f = 0; f < kFolders; ++f) {
    std::snprintf(name, sizeof(name), "/d%02d", f);
    const std::string sub = root + name;
    mkdir(sub.c_str(), 0755);
    for (int i = 0; i < kFilesPerFolder; ++i) {
      std::snprintf(name, sizeof(name), "/f%03d", i);
      Touch(sub + name);
    }
  }
  const auto written = Clock::now();
  const bool complete = WaitFor([&] { return reader.addedCount.load() >= expected; }, 60);
  const auto reported = Clock::now();
  auto ms = [](Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); };
  std::printf("burst: %d folders, %d files; written in %.1f ms, all reported after %.1f ms\n", kFolders,
              kFolders * kFilesPerFolder, ms(written - begin), ms(reported - begin));
  std::printf("burst: %zu of %zu names reported (%zu lost), %zu duplicates, %zu rescan answers, %zu records\n",
              reader.addedCount.load(), expected, expected - std::min(expected, reader.addedCount.load()),
              reader.duplicates, reader.rescans, reader.records);

  // Delay: one change at a time, from just before the change to the call's return.
  std::vector<double> delays;
  for (int i = 0; i < kDelaySamples; ++i) {
    const size_t before = reader.addedCount.load();
    std::this_thread::sleep_for(std::chrono::milliseconds(2));  // the reader is blocked in its call again
    const int64_t start = Clock::now().time_since_epoch().count();
    std::snprintf(name, sizeof(name), "/late%03d", i);
    Touch(root + name);
    if (!WaitFor([&] { return reader.addedCount.load() > before; }, 10)) break;
    delays.push_back(static_cast<double>(reader.lastReturn.load() - start) / 1e3);
  }
  std::sort(delays.begin(), delays.end());
  if (!delays.empty())
    std::printf("delay: median %.1f us, 90th percentile %.1f us, 99th %.1f us over %zu changes\n",
                delays[delays.size() / 2], delays[delays.size() * 9 / 10], delays[delays.size() * 99 / 100],
                delays.size());

  // Renames: mv/0 to mv/1, mv/1 to mv/2, ..., each once the reader, blocked
  // again, has reported the one before: it wakes on the first half. Then as
  // many again while another thread makes and deletes a file next door, whose
  // changes may be queued between a rename's halves.
  const std::string moves = root + "/mv", busy = root + "/busy";
  const size_t beforeMoves = reader.addedCount.load();
  mkdir(moves.c_str(), 0755);
  mkdir(busy.c_str(), 0755);
  Touch(moves + "/0");
  WaitFor([&] { return reader.addedCount.load() >= beforeMoves + 3; }, 10);  // mv/0 is watched
  auto renamesSeen = [&] { return reader.renamePairs.load() + reader.renameSplits.load(); };
  bool renamesReported = true;
  for (int round = 0; round < 2; ++round) {
    std::atomic<bool> stopNeighbour{false};
    std::thread neighbour([&] {
      while (round == 1 && !stopNeighbour.load()) {
        Touch(busy + "/x");
        unlink((busy + "/x").c_str());
      }
    });
    const size_t pairsBefore = reader.renamePairs.load(), splitsBefore = reader.renameSplits.load();
    const auto renamesBegin = Clock::now();
    for (int i = round * kRenames; i < (round + 1) * kRenames && renamesReported; ++i) {
      std::rename((moves + "/" + std::to_string(i)).c_str(), (moves + "/" + std::to_string(i + 1)).c_str());
      renamesReported = WaitFor([&] { return renamesSeen() > static_cast<size_t>(i); }, 10);
    }
    stopNeighbour.store(true);
    neighbour.join();
    std::printf("renames%s: %d in %.1f ms; %zu reported as pairs, %zu split into REMOVED and ADDED\n",
                round == 1 ? " beside a busy folder" : "", kRenames, ms(Clock::now() - renamesBegin),
                reader.renamePairs.load() - pairsBefore, reader.renameSplits.load() - splitsBefore);
  }

  reader.stop.store(true);
  CloseHandle(folder);  // ends the blocked call
  thread.join();
  std::system(("rm -rf '" + root + "'").c_str());
  return complete && renamesReported && reader.renameSplits.load() == 0 && reader.duplicates == 0 &&
                 reader.rescans == 0
             ? 0
             : 2;
}
