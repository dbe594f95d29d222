// How the synchronisation primitives report a failed system call.
//
// The primitives have no error return: a mutex, semaphore or event that the operating system
// refuses to create, lock or release leaves the program unable to go on safely. The failure is
// posted as a message that carries the system's error number, and the assertion "0" then stops
// the process.
#pragma once

#include "vantrel/CoMsg.h"
#include "vantrel/VantrelExport.h"

namespace Vantrel {

// Posts `format` with its arguments through `post` (family "-", the caller's file and line)
// and fails the assertion "0". Never returns.
[[noreturn]] void coIpcSystemCallFailed(const char* file, int line, CoMsg::PostFunction post,
                                        const char* format, ...)
    VANTREL_PRINTF(4, 5);

}  // namespace Vantrel

// CO_IPC_SYSTEM_CALL_FAILED(postShell, "Can't lock mutex: %d", rc);
#define CO_IPC_SYSTEM_CALL_FAILED(post, format, error) \
    ::Vantrel::coIpcSystemCallFailed(__FILE__, __LINE__, ::Vantrel::CoMsg::post, format, error)
