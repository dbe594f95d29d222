// What the operating system tells VantrelOS: one implementation per platform
// (VantrelOS_posix.cpp). Not part of the public API.
#pragma once

#include <string>

#include "vantrel/VantrelOS.h"

namespace Vantrel {
namespace vantrelOsPlatform {

VantrelOS::OsType osType();
// Each answers false, leaving `text` alone, when the system cannot tell.
bool osVersion(std::string& text);
bool effectiveUserName(std::string& text);
bool effectiveGroupName(std::string& text);

}  // namespace vantrelOsPlatform
}  // namespace Vantrel
