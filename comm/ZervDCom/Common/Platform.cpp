#include "Common/Platform.h"

#include <sys/syscall.h>
#include <unistd.h>

void keepSystemAwake() noexcept {}

int currentThreadId() noexcept { return static_cast<int>(::syscall(SYS_gettid)); }
