// A unit of work run by a CoThread.
//
// A thread owns its task: it calls attach() when it takes the task over, run() on the new
// operating-system thread, stop() when someone asks the thread to stop, and detach() just
// before it destroys the task. Only run() must be provided; the others do nothing by default.
//
// Threads: run() runs on the task's own thread; stop() runs on the thread that called
// CoThread::stop(), usually while run() is still going, so whatever the two share must be
// guarded (a flag and a CoConditionSignal, for example). A run() that must be killable by force
// waits only in cancellation points (see CoThread::kill) and keeps no lock across them.
#pragma once

namespace Vantrel {

class CoThread;

class CoTask {
public:
    virtual ~CoTask();

    virtual void attach(CoThread* thread);
    virtual void detach(CoThread* thread);
    virtual void run(CoThread* thread) = 0;
    // Asks a running run() to return soon.
    virtual void stop(CoThread* thread);
};

}  // namespace Vantrel
