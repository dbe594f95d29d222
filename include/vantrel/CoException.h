// The exception of the base layer.
//
// Thrown where an operation cannot continue (a socket that cannot be created, memory that
// cannot be had). It carries a short message, a detail text (the expert data), the source file
// and the line, in fixed arrays: at most 127 characters of file name and 1599 of text.
//
// Usual form at a throw site:
//     CoException(__LINE__, __FILE__).fire("Out of memory.", "Unable to allocate %lld bytes.", n);
//
// With verbose exceptions on (ZR_VERBOSE_EXCEPTIONS exists in the environment at load, or
// enableVerboseExceptions(true)), what() also shows " f:FILE l:LINE" and the detail.
#pragma once

#include <cstdarg>
#include <exception>

#include "vantrel/VantrelExport.h"

namespace Vantrel {

class VANTREL_API CoException : public std::exception {
public:
    static constexpr int FILE_SIZE = 128;
    static constexpr int TEXT_SIZE = 1600;

    CoException(int line, const char* file);
    CoException(const char* message, int line, const char* file);
    CoException(const CoException&) = default;
    CoException& operator=(const CoException&) = default;
    ~CoException() override;

    // Rebuilds the text from `message` and the optional `detailFormat` with its arguments,
    // then throws a copy of this object. Never returns.
    [[noreturn]] void fire(const char* message, const char* detailFormat, ...)
        VANTREL_PRINTF(3, 4);

    const char* what() const noexcept override;
    const char* expertData() const;
    const char* fileName() const { return file_; }
    int lineNumber() const { return line_; }

    static void enableVerboseExceptions(bool verbose);
    static bool verboseExceptions();

protected:
    void setWhat(const char* message, const char* detailFormat, ...)
        VANTREL_PRINTF(3, 4);
    void setWhat(const char* message, const char* detailFormat, va_list args);

private:
    char file_[FILE_SIZE];
    char text_[TEXT_SIZE];
    int line_;
    int expertOffset_;

    static bool verbose_;
};

}  // namespace Vantrel
