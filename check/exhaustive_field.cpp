// Checks the size field for every size of a range by running the program's own
// layout code, modMain::EditFile, and comparing what it writes with the plain
// little-endian bytes computed here without it. The full range takes far too
// long for CI; scripts/exhaustive-check builds and runs it on demand.
//
// The recording fake stands in for the platform: no file is touched and no
// message shown. Each thread records on its own, and keeps no text.

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "fake_platform.h"
#include "modMain.h"

namespace {

constexpr std::uint64_t LargestSize = 0xFFFFFFFFu;
// Room for a write longer than the field, so that such a write is seen whole.
constexpr std::size_t RecordedBytes = 16;

// What one EditFile call did, as the check compares it.
struct Record {
  int writes = 0;
  int messages = 0;
  std::uint64_t offset = 0;
  std::size_t count = 0;
  std::array<std::uint8_t, RecordedBytes> bytes{};
};

Record FromRecording(const fake::Recording& recording) {
  Record record;
  record.writes = static_cast<int>(recording.writes.size());
  record.messages = recording.messages;
  if (!recording.writes.empty()) {
    const fake::FileWrite& write = recording.writes[0];
    record.offset = write.offset;
    record.count = write.bytes.size();
    std::copy_n(write.bytes.begin(), std::min(write.bytes.size(), record.bytes.size()), record.bytes.begin());
  }
  return record;
}

// The field as the README describes it, built from shifts alone.
std::array<std::uint8_t, 6> ExpectedField(std::uint32_t size) {
  return {0, 0, static_cast<std::uint8_t>(size & 0xFF), static_cast<std::uint8_t>((size >> 8) & 0xFF),
          static_cast<std::uint8_t>((size >> 16) & 0xFF), static_cast<std::uint8_t>((size >> 24) & 0xFF)};
}

bool FieldIsRight(std::uint32_t size, ExitStatus status, const Record& record) {
  const auto expected = ExpectedField(size);
  return status == ExitStatus::Edited && record.writes == 1 && record.messages == 1 &&
         record.offset == 16 && record.count == expected.size() &&
         std::equal(expected.begin(), expected.end(), record.bytes.begin());
}

// Runs EditFile for one size; a Failure counts as a wrong field.
bool CheckSize(std::uint32_t size) {
  fake::StartRecording(fake::Detail::WritesOnly);
  ExitStatus status = ExitStatus::UnexpectedFailure;
  try {
    status = modMain::EditFile(u"f", static_cast<double>(size));
  } catch (const Failure&) {
  }
  return FieldIsRight(size, status, FromRecording(fake::Recorded()));
}

// Shows that the comparison can fail: a record of the README's example with
// its literal bytes passes, and each kind of damage to that record is caught.
bool SelfTestPasses() {
  constexpr std::uint32_t Example = 305419896;  // 0x12345678
  const std::array<std::uint8_t, 6> literal{0x00, 0x00, 0x78, 0x56, 0x34, 0x12};
  Record good;
  good.writes = 1;
  good.messages = 1;
  good.offset = 16;
  good.count = literal.size();
  std::copy(literal.begin(), literal.end(), good.bytes.begin());
  if (!FieldIsRight(Example, ExitStatus::Edited, good)) return false;
  std::vector<Record> damaged(literal.size() + 6, good);
  for (std::size_t i = 0; i < literal.size(); ++i) damaged[i].bytes[i] ^= 0x01;
  damaged[6].offset = 17;
  damaged[7].count = 5;
  damaged[8].count = 7;
  damaged[9].writes = 2;
  damaged[10].writes = 0;
  damaged[11].messages = 0;
  for (const Record& record : damaged) {
    if (FieldIsRight(Example, ExitStatus::Edited, record)) return false;
  }
  return !FieldIsRight(Example, ExitStatus::TooLarge, good);
}

// Sizes are handed out in chunks, in increasing order, so that both threads
// stay busy to the end and each one meets its own differences smallest first.
constexpr std::uint64_t ChunkSize = std::uint64_t{1} << 20;
constexpr std::size_t DifferencesShown = 10;

struct Run {
  std::uint64_t first = 1;
  std::uint64_t last = LargestSize;
  std::atomic<std::uint64_t> next_chunk{0};
  std::atomic<std::uint64_t> checked{0};
  std::atomic<std::uint64_t> differences{0};
  std::mutex mutex;  // guards first_differences and the progress lines
  std::vector<std::uint64_t> first_differences;
  std::uint64_t chunks = 0;
  std::chrono::steady_clock::time_point start;
};

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void Worker(Run& run) {
  std::vector<std::uint64_t> mine;
  for (;;) {
    const std::uint64_t chunk = run.next_chunk.fetch_add(1);
    if (chunk >= run.chunks) break;
    const std::uint64_t begin = run.first + chunk * ChunkSize;
    const std::uint64_t end = std::min(begin + ChunkSize - 1, run.last);
    std::uint64_t wrong = 0;
    for (std::uint64_t size = begin; size <= end; ++size) {
      if (!CheckSize(static_cast<std::uint32_t>(size))) {
        ++wrong;
        if (mine.size() < DifferencesShown) mine.push_back(size);
      }
    }
    run.differences += wrong;
    const std::uint64_t done = run.checked += end - begin + 1;
    // About ten progress lines per run, whatever its length.
    const std::uint64_t total = run.last - run.first + 1;
    const std::uint64_t step = std::max<std::uint64_t>(total / 10, 1);
    if (done / step != (done - (end - begin + 1)) / step && done != total) {
      const std::lock_guard<std::mutex> lock(run.mutex);
      std::printf("  %5.1f%% checked after %.0f s\n", 100.0 * static_cast<double>(done) / static_cast<double>(total),
                  SecondsSince(run.start));
      std::fflush(stdout);
    }
  }
  const std::lock_guard<std::mutex> lock(run.mutex);
  run.first_differences.insert(run.first_differences.end(), mine.begin(), mine.end());
}

bool ParseNumber(const char* text, std::uint64_t& value) {
  char* end = nullptr;
  errno = 0;
  const unsigned long long parsed = std::strtoull(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || text[0] == '-') return false;
  value = parsed;
  return true;
}

int Usage() {
  std::fprintf(stderr, "usage: scripts/exhaustive-check [--first N] [--last N] [--threads N]\n"
                       "  checks the sizes N with 1 <= first <= N <= last <= 4294967295\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  Run run;
  std::uint64_t threads = 2;
  for (int i = 1; i < argc; ++i) {
    const std::string option = argv[i];
    std::uint64_t* target = option == "--first" ? &run.first
                          : option == "--last" ? &run.last
                          : option == "--threads" ? &threads : nullptr;
    if (target == nullptr || i + 1 >= argc || !ParseNumber(argv[++i], *target)) return Usage();
  }
  if (run.first < 1 || run.last > LargestSize || run.first > run.last || threads < 1 || threads > 256) {
    return Usage();
  }
  if (!SelfTestPasses()) {
    std::fprintf(stderr, "self-test failed: the check cannot tell a right field from a wrong one\n");
    return 3;
  }

  const std::uint64_t total = run.last - run.first + 1;
  run.chunks = (total + ChunkSize - 1) / ChunkSize;
  std::printf("checking sizes %llu..%llu, threads: %llu\n", static_cast<unsigned long long>(run.first),
              static_cast<unsigned long long>(run.last), static_cast<unsigned long long>(threads));
  std::fflush(stdout);
  run.start = std::chrono::steady_clock::now();
  std::vector<std::thread> workers;
  for (std::uint64_t t = 0; t < threads; ++t) workers.emplace_back(Worker, std::ref(run));
  for (std::thread& worker : workers) worker.join();
  const double seconds = SecondsSince(run.start);

  std::sort(run.first_differences.begin(), run.first_differences.end());
  if (run.first_differences.size() > DifferencesShown) run.first_differences.resize(DifferencesShown);
  std::printf("sizes checked: %llu\n", static_cast<unsigned long long>(run.checked.load()));
  std::printf("differences: %llu\n", static_cast<unsigned long long>(run.differences.load()));
  if (!run.first_differences.empty()) {
    std::printf("first differing sizes:");
    for (const std::uint64_t size : run.first_differences) std::printf(" %llu", static_cast<unsigned long long>(size));
    std::printf("\n");
  }
  std::printf("wall time: %.1f s (%.1f min)\n", seconds, seconds / 60);
  // Every size of the range must have been checked, not just none found wrong.
  return run.differences == 0 && run.checked == total ? 0 : 1;
}
