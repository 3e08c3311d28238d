// Base of every error of the option library: a message, returned by what(),
// and an optional chained error shared between copies.
#pragma once

#include <exception>
#include <string>
#include <utility>

#include "opt/handle.h"

namespace zelto {

class TError : public std::exception {
public:
    explicit TError(std::string message) : msg_(std::move(message)) {}
    // Chains a cause, which the error then owns and shares with its copies.
    TError(std::string message, TError* cause) : msg_(std::move(message)), cause_(cause) {}

    const char* what() const noexcept override;
    // The chained cause, or null; none of our own errors sets one.
    const TError* cause() const noexcept { return cause_.get(); }

private:
    std::string msg_;
    Handle<TError> cause_;
};

}  // namespace zelto
