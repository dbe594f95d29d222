#include "ipc/CoIpcFailure.h"

#include <cstdarg>

#include "osal/CoAssert.h"

namespace Vantrel {

void coIpcSystemCallFailed(const char* file, int line, CoMsg::PostFunction post,
                           const char* format, ...) {
    va_list args;
    va_start(args, format);
    post(file, line, "-", format, args);
    va_end(args);
    coAssertFailed("0", file, line);
}

}  // namespace Vantrel
