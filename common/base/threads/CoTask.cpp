#include "threads/CoTask.h"

namespace Vantrel {

CoTask::~CoTask() = default;
void CoTask::attach(CoThread*) {}
void CoTask::detach(CoThread*) {}
void CoTask::stop(CoThread*) {}

}  // namespace Vantrel
