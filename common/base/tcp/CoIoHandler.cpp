#include "tcp/CoIoHandler.h"

namespace Vantrel {

bool CoIoHandler::handleRead() { return true; }

bool CoIoHandler::handleWrite() { return true; }

bool CoIoHandler::handleException() { return true; }

CoIoHandler::~CoIoHandler() = default;

}  // namespace Vantrel
