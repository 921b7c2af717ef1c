// A recording stand-in for the platform services, so that the logic can be
// driven in process and every service call checked in order. The unit tests,
// the fuzzers and the exhaustive check link it in place of a real platform.
// Each thread records on its own.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace fake {

struct FileWrite {
  std::u16string path;
  std::uint64_t offset;
  std::vector<std::uint8_t> bytes;
};

struct Recording {
  // Each service call in order, as text: "error: ...", "information: ...",
  // "write <path> at <offset>: <hex bytes>", "failure <kind>: <cause>", "end <status>".
  std::vector<std::string> log;
  std::vector<FileWrite> writes;
  int messages = 0;
  std::optional<ExitStatus> status;
};

// What the fake file service does: write, refuse with a file failure, or
// throw what the standard library throws on exhausted memory or a broken limit.
enum class FileService { Writes, Refuses, RunsOutOfMemory, ThrowsLengthError };

// What a recording keeps: every call as text, or only the writes and the
// number of messages, for a caller that runs the logic billions of times.
enum class Detail { Log, WritesOnly };

// Runs the program's entry with tail as its command tail.
Recording Run(const std::u16string& tail, FileService file_service = FileService::Writes);

// Starts a new recording on this thread, for a caller that drives the logic itself.
void StartRecording(Detail detail);
const Recording& Recorded();

// Non-ASCII characters become "?".
std::string ToAscii(const std::u16string& text);

}  // namespace fake
