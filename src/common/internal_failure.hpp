#pragma once

#include <source_location>
#include <stdexcept>
#include <string>

namespace pelgar {

// A violated internal assumption. The calling frame reports it on standard error
// (message and origin) and raises it in Python as PanicException.
class InternalFailure : public std::runtime_error {
public:
    explicit InternalFailure(const std::string& message,
                             std::source_location where = std::source_location::current())
        : std::runtime_error(message), where_(where) {}

    const std::source_location& where() const noexcept { return where_; }

private:
    std::source_location where_;
};

}  // namespace pelgar
