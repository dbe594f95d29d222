// The message channel of the library.
//
// Every module posts diagnostics through CoMsg: a printf-style text with a level, the source
// file and line, and an optional family name. A process-wide filter level decides which
// messages are built at all (a message whose level does not pass costs one comparison); a
// replaceable CoMsg::Router decides where a built message goes. The default router writes to
// standard output.
//
// Usual form of a post:
//     CoMsgBuilder<0>(__FILE__, __LINE__, CoMsg::postError)("Can't create semaphore: %d", err);
// or the shorthand macros at the end of this header.
//
// Threads: the filter level, verbose flag, family switch, router and current-process callback
// are process-wide values without a lock, meant to be set at start-up; each is read and written
// atomically, so setting one while other threads post is no data race. Posting from several
// threads at once is allowed: each message is built on the caller's stack and written in one
// stream call.
// Messages never fail towards the caller; over-long texts are cut.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>

#include "vantrel/VantrelExport.h"

namespace Vantrel {

class VANTREL_API CoMsg {
public:
    enum Level {
        UNKNOWN_LEVEL = -1,
        USER_LEVEL = 0,
        ERROR_LEVEL = 1,
        WARNING_LEVEL = 2,
        NOTICE_LEVEL = 3,
        DEBUGGING_LEVEL = 4,
    };

    static const char USER_LEVEL_STRING[];
    static const char ERROR_LEVEL_STRING[];
    static const char WARNING_LEVEL_STRING[];
    static const char NOTICE_LEVEL_STRING[];
    static const char DEBUGGING_LEVEL_STRING[];
    static const char UNKNOWN_LEVEL_STRING[];

    // The longest message text (a longer one is cut) and the longest full line.
    static constexpr int MAX_TEXT = 2047;
    static constexpr int MAX_LINE = 2175;

    // Decides where built messages go. The installed router is owned by whoever installed it
    // and must outlive its installation.
    class VANTREL_API Router {
    public:
        virtual ~Router();
        // Writes the message to standard output.
        virtual void post(const CoMsg& msg) const;

    protected:
        // Writes one message to `stream`: the full line when the verbose flag is set and the
        // message has a line of 1 or more, else the text without trailing white space and a
        // newline. One stream call per message.
        void post(const CoMsg& msg, FILE* stream) const;
    };

    typedef void (*PostFunction)(const char* file, int line, const char* family,
                                 const char* format, va_list args);

    // `file` must not be null and is reduced to its last path component; a null text or
    // family counts as the empty text. The process number comes from the current-process
    // callback, the time from the clock.
    explicit CoMsg(const char* text = "", const char* file = "", int line = 0,
                   Level level = NOTICE_LEVEL, const char* family = "");

    // Writes the full line into `buffer` (at most `size` characters, terminated) and returns
    // the buffer.
    const char* format(char* buffer, int size) const;

    const std::string& text() const { return text_; }
    const std::string& file() const { return file_; }
    const std::string& family() const { return family_; }
    int processNumber() const { return processNumber_; }
    int line() const { return line_; }
    Level level() const { return level_; }
    int64_t time() const { return time_; }

    // Post at level 0 to 4 through the filter and the router.
    static void postUser(const char* file, int line, const char* family, const char* format, va_list args);
    static void postError(const char* file, int line, const char* family, const char* format, va_list args);
    static void postWarning(const char* file, int line, const char* family, const char* format, va_list args);
    static void postNotice(const char* file, int line, const char* family, const char* format, va_list args);
    static void postDebug(const char* file, int line, const char* family, const char* format, va_list args);
    // Write straight to standard output: no filter, no router.
    static void postConsole(const char* file, int line, const char* family, const char* format, va_list args);
    static void postShell(const char* file, int line, const char* family, const char* format, va_list args);

    // "user", "error", "warn", "notice", "debug"; "unknown" outside 0 to 4.
    static const char* levelToString(Level level);
    // Exact, case-sensitive inverse of levelToString; null or any other text gives -1.
    static Level stringToLevel(const char* name);

    static Level filterLevel();
    static void setFilterLevel(Level level);
    // Replaces the filter level only while ZR_MSG_LEVEL still has its default, the empty text.
    static void setDefaultFilterLevel(Level level);

    static bool verboseFlag();
    static void setVerboseFlag(bool verbose);

    static void enableFamily(bool enable);
    static bool isFamilyEnabled();

    // The installed router, or the default router when none is installed.
    static const Router& router();
    static const Router& defaultRouter();
    // Installs `router` (not owned); null restores the default.
    static void setRouter(const Router* router);

    // Installs the function whose result is each message's process number; null keeps the
    // current one.
    static void setCurrentPIDCallback(int (*callback)());
    static int callCurrentPIDCallback();

    // The last path component of a source file name (see the message's file field).
    static std::string reduceFileName(const char* path);

private:
    static void postAt(Level level, const char* file, int line, const char* family,
                       const char* format, va_list args);

    std::string text_;
    std::string file_;
    std::string family_;
    int processNumber_;
    int line_;
    Level level_;
    int64_t time_;
};

// Holds the file, line and post function of a message about to be posted.
class VANTREL_API CoMsgBuilderBase {
public:
    CoMsgBuilderBase();  // "<unknown>", 0 and no function: must not be called
    CoMsgBuilderBase(const char* file, int line, CoMsg::PostFunction post);
    virtual ~CoMsgBuilderBase();

protected:
    void post(const char* family, const char* format, va_list args) const;

private:
    const char* file_;
    int line_;
    CoMsg::PostFunction post_;
};

template <int WithFamily>
class CoMsgBuilder;

// Posts with the family "-".
template <>
class VANTREL_API CoMsgBuilder<0> : public CoMsgBuilderBase {
public:
    using CoMsgBuilderBase::CoMsgBuilderBase;
    ~CoMsgBuilder() override;
    void operator()(const char* format, ...) const VANTREL_PRINTF(2, 3);
};

// Posts with the family given as first argument.
template <>
class VANTREL_API CoMsgBuilder<1> : public CoMsgBuilderBase {
public:
    using CoMsgBuilderBase::CoMsgBuilderBase;
    ~CoMsgBuilder() override;
    void operator()(const char* family, const char* format, ...) const
        VANTREL_PRINTF(3, 4);
};

// A router for programs built on the base layer: filters by level and writes to standard
// error. Installs itself on construction; reinstalls the default router on destruction.
// Construction reads ZR_MSG_LEVEL directly: set, the filter level becomes its level (an empty
// or unknown value silences everything); unset, the filter level becomes ERROR_LEVEL.
class VANTREL_API CoStderrLogger : public CoMsg::Router {
public:
    CoStderrLogger();
    ~CoStderrLogger() override;
    void post(const CoMsg& msg) const override;
};

}  // namespace Vantrel

// Shorthands: CO_MSG_ERROR("Can't open %s", path);
#define CO_MSG_USER ::Vantrel::CoMsgBuilder<0>(__FILE__, __LINE__, ::Vantrel::CoMsg::postUser)
#define CO_MSG_ERROR ::Vantrel::CoMsgBuilder<0>(__FILE__, __LINE__, ::Vantrel::CoMsg::postError)
#define CO_MSG_WARNING ::Vantrel::CoMsgBuilder<0>(__FILE__, __LINE__, ::Vantrel::CoMsg::postWarning)
#define CO_MSG_NOTICE ::Vantrel::CoMsgBuilder<0>(__FILE__, __LINE__, ::Vantrel::CoMsg::postNotice)
#define CO_MSG_DEBUG ::Vantrel::CoMsgBuilder<0>(__FILE__, __LINE__, ::Vantrel::CoMsg::postDebug)
#define CO_MSG_SHELL ::Vantrel::CoMsgBuilder<0>(__FILE__, __LINE__, ::Vantrel::CoMsg::postShell)
