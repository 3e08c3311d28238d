// The tool's own error: one message that is the complete line to print.
// Deliberately not derived from std::exception or zelto::TError, so main
// tells it apart from option-library errors by its own catch clause.
#pragma once

#include <string>

class TUError {
public:
    explicit TUError(std::string message) : message(std::move(message)) {}
    std::string message;
};

// An error message as the one line the caller reads: line breaks at its end
// (remote error text brings its own) are cut, and each run of line breaks
// inside becomes "; ".
std::string one_line(const std::string& message);
