// Taking the standard descriptors that were closed.
#include "cli/standard_streams.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace quorbel {

command_streams take_closed_standard_streams(command_streams streams) noexcept {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) >= 0 || errno != EBADF) continue;
    // The lowest free descriptor is this one, since those below are open.
    const int taken = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    if (taken >= 0 && taken != fd) ::close(taken);
    if (streams.in == fd) streams.in = -1;
    if (streams.out == fd) streams.out = -1;
    if (streams.err == fd) streams.err = -1;
  }
  return streams;
}

}  // namespace quorbel
