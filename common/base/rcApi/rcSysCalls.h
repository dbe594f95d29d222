// The system methods every remote-call server has, registered by each valid rcServerContext:
//   "_ping"  (no parameters, void): succeeds;
//   "_login" (one string "attrStr", string): checks the client's connection record (its
//            checksum) and the server's login() hook. A record that does not check out fails
//            with "Authentication failed for client's login information"; a refusal by login()
//            fails with "Authentication failed" and leaves the client's record as it was
//            before (so a client refused at its first login is disconnected).
#pragma once

#include "rcApi/rcParam.h"

namespace Vantrel {

class rcMethod;
class rcServerContext;

class rcSysCalls {
public:
    static void registerMethods(rcServerContext& context);

private:
    static bool ping(void* object, const rcMethod& method, const rcParam::Array& params,
                     rcParam& result);
    static bool login(void* object, const rcMethod& method, const rcParam::Array& params,
                      rcParam& result);
};

}  // namespace Vantrel
