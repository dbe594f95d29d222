// Named settings read from the environment, with a registry for changing them at run time.
//
// A setting reads its environment variable once, when it is constructed (normally at load, as
// a function-local or namespace-scope static), and keeps its value until set() replaces it.
// set() also runs the setting's change listeners, so that a module that derives state from a
// setting (the message filter level, for example) can recompute it.
//
// Threads: settings are meant to be read and changed at start-up, before other threads use
// them. Reading is safe from any thread while nobody changes the setting.
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <vector>

namespace Vantrel {

class CoEnvStringSetting {
public:
    // Reads the variable `name`; `defaultValue` when it is not set. Registers itself under
    // `name`; the setting must outlive every lookup through find(), so make it static.
    CoEnvStringSetting(const char* name, const char* defaultValue);
    ~CoEnvStringSetting();
    CoEnvStringSetting(const CoEnvStringSetting&) = delete;
    CoEnvStringSetting& operator=(const CoEnvStringSetting&) = delete;

    const std::string& name() const { return name_; }
    const std::string& value() const { return value_; }
    const std::string& defaultValue() const { return default_; }
    bool isDefault() const { return value_ == default_; }

    // Replaces the value and runs every change listener, in the order they were added.
    void set(const std::string& value);
    // Reads the environment variable again (default when unset), then as set().
    void reload();
    void addChangeListener(std::function<void()> listener);

    // The registered string setting called `name`, or null.
    static CoEnvStringSetting* find(const std::string& name);

private:
    std::string name_;
    std::string default_;
    std::string value_;
    std::vector<std::function<void()>> listeners_;
};

class CoEnvBoolSetting {
public:
    // Reads the variable `name`: unset gives `defaultValue`; any value but exactly "false",
    // "FALSE" or "0" gives true, the empty text included.
    CoEnvBoolSetting(const char* name, bool defaultValue);

    bool value() const { return value_.load(std::memory_order_relaxed); }
    void set(bool value) { value_.store(value, std::memory_order_relaxed); }
    // Reads the environment variable again, by the rule of the constructor.
    void reload();

    // The rule of the constructor, for a variable's raw value (null when unset).
    static bool parse(const char* raw, bool defaultValue);

private:
    std::string name_;
    bool default_;
    std::atomic<bool> value_;
};

// The raw value of an environment variable, or null when it is not set.
const char* coGetEnv(const char* name);
// True when the environment variable exists, whatever its value (the empty text included).
bool coEnvExists(const char* name);
// The variable read as a decimal number; `defaultValue` when unset or not a number.
long coEnvLong(const char* name, long defaultValue);

}  // namespace Vantrel
