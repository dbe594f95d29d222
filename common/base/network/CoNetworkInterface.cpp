#include "network/CoNetworkInterface.h"

#include <cstring>

#include "osal/CoAssert.h"

namespace Vantrel {
namespace {

struct AttributeText {
    CoNetworkInterface::Attributes value;
    const char* text;
};

const AttributeText ATTRIBUTE_TEXTS[] = {
    {CoNetworkInterface::NONE, "none"},
    {CoNetworkInterface::LOOPBACK, "loopback"},
    {CoNetworkInterface::IPV4, "ipv4"},
    {CoNetworkInterface::IPV6, "ipv6"},
    {CoNetworkInterface::MULTICAST, "multicast"},
    {CoNetworkInterface::GATEWAY, "gateway"},
    {CoNetworkInterface::ANY, "any"},
};

}  // namespace

CoNetworkInterface::CoNetworkInterface() : attributes_(NONE), throughput_(0) {}

CoNetworkInterface::CoNetworkInterface(const std::string& name, uint32_t attributes,
                                       const std::string& ip, const std::string& netmask,
                                       uint32_t throughput)
    : name_(name), attributes_(attributes), ip_(ip), netmask_(netmask), throughput_(throughput) {}

bool CoNetworkInterface::operator==(const CoNetworkInterface& other) const {
    return name_ == other.name_ && attributes_ == other.attributes_ && ip_ == other.ip_ &&
           netmask_ == other.netmask_ && throughput_ == other.throughput_;
}

const char* CoNetworkInterface::getAttributeStr(uint32_t attribute) {
    for (const AttributeText& entry : ATTRIBUTE_TEXTS)
        if (entry.value == attribute) return entry.text;
    return nullptr;
}

CoNetworkInterface::Attributes CoNetworkInterface::getAttributeFromStr(const char* text) {
    CO_ASSERT(text != nullptr);
    for (const AttributeText& entry : ATTRIBUTE_TEXTS)
        if (std::strcmp(entry.text, text) == 0) return entry.value;
    return NONE;
}

std::string CoNetworkInterface::getAttributesStr(uint32_t attributes) {
    if (attributes == NONE || attributes == ANY) return getAttributeStr(attributes);
    std::string result;
    for (uint32_t bit = 1; bit != 0; bit <<= 1) {
        const char* text = (attributes & bit) != 0 ? getAttributeStr(bit) : nullptr;
        if (text == nullptr) continue;
        if (!result.empty()) result += ',';
        result += text;
    }
    return result;
}

}  // namespace Vantrel
