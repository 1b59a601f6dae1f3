// Writing a record to a C++ stream, in the text version_render makes.
#include <ostream>
#include <string>

#include <quorbel/version.h>

namespace quorbel {

std::ostream& operator<<(std::ostream& out, const version_view& view) {
  std::string text;
  if (version_render(view, &text) != 0) {
    out.setstate(std::ios_base::badbit);  // memory ran out; nothing written
    return out;
  }
  return out << text;
}

std::ostream& operator<<(std::ostream& out, const version_record& record) {
  return out << version_view_of(record);
}

}  // namespace quorbel
