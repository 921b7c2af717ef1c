// The whole program driven through the recording fake with arbitrary command
// tails. Whatever is typed, the run ends with exactly one message or one
// failure report, and the file service sees at most one write: the six bytes
// of the last /s size at offset 16 of the last /f path.
#include <cstdint>
#include <string>

#include "fake_platform.h"
#include "reference.h"

namespace {

using reference::Require;
using reference::TailOutcome;

bool StartsWith(const std::string& text, const std::string& prefix) { return text.rfind(prefix, 0) == 0; }

// Properties of every run, whatever the tail.
void CheckShape(const fake::Recording& run) {
  Require(run.status.has_value() && !run.log.empty(), "the program ends through End");
  Require(run.log.back() == "end " + std::to_string(static_cast<int>(*run.status)), "End is the last call");
  int outcomes = 0;
  int ends = 0;
  std::size_t write_at = run.log.size();
  for (std::size_t i = 0; i < run.log.size(); ++i) {
    const std::string& entry = run.log[i];
    if (StartsWith(entry, "error: ") || StartsWith(entry, "failure ")) ++outcomes;
    if (StartsWith(entry, "end ")) ++ends;
    if (StartsWith(entry, "write ")) {
      Require(write_at == run.log.size(), "the file is written at most once");
      write_at = i;
    }
    if (StartsWith(entry, "information: ")) {
      ++outcomes;
      Require(write_at < i, "\"Edited successfully.\" only after a write");
    }
  }
  Require(outcomes == 1, "exactly one message or one failure report");
  Require(ends == 1, "End is called once");
  Require(run.writes.size() == (write_at < run.log.size() ? 1u : 0u), "every write is logged");
  if (run.writes.empty()) return;
  const fake::FileWrite& write = run.writes[0];
  Require(!write.path.empty(), "a write names a path");
  Require(write.offset == 16 && write.bytes.size() == 6, "a write is six bytes at offset 16");
  Require(write.bytes[0] == 0 && write.bytes[1] == 0, "the field starts with two zero bytes");
  Require(write.bytes[2] != 0 || write.bytes[3] != 0 || write.bytes[4] != 0 || write.bytes[5] != 0,
          "a written size is at least 1");
}

std::uint32_t LittleEndian(const std::vector<std::uint8_t>& field) {
  return static_cast<std::uint32_t>(field[2]) | static_cast<std::uint32_t>(field[3]) << 8 |
         static_cast<std::uint32_t>(field[4]) << 16 | static_cast<std::uint32_t>(field[5]) << 24;
}

void CheckFailure(const fake::Recording& run, FailureKind kind) {
  Require(run.writes.empty(), "a failure writes nothing");
  Require(run.log.size() == 2 && StartsWith(run.log[0], "failure " + fake::ToAscii(std::u16string(KindText(kind))) + ":"),
          "the failure of the expected kind is reported");
  Require(static_cast<int>(*run.status) == reference::FailureStatus(kind), "the failure's exit status");
}

// The outcome the rules give for this tail.
void CheckOutcome(const std::u16string& tail, const fake::Recording& run) {
  const TailOutcome expected = reference::PredictTail(tail);
  switch (expected.what) {
    case TailOutcome::ParametersNotSet:
      Require(run.log == std::vector<std::string>{"error: Error - Parameters not set", "end 1"},
              "missing parameters are reported");
      return;
    case TailOutcome::TooLarge:
      Require(run.log == std::vector<std::string>{"error: Error - File can't exceed 4GB", "end 2"},
              "4 GiB and more is refused");
      return;
    case TailOutcome::Failed:
      CheckFailure(run, expected.failure);
      return;
    case TailOutcome::Edited:
      Require(run.writes.size() == 1 && run.writes[0].path == expected.path, "the last /f path is written");
      Require(LittleEndian(run.writes[0].bytes) == expected.size, "the field holds the last /s size");
      Require(run.log.size() == 3 &&
                  run.log[1] == "information: " + fake::ToAscii(expected.path) + "\r\nEdited successfully." &&
                  run.log[2] == "end 0",
              "the edit is confirmed under the path");
      // The same run with a file that cannot be opened ends in a file failure and no confirmation.
      CheckFailure(fake::Run(tail, fake::FileService::Refuses), FailureKind::File);
      return;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::u16string tail = reference::Text(data, size);
  const fake::Recording run = fake::Run(tail);
  CheckShape(run);
  CheckOutcome(tail, run);
  return 0;
}
