// The reader where the C++ library has std::from_chars for double.
#include <charconv>

#include "decimal_reader.h"

namespace platform {

DecimalReading ReadDecimalAscii(const std::string& ascii) {
  double value = 0;
  const char* const end = ascii.data() + ascii.size();
  const auto result = std::from_chars(ascii.data(), end, value);
  if (result.ec == std::errc::result_out_of_range) return {DecimalReading::Outcome::OutOfRange, 0};
  if (result.ec != std::errc() || result.ptr != end) {  // GCOVR_EXCL_BR_LINE: no build hands it a text it cannot read whole
    return {DecimalReading::Outcome::Unread, 0};
  }
  return {DecimalReading::Outcome::Read, value};
}

}  // namespace platform
