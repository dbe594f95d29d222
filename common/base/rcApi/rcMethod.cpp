#include "rcApi/rcMethod.h"

#include <exception>
#include <memory>
#if defined(__GLIBCXX__)
#include <cxxabi.h>
#endif

#include "osal/CoAssert.h"

namespace Vantrel {

const rcParam::Info rcMethod::dudParamList_[1] = {{nullptr, nullptr}};

rcMethod::rcMethod(rcServerContext& context, const char* name, Function function,
                   const rcParam::Type& returnType, const rcParam::Info* params, Type type)
    : context_(context), name_(name), function_(function), returnType_(returnType),
      params_(params != nullptr ? params : dudParamList_), type_(type) {
    CO_ASSERT(name != nullptr);
    CO_ASSERT(function != nullptr);
}

rcMethod::~rcMethod() = default;

namespace {

const char UNKNOWN_ERROR[] = "Unknown error";

// Runs the function; on a throw returns false with `thrown` set to the error text.
bool invoke(const rcMethod& method, void* object, const rcParam::Array& params, rcParam& result,
            std::string& thrown, bool& threw) {
    threw = true;
    try {
        const bool ok = method.getMethod()(object, method, params, result);
        threw = false;
        return ok;
    } catch (const std::exception& e) {  // CoException included
        thrown = e.what();
    } catch (const char* text) {
        thrown = text != nullptr ? text : UNKNOWN_ERROR;
    } catch (int value) {
        thrown = std::to_string(value);
    } catch (unsigned int value) {
        thrown = std::to_string(value);
    } catch (long value) {
        thrown = std::to_string(value);
    } catch (unsigned long value) {
        thrown = std::to_string(value);
    } catch (long long value) {
        thrown = std::to_string(value);
    } catch (unsigned long long value) {
        thrown = std::to_string(value);
    } catch (short value) {
        thrown = std::to_string(value);
    } catch (unsigned short value) {
        thrown = std::to_string(value);
#if defined(__GLIBCXX__)
    } catch (abi::__forced_unwind&) {
        throw;  // the thread is being ended (pthread_exit, cancellation): it must go on
#endif
    } catch (...) {
        thrown = UNKNOWN_ERROR;
    }
    return false;
}

}  // namespace

bool rcMethod::callMethod(void* object, const char* args, std::string& out) const {
    const rcParam::Array params(params_, args);
    const std::unique_ptr<rcParam> result(returnType_.alloc());
    std::string thrown;
    bool threw = false;
    const bool ok = invoke(*this, object, params, *result, thrown, threw);
    if (ok)
        out = result->releaseStringValue();  // a large reply is moved, not copied
    else
        out = threw ? thrown : lastError_;
    return ok;
}

}  // namespace Vantrel
