// A named pipe server for the tests: it listens on \\.\pipe\NAME for each NAME
// of its command line until the file STOP exists, then writes to REPORT one
// line per name, "NAME client" or "NAME none", telling whether a client ever
// connected.
//
//   pipe_server REPORT STOP NAME...
//
// REPORT is written once every pipe listens ("listening"), and rewritten
// with the verdicts at the end.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <fstream>
#include <string>
#include <vector>

namespace {

struct Listener {
  std::wstring name;
  HANDLE pipe = INVALID_HANDLE_VALUE;
  OVERLAPPED overlapped{};
  bool connected = false;
};

bool Exists(const wchar_t* path) { return GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES; }

void Write(const wchar_t* path, const std::string& text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

std::string ToAscii(const std::wstring& text) { return std::string(text.begin(), text.end()); }

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 4) return 2;
  std::vector<Listener> listeners(static_cast<std::size_t>(argc - 3));
  for (std::size_t i = 0; i < listeners.size(); ++i) {
    Listener& listener = listeners[i];
    listener.name = argv[i + 3];
    listener.pipe = CreateNamedPipeW((L"\\\\.\\pipe\\" + listener.name).c_str(),
                                     PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED, PIPE_TYPE_BYTE | PIPE_WAIT, 1,
                                     4096, 4096, 0, nullptr);
    if (listener.pipe == INVALID_HANDLE_VALUE) return 3;
    listener.overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    // A client that came before this call shows as ERROR_PIPE_CONNECTED.
    if (!ConnectNamedPipe(listener.pipe, &listener.overlapped) && GetLastError() == ERROR_PIPE_CONNECTED) {
      listener.connected = true;
    }
  }
  Write(argv[1], "listening\n");
  while (!Exists(argv[2])) {
    for (Listener& listener : listeners) {
      if (WaitForSingleObject(listener.overlapped.hEvent, 0) == WAIT_OBJECT_0) listener.connected = true;
    }
    Sleep(50);
  }
  std::string report;
  for (const Listener& listener : listeners) {
    report += ToAscii(listener.name) + (listener.connected ? " client\n" : " none\n");
  }
  Write(argv[1], report);
  return 0;
}
