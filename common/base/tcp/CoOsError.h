// The one conversion of operating-system error codes into the library's error texts.
//
// Every text the transport reports for a failed system call (a socket call, a wait, a name
// lookup) comes from here, so that the same condition always reads the same way.
#pragma once

#include <cstddef>
#include <string>

namespace Vantrel {

// Where an error code comes from: the system's error number (errno) or the name resolver's
// result code (the EAI_* family).
enum class CoErrorSource { SYSTEM, RESOLVER };

// The longest text an error conversion gives; longer system texts are cut.
constexpr std::size_t CO_OS_ERROR_TEXT_MAX = 255;

// The text of `code` from `source`. A resolver code that means "a system error" gives the text
// of the errno value current at the call. Never fails; thread-safe.
std::string coOsErrorText(int code, CoErrorSource source = CoErrorSource::SYSTEM);

// The text of the calling thread's current errno value.
std::string coCurrentOsErrorText();

// After a failed socket call: the calling thread's socket error as an errno value, also stored
// in errno, so that the transport handles errors alike on every platform. On Linux that is
// errno as it is; on Windows, Winsock's last error translated to its errno counterpart.
int coTakeSocketError();

// Starts the system's socket library for the process (Winsock 2.2 on Windows; nothing on Linux).
// False, with an error posted, when it cannot be started. Call through CoIoTcpDescriptor::init.
bool coStartSocketLibrary();

}  // namespace Vantrel
