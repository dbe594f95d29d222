#include "threads/CoThreadMgr.h"

#include "vantrel/CoMsg.h"
#include "osal/CoAssert.h"
#include "threads/CoTask.h"

namespace Vantrel {

namespace {

// Runs a plain function with its argument.
class FunctionTask : public CoTask {
public:
    FunctionTask(void (*fn)(void*), void* arg) : fn_(fn), arg_(arg) {}
    void run(CoThread*) override { fn_(arg_); }

private:
    void (*fn_)(void*);
    void* arg_;
};

}  // namespace

std::atomic<CoThreadMgr*> CoThreadMgr::_instance(nullptr);
std::atomic<bool> CoThreadMgr::_initialized(false);

CoThreadMgr::CoThreadMgr() = default;
CoThreadMgr::~CoThreadMgr() = default;

CoThreadMgr& CoThreadMgr::getInstance() {
    if (_instance == nullptr) _instance = coNewPlatformThreadMgr();   // lives until the process ends
    CoThreadMgr& mgr = *_instance;
    if (!_initialized) {
        _initialized = true;
        mgr.initialize();
        CoMsg::setCurrentPIDCallback(
            [] { return static_cast<int>(_instance.load()->currentThreadId()); });
    }
    return mgr;
}

void CoThreadMgr::markUninitialized() { _initialized = false; }

CoThread* CoThreadMgr::findCurrentThread() {
    CoThreadMgr& mgr = getInstance();
    return mgr.findThread(mgr.currentThreadId());
}

CoThread& CoThreadMgr::createThread(const char* name, void (*fn)(void*), void* arg,
                                    bool registered) {
    CoThread* handle =
        getInstance().createThread(new FunctionTask(fn, arg), name, CoThread::NEW_THREAD, registered);
    CO_ASSERT_TEXT(handle != nullptr, "handle != 0");
    handle->start();
    return *handle;
}

std::ostream& operator<<(std::ostream& out, const CoThreadMgr& mgr) {
    mgr.dump(out);
    return out;
}

}  // namespace Vantrel
