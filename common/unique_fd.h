// The one owner of a POSIX file descriptor (file, directory, lock file): closes it exactly
// once. A negative descriptor, as a failed open returns, counts as empty.
#pragma once

#include <unistd.h>

#include "common/unique_resource.h"

struct FileDescriptorTraits {
    using Value = int;
    static constexpr int kNone = -1;
    static bool held(int fd) { return fd >= 0; }
    static bool close(int fd) { return ::close(fd) == 0; }
};

using UniqueFd = UniqueResource<FileDescriptorTraits>;
