#include "fake_platform.h"

#include <cstdio>
#include <new>
#include <stdexcept>

#include "decimal_text.h"
#include "file_failure.h"
#include "run_main.h"

namespace fake {
namespace {

// The fake End unwinds back to Run instead of ending the test process.
struct ProgramEnded {};

thread_local std::u16string t_tail;
thread_local FileService t_file_service = FileService::Writes;
thread_local Detail t_detail = Detail::Log;
thread_local Recording t_recording;

void Log(std::string entry) {
  if (t_detail == Detail::Log) t_recording.log.push_back(std::move(entry));
}

std::string HexBytes(const std::uint8_t* bytes, std::size_t count) {
  std::string text;
  for (std::size_t i = 0; i < count; ++i) {
    char hex[4];
    std::snprintf(hex, sizeof hex, " %02X", bytes[i]);
    text += hex;
  }
  return text;
}

}  // namespace

std::string ToAscii(const std::u16string& text) {
  std::string result;
  for (const char16_t ch : text) result += ch < 128 ? static_cast<char>(ch) : '?';
  return result;
}

void StartRecording(Detail detail) {
  t_detail = detail;
  t_recording.log.clear();
  t_recording.writes.clear();
  t_recording.messages = 0;
  t_recording.status.reset();
}

const Recording& Recorded() { return t_recording; }

Recording Run(const std::u16string& tail, FileService file_service) {
  t_tail = tail;
  t_file_service = file_service;
  StartRecording(Detail::Log);
  try {
    RunMain();
  } catch (const ProgramEnded&) {
  }
  return t_recording;
}

}  // namespace fake

namespace platform {

std::u16string CommandTail() { return fake::t_tail; }

void ShowMessage(const std::u16string& text, MessageKind kind) {
  ++fake::t_recording.messages;
  fake::Log((kind == MessageKind::Error ? "error: " : "information: ") + fake::ToAscii(text));
}

double TextToDouble(const std::u16string& text) { return ParseDecimalText(text, u'.'); }

void WriteFileBlock(const std::u16string& path, std::uint64_t offset, const std::uint8_t* bytes,
                    std::size_t count) {
  switch (fake::t_file_service) {
    case fake::FileService::Writes: break;
    case fake::FileService::Refuses: FailFile(path, u"open", u"refused");
    case fake::FileService::RunsOutOfMemory: throw std::bad_alloc();
    case fake::FileService::ThrowsLengthError: throw std::length_error("basic_string::_M_create");
  }
  if (fake::t_detail == fake::Detail::Log) {
    fake::Log("write " + fake::ToAscii(path) + " at " + std::to_string(offset) + ":" + fake::HexBytes(bytes, count));
  }
  fake::t_recording.writes.push_back({path, offset, std::vector<std::uint8_t>(bytes, bytes + count)});
}

void ReportFailure(std::u16string_view kind, std::u16string_view cause) noexcept {
  fake::Log("failure " + fake::ToAscii(std::u16string(kind)) + ": " + fake::ToAscii(std::u16string(cause)));
}

void End(ExitStatus status) {
  fake::Log("end " + std::to_string(static_cast<int>(status)));
  fake::t_recording.status = status;
  throw fake::ProgramEnded{};
}

}  // namespace platform
