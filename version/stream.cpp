// Writing a record to a C++ stream, in the text version_render makes.
#include <ostream>
#include <string>

#include <quorbel/version.h>

namespace quorbel {

namespace {

template <typename Version>
std::ostream& write(std::ostream& out, const Version& version) {
  std::string text;
  if (version_render(version, &text) != 0) {
    out.setstate(std::ios_base::badbit);  // memory ran out; nothing written
    return out;
  }
  return out << text;
}

}  // namespace

std::ostream& operator<<(std::ostream& out, const version_record& record) {
  return write(out, record);
}

std::ostream& operator<<(std::ostream& out, const version_view& view) { return write(out, view); }

}  // namespace quorbel
