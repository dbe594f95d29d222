// The socket types that headers name: sockaddr_storage (by reference or pointer) and timeval.
//
// On Windows they are only declared here, so that a header naming them does not bring in the
// Windows headers and their macros; the source files that use them include "tcp/CoSocketApi.h".
// On Linux the system's headers are included, as callers have always had them.
#pragma once

#if defined(_WIN32)
struct sockaddr_storage;
struct timeval;
#else
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#endif
