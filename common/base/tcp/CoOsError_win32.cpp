#include "tcp/CoOsError.h"

#include <winsock2.h>
#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace Vantrel {
namespace {

// Winsock's codes and the errno values that the transport's logic speaks.
struct CodePair {
    int wsa;
    int posix;
};

constexpr CodePair CODES[] = {
    {WSAEINTR, EINTR},
    {WSAEBADF, EBADF},
    {WSAEACCES, EACCES},
    {WSAEFAULT, EFAULT},
    {WSAEINVAL, EINVAL},
    {WSAEMFILE, EMFILE},
    {WSAEWOULDBLOCK, EWOULDBLOCK},
    {WSAEINPROGRESS, EINPROGRESS},
    {WSAEALREADY, EALREADY},
    {WSAENOTSOCK, ENOTSOCK},
    {WSAEDESTADDRREQ, EDESTADDRREQ},
    {WSAEMSGSIZE, EMSGSIZE},
    {WSAEPROTOTYPE, EPROTOTYPE},
    {WSAENOPROTOOPT, ENOPROTOOPT},
    {WSAEPROTONOSUPPORT, EPROTONOSUPPORT},
    {WSAEOPNOTSUPP, EOPNOTSUPP},
    {WSAEAFNOSUPPORT, EAFNOSUPPORT},
    {WSAEADDRINUSE, EADDRINUSE},
    {WSAEADDRNOTAVAIL, EADDRNOTAVAIL},
    {WSAENETDOWN, ENETDOWN},
    {WSAENETUNREACH, ENETUNREACH},
    {WSAENETRESET, ENETRESET},
    {WSAECONNABORTED, ECONNABORTED},
    {WSAECONNRESET, ECONNRESET},
    {WSAENOBUFS, ENOBUFS},
    {WSAEISCONN, EISCONN},
    {WSAENOTCONN, ENOTCONN},
    {WSAETIMEDOUT, ETIMEDOUT},
    {WSAECONNREFUSED, ECONNREFUSED},
    {WSAELOOP, ELOOP},
    {WSAENAMETOOLONG, ENAMETOOLONG},
    {WSAEHOSTUNREACH, EHOSTUNREACH},
};

int toPosix(int wsa) {
    for (const CodePair& pair : CODES)
        if (pair.wsa == wsa) return pair.posix;
    return wsa;
}

int toWsa(int posix) {
    for (const CodePair& pair : CODES)
        if (pair.posix == posix) return pair.wsa;
    return 0;
}

// The system's own text of a Winsock or system error code, without its line break.
std::string messageText(DWORD code) {
    char buffer[CO_OS_ERROR_TEXT_MAX + 1] = {};
    const DWORD length =
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                       MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), buffer, sizeof buffer, nullptr);
    std::string text(buffer, length);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
        text.pop_back();
    return text.empty() ? "Unknown error " + std::to_string(code) : text;
}

// Socket errors read as Winsock words them; other errno values as the C run-time does.
std::string systemErrorText(int code) {
    if (const int wsa = toWsa(code)) return messageText(static_cast<DWORD>(wsa));
    if (code >= WSABASEERR) return messageText(static_cast<DWORD>(code));
    char buffer[CO_OS_ERROR_TEXT_MAX + 1] = {};
    strerror_s(buffer, sizeof buffer, code);
    return buffer;
}

}  // namespace

// The resolver's codes are Winsock codes (EAI_NONAME is WSAHOST_NOT_FOUND, ...).
std::string coOsErrorText(int code, CoErrorSource source) {
    std::string text = source == CoErrorSource::RESOLVER ? messageText(static_cast<DWORD>(code))
                                                         : systemErrorText(code);
    if (text.size() > CO_OS_ERROR_TEXT_MAX) text.resize(CO_OS_ERROR_TEXT_MAX);
    return text;
}

std::string coCurrentOsErrorText() { return coOsErrorText(errno); }

bool coStartSocketLibrary() {
    WSADATA data;
    const int error = WSAStartup(MAKEWORD(2, 2), &data);
    if (error == 0) return true;
    std::fprintf(stderr, "Could not initialize network: %s\n", coOsErrorText(error).c_str());
    return false;
}

int coTakeSocketError() {
    errno = toPosix(WSAGetLastError());
    return errno;
}

}  // namespace Vantrel
