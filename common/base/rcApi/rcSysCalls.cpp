#include "rcApi/rcSysCalls.h"

#include "vantrel/CoException.h"
#include "rcApi/rcServerContext.h"

namespace Vantrel {

namespace {

const rcParam::Info LOGIN_PARAMS[] = {{&rcParamString::TYPE, "attrStr"}, {nullptr, nullptr}};

}  // namespace

bool rcSysCalls::ping(void*, const rcMethod& method, const rcParam::Array&, rcParam&) {
    return method.getServerContext().ping();
}

bool rcSysCalls::login(void*, const rcMethod& method, const rcParam::Array& params, rcParam&) {
    rcServerContext& context = method.getServerContext();
    // Without a connection: the checksum must cover the address the client reported.
    const rcConnectionInfo record(params[0]->stringValue().c_str(), nullptr);
    if (!record.isValid())
        throw CoException("Authentication failed for client's login information", __LINE__,
                          __FILE__);
    const rcConnectionInfo* current = context.getCurrentConnectionInfo();
    if (current == nullptr) return false;  // not called for a client
    const rcConnectionInfo previous = *current;
    context.setCurrentConnectionInfo(record);
    if (!context.login(*context.getCurrentConnectionInfo())) {
        // Refused: the client must not stay logged in with the record it just sent.
        context.restoreCurrentConnectionInfo(previous);
        throw CoException("Authentication failed", __LINE__, __FILE__);
    }
    return true;
}

void rcSysCalls::registerMethods(rcServerContext& context) {
    context.registerMethod(
        rcMethod(context, "_ping", ping, rcParamVoid::TYPE, rcMethod::dudParamList_));
    context.registerMethod(
        rcMethod(context, "_login", login, rcParamString::TYPE, LOGIN_PARAMS));
}

}  // namespace Vantrel
