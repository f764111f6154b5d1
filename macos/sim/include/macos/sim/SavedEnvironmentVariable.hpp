#pragma once

#include <cstdlib>
#include <optional>
#include <string>

// For tests of several layers.
namespace sim::testing {

// Remembers an environment variable and puts it back when destroyed.
class SavedEnvironmentVariable {
public:
    explicit SavedEnvironmentVariable(const char* name) : name_(name) {
        if (const char* value = std::getenv(name)) saved_ = value;
    }
    ~SavedEnvironmentVariable() {
        if (saved_)
            ::setenv(name_, saved_->c_str(), 1);
        else
            ::unsetenv(name_);
    }
    SavedEnvironmentVariable(const SavedEnvironmentVariable&) = delete;
    SavedEnvironmentVariable& operator=(const SavedEnvironmentVariable&) = delete;

private:
    const char* name_;
    std::optional<std::string> saved_;
};

}  // namespace sim::testing
