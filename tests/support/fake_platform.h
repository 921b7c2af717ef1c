// A recording stand-in for the platform services, so that the logic can be
// driven in process and every service call checked in order. The unit tests
// and the fuzzers link it in place of a real platform.
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
  std::optional<ExitStatus> status;
};

// What the fake file service does: write, refuse with a file failure, or
// throw what the standard library throws on exhausted memory or a broken limit.
enum class FileService { Writes, Refuses, RunsOutOfMemory, ThrowsLengthError };

// Runs the program's entry with tail as its command tail.
Recording Run(const std::u16string& tail, FileService file_service = FileService::Writes);

std::string Narrow(const std::u16string& text);

}  // namespace fake
