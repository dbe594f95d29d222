// A method that a remote-call server publishes: its name, the function that implements it, the
// type of its result and its typed parameters.
//
// The implementing function receives the object the request addressed (null for object id 0),
// the method, the parameters split from the argument text, and a fresh result of the method's
// result type. It returns true on success; on failure it puts its message into the method's
// last error, or throws.
//
// Threads: a method is shared by all calls of it; its last error is a single field, so two
// calls running at once may see each other's error text. The server runs methods on its
// loop's thread.
#pragma once

#include <string>

#include "rcApi/rcParam.h"

namespace Vantrel {

class rcServerContext;

class rcMethod {
public:
    typedef bool (*Function)(void* object, const rcMethod& method, const rcParam::Array& params,
                             rcParam& result);

    // IMMEDIATE: the reply goes out as soon as the function returns. Any other value: the
    // method answers later through rcServerContext::returnFromDelayedCommand.
    typedef int Type;
    static constexpr Type IMMEDIATE = 0;
    static constexpr Type DELAYED = 1;

    // `name` and `params` are not copied: they must outlive the method (string literals and
    // static lists serve). `params` may be null for a method without parameters.
    rcMethod(rcServerContext& context, const char* name, Function function,
             const rcParam::Type& returnType, const rcParam::Info* params,
             Type type = IMMEDIATE);
    rcMethod(const rcMethod&) = default;
    rcMethod& operator=(const rcMethod&) = delete;
    virtual ~rcMethod();

    const char* getName() const { return name_; }
    Function getMethod() const { return function_; }
    const rcParam::Type& getReturnType() const { return returnType_; }
    const rcParam::Info* getParamList() const { return params_; }
    rcServerContext& getServerContext() const { return context_; }
    Type getMethodType() const { return type_; }
    bool isDelayed() const { return type_ != IMMEDIATE; }

    void setLastError(const char* text) const { lastError_ = text != nullptr ? text : ""; }
    std::string& lastError() const { return lastError_; }

    // Runs one call: splits `args` into the parameters, calls the function and puts into
    // `out` the result's text on success, else the error text. A thrown exception counts as a
    // failure whose text is what() of a standard exception, a thrown text (or "Unknown error"
    // when it is null), a thrown integer in decimal, or "Unknown error" for anything else.
    // Without a thrown text the method's last error is used (it is not cleared before).
    bool callMethod(void* object, const char* args, std::string& out) const;

    // The list of a method without parameters.
    static const rcParam::Info dudParamList_[1];

private:
    rcServerContext& context_;
    const char* name_;
    Function function_;
    const rcParam::Type& returnType_;
    const rcParam::Info* params_;
    mutable std::string lastError_;
    Type type_;
};

}  // namespace Vantrel
