// Standard streams the process was started without. A closed descriptor 0,
// 1 or 2 would be the next one opened: the wake-up pipe of the reader on 0
// would make quorbel wait on itself, a temporary file on 1 would take the
// output. So each closed one is taken by /dev/null, and the command is told
// which were closed, to report them as the errors they are.
#pragma once

#include "cli/command.h"

namespace quorbel {

// Takes the closed ones of descriptors 0, 1 and 2, and gives the streams
// with each that was closed replaced by -1, where reading and writing fail
// with EBADF.
[[nodiscard]] command_streams take_closed_standard_streams(command_streams streams) noexcept;

}  // namespace quorbel
