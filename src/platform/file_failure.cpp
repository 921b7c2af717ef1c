#include "file_failure.h"

#include "failure.h"

namespace platform {

void FailFile(const std::u16string& path, const char16_t* action, const std::u16string& reason) {
  throw Failure(FailureKind::File, u"cannot " + std::u16string(action) + u" \"" + path + u"\": " + reason);
}

}  // namespace platform
