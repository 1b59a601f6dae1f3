// Range operators: whether a version satisfies an operator applied to another.
#include "version/internal.h"

namespace quorbel {

int caret_match(const version_record& x, const version_record& y) noexcept {
  if (x.major != y.major) return 0;
  if (x.major != 0) {
    if (x.minor != y.minor) return x.minor > y.minor ? 1 : 0;
    return x.patch >= y.patch ? 1 : 0;
  }
  // Below 1.0.0 every minor may break, and below 0.1.0 every patch may.
  if (x.minor != 0) return x.minor == y.minor && x.patch >= y.patch ? 1 : 0;
  return y.minor == 0 && x.patch == y.patch ? 1 : 0;
}

int tilde_match(const version_record& x, const version_record& y) noexcept {
  return x.major == y.major && x.minor == y.minor ? 1 : 0;
}

int version_matches(const version_record& x, const version_record& y,
                    std::string_view op) noexcept {
  op = until_zero(op);
  if (op.empty()) return 0;
  const bool or_equal = op.size() > 1 && op[1] == '=';
  switch (op[0]) {
    case '^': return caret_match(x, y);
    case '~': return tilde_match(x, y);
    case '=': return version_eq(x, y);
    case '>': return or_equal ? version_ge(x, y) : version_gt(x, y);
    case '<': return or_equal ? version_le(x, y) : version_lt(x, y);
    default: return 0;  // "!=", "*" and the like are not operators here
  }
}

}  // namespace quorbel
