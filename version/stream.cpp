// Writing a record to a C++ stream, in the text version_render makes.
#include <ostream>
#include <string>

#include <quorbel/version.h>

namespace quorbel {

std::ostream& operator<<(std::ostream& out, const version_record& record) {
  std::string text;
  if (version_render(record, &text) != 0) {
    out.setstate(std::ios_base::badbit);  // memory ran out; nothing written
    return out;
  }
  return out << text;
}

}  // namespace quorbel
