#include "rcApi/rcParam.h"

#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "osal/CoAssert.h"
#include "rcApi/rcStringToBool.h"

namespace Vantrel {

// ----------------------------------------------------------------------------------- rcParam

rcParam::Type::~Type() = default;
rcParam::~rcParam() = default;

void rcParam::setIntValue(int) {}
void rcParam::setLongValue(long) {}
void rcParam::setFloatValue(float) {}
void rcParam::setStringValue(const std::string& value) { setStringValue(value.c_str()); }
void rcParam::setStringValue(const char*) {}
void rcParam::setBoolValue(bool) {}
int rcParam::intValue() const { return 0; }
long rcParam::longValue() const { return 0; }
float rcParam::floatValue() const { return 0; }
std::string rcParam::stringValue() { return std::string(); }
bool rcParam::boolValue() const { return false; }

// ----------------------------------------------------------------------------- the six types

const rcParamVoid::VoidType rcParamVoid::TYPE;
const rcParamInt::IntType rcParamInt::TYPE;
const rcParamLong::LongType rcParamLong::TYPE;
const rcParamFloat::FloatType rcParamFloat::TYPE;
const rcParamBool::BoolType rcParamBool::TYPE;
const rcParamString::StringType rcParamString::TYPE;

rcParam* rcParamVoid::VoidType::alloc() const { return new rcParamVoid(); }
const char* rcParamVoid::VoidType::name() const { return "void"; }
rcParam* rcParamInt::IntType::alloc() const { return new rcParamInt(); }
const char* rcParamInt::IntType::name() const { return "int"; }
rcParam* rcParamLong::LongType::alloc() const { return new rcParamLong(); }
const char* rcParamLong::LongType::name() const { return "long"; }
rcParam* rcParamFloat::FloatType::alloc() const { return new rcParamFloat(); }
const char* rcParamFloat::FloatType::name() const { return "float"; }
rcParam* rcParamBool::BoolType::alloc() const { return new rcParamBool(); }
const char* rcParamBool::BoolType::name() const { return "bool"; }
rcParam* rcParamString::StringType::alloc() const { return new rcParamString(); }
const char* rcParamString::StringType::name() const { return "const char *"; }

namespace {

// atol without its undefined behaviour on overflow: strtol saturates.
long parseLong(const char* text) { return text == nullptr ? 0 : std::strtol(text, nullptr, 10); }

std::string format(const char* fmt, double value) {
    const int needed = std::snprintf(nullptr, 0, fmt, value);
    std::string text(static_cast<size_t>(needed > 0 ? needed : 0), '\0');
    std::snprintf(&text[0], text.size() + 1, fmt, value);
    return text;
}

}  // namespace

void rcParamInt::setStringValue(const char* value) {
    const long parsed = parseLong(value);
    value_ = parsed > INT_MAX ? INT_MAX : parsed < INT_MIN ? INT_MIN : static_cast<int>(parsed);
}

std::string rcParamInt::stringValue() { return std::to_string(value_); }

void rcParamLong::setStringValue(const char* value) { value_ = parseLong(value); }

std::string rcParamLong::stringValue() { return std::to_string(value_); }

void rcParamFloat::setStringValue(const char* value) {
    const double parsed = value == nullptr ? 0.0 : std::strtod(value, nullptr);
    // Narrowing a double beyond the float range is undefined; such a number is infinite here.
    if (std::isfinite(parsed) && std::fabs(parsed) > FLT_MAX)
        value_ = parsed > 0 ? INFINITY : -INFINITY;
    else
        value_ = static_cast<float>(parsed);
}

std::string rcParamFloat::stringValue() { return format("%f", value_); }

void rcParamBool::setStringValue(const char* value) { value_ = rcStringToBool(value); }

std::string rcParamBool::stringValue() { return value_ ? "true" : "false"; }

void rcParamString::setStringValue(const char* value) { value_ = value != nullptr ? value : ""; }

// ---------------------------------------------------------------------------- rcParam::Array

rcParam::Array::Array() = default;

rcParam::Array::Array(const Info* list, const char* args) {
    for (const Info* entry = list; entry != nullptr && entry->type != nullptr; ++entry)
        params_.push_back(entry->type->alloc());
    if (args == nullptr || params_.empty()) return;
    if (params_.size() == 1) {
        params_[0]->setStringValue(args);
        return;
    }
    split(args);
}

rcParam::Array::~Array() {
    for (rcParam* param : params_) delete param;
}

rcParam* rcParam::Array::operator[](int index) const {
    CO_ASSERT(index >= 0 && static_cast<size_t>(index) < params_.size());
    return params_[static_cast<size_t>(index)];
}

void rcParam::Array::split(const char* args) {
    size_t next = 0;
    std::string word;
    bool quoted = false;
    // Backslashes right before the current byte. A quote is escaped only by an odd run, so a
    // quoted text ending in an escaped backslash ("...\\") still closes where it should.
    size_t backslashes = 0;
    for (const char* p = args;; ++p) {
        const char c = *p;
        if (c == '\0') {
            params_[next]->setStringValue(word);
            return;
        }
        if (c == '"' && backslashes % 2 == 0) {
            quoted = !quoted;
            backslashes = 0;
            continue;
        }
        if (c == ' ' && !quoted) {
            params_[next++]->setStringValue(word);
            if (next == params_.size()) return;
            word.clear();
            backslashes = 0;
            continue;
        }
        word += c;
        backslashes = c == '\\' ? backslashes + 1 : 0;
    }
}

// ---------------------------------------------------------------------------------- quoting

rcParamStringToEscapedString::rcParamStringToEscapedString(const char* text) {
    if (text == nullptr) return;
    escaped_.reserve(std::strlen(text) + 2);
    escaped_ += '"';
    for (const char* p = text; *p != '\0'; ++p) {
        if (*p == '"' || *p == '\\') escaped_ += '\\';
        escaped_ += *p;
    }
    escaped_ += '"';
}

rcParamEscapedStringToString::rcParamEscapedStringToString(const char* text) {
    if (text == nullptr) return;
    const size_t length = std::strlen(text);
    text_.reserve(length);
    for (size_t i = 0; i < length; ++i) {
        const char c = text[i];
        if (c == '"' && (i == 0 || i == length - 1)) continue;
        if (c == '\\') {
            if (++i == length) break;
            text_ += text[i];
            continue;
        }
        text_ += c;
    }
}

}  // namespace Vantrel
