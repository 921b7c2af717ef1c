#include "run_main.h"

#include <exception>
#include <new>

#include "modMain.h"
#include "platform/platform.h"

namespace {

// Reports what is not a Failure under a kind of its own and ends with
// UnexpectedFailure. The text is copied into a fixed buffer: this may run
// with no memory left.
[[noreturn]] void EndUnexpectedly(const char16_t* kind, const char* what) {
  char16_t cause[128] = {};
  std::size_t length = 0;
  // The standard library names its exceptions in fewer characters than the buffer holds.
  for (; what[length] != '\0' && length + 1 < std::size(cause); ++length) {  // GCOVR_EXCL_BR_LINE: see above
    cause[length] = static_cast<unsigned char>(what[length]);
  }
  platform::ReportFailure(kind, std::u16string_view(cause, length));
  platform::End(ExitStatus::UnexpectedFailure);
}

// Throwing takes memory too: when there is none left for the exception
// itself, the C++ runtime terminates instead of throwing. What else comes
// here is an exception that is no std::exception.
[[noreturn]] void EndOnTerminate() {
  // The exhausted-memory test takes it, but in the coverage build libgcov,
  // with no memory left, cannot save that run's counts either.
  if (std::current_exception()) EndUnexpectedly(u"unexpected", "an exception of unknown type");  // GCOVR_EXCL_BR_LINE: see above
  EndUnexpectedly(u"memory", "out of memory");
}

}  // namespace

void RunMain() {
  std::set_terminate(EndOnTerminate);
  try {
    modMain::Main();
  } catch (const Failure& failure) {  // GCOVR_EXCL_BR_LINE: the edge for what is no std::exception; none is thrown
    platform::ReportFailure(KindText(failure.Kind()), failure.Cause());
    platform::End(StatusOf(failure.Kind()));
  } catch (const std::bad_alloc&) {
    EndUnexpectedly(u"memory", "out of memory");
  } catch (const std::exception& error) {
    // No catch-all: it would also swallow what a test's stand-in for End
    // throws to unwind. EndOnTerminate sees anything else.
    EndUnexpectedly(u"unexpected", error.what());
  }
}
