// The reader where the C++ library lacks std::from_chars for double (libc++
// before version 20): the C library's strtod_l, correctly rounded in glibc,
// in a C locale of its own. The user's locale, which may take "," for the
// decimal point, is never consulted, nor changed for the program.
#include <locale.h>
#include <stdlib.h>

#include <cerrno>
#include <cmath>
#include <new>

#include "decimal_reader.h"

namespace platform {

DecimalReading ReadDecimalAscii(const std::string& ascii) {
  const locale_t c_locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
  // Its one failure is ENOMEM.
  if (c_locale == static_cast<locale_t>(0)) throw std::bad_alloc();  // GCOVR_EXCL_BR_LINE: no build runs out of memory here
  char* end = nullptr;
  errno = 0;
  const double value = strtod_l(ascii.c_str(), &end, c_locale);
  const int error = errno;
  freelocale(c_locale);
  if (end != ascii.c_str() + ascii.size()) {  // GCOVR_EXCL_BR_LINE: no build hands it a text it cannot read whole
    return {DecimalReading::Outcome::Unread, 0};
  }
  // strtod_l also sets ERANGE for a result below the normal range that it
  // still gives: only infinity and zero are out of range, as for from_chars.
  if (error == ERANGE && (std::isinf(value) || value == 0)) return {DecimalReading::Outcome::OutOfRange, 0};
  return {DecimalReading::Outcome::Read, value};
}

}  // namespace platform
