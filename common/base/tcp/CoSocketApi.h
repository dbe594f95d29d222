// The system's socket interface for the source files that call it: address types, the name
// resolver (getaddrinfo, getnameinfo, inet_pton) and the calls that both platforms spell alike.
// The one file outside the platform files that knows which system headers declare them; on
// Windows it brings in the Windows headers and their macros, so headers never include it.
#pragma once

#if defined(_WIN32)
#include <winsock2.h>
#include <ws2tcpip.h>
// The Windows headers name a wait result WAIT_FAILED; the library's enumerators of that name
// (CoIoDescriptor) are the ones its sources mean.
#undef WAIT_FAILED
#else
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>
#endif
