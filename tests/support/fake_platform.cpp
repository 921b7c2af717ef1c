#include "fake_platform.h"

#include <cstdio>
#include <new>
#include <stdexcept>

#include "platform/platform_common.h"

namespace fake {
namespace {

// The fake End unwinds back to Run instead of ending the test process.
struct ProgramEnded {};

std::u16string g_tail;
FileService g_file_service = FileService::Writes;
Recording g_recording;

}  // namespace

std::string Narrow(const std::u16string& text) {
  std::string result;
  for (const char16_t ch : text) result += ch < 128 ? static_cast<char>(ch) : '?';
  return result;
}

Recording Run(const std::u16string& tail, FileService file_service) {
  g_tail = tail;
  g_file_service = file_service;
  g_recording = Recording{};
  try {
    RunMain();
  } catch (const ProgramEnded&) {
  }
  return g_recording;
}

}  // namespace fake

namespace platform {

using fake::g_recording;

std::u16string CommandTail() { return fake::g_tail; }

void ShowMessage(const std::u16string& text, MessageKind kind) {
  g_recording.log.push_back((kind == MessageKind::Error ? "error: " : "information: ") + fake::Narrow(text));
}

double TextToDouble(const std::u16string& text) { return ParseDecimalText(text, u'.'); }

void WriteFileBlock(const std::u16string& path, std::uint64_t offset, const std::uint8_t* bytes,
                    std::size_t count) {
  switch (fake::g_file_service) {
    case fake::FileService::Writes: break;
    case fake::FileService::Refuses: FailFile(path, u"open", u"refused");
    case fake::FileService::RunsOutOfMemory: throw std::bad_alloc();
    case fake::FileService::ThrowsLengthError: throw std::length_error("basic_string::_M_create");
  }
  std::string entry = "write " + fake::Narrow(path) + " at " + std::to_string(offset) + ":";
  for (std::size_t i = 0; i < count; ++i) {
    char hex[4];
    std::snprintf(hex, sizeof hex, " %02X", bytes[i]);
    entry += hex;
  }
  g_recording.log.push_back(entry);
  g_recording.writes.push_back({path, offset, std::vector<std::uint8_t>(bytes, bytes + count)});
}

void ReportFailure(std::u16string_view kind, std::u16string_view cause) noexcept {
  g_recording.log.push_back("failure " + fake::Narrow(std::u16string(kind)) + ": " +
                            fake::Narrow(std::u16string(cause)));
}

void End(ExitStatus status) {
  g_recording.log.push_back("end " + std::to_string(static_cast<int>(status)));
  g_recording.status = status;
  throw fake::ProgramEnded{};
}

}  // namespace platform
