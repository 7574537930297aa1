#pragma once

#include <exception>
#include <string>

// The class library's base exception: it carries a message text.
class Exception : public std::exception {
public:
    explicit Exception(std::string AMessage) : FMessage(std::move(AMessage)) {}
    const std::string &Message() const { return FMessage; }
    const char *what() const noexcept override { return FMessage.c_str(); }

private:
    std::string FMessage;
};

// An operation that is not allowed in the object's current state.
class EInvalidOperation : public Exception {
public:
    using Exception::Exception;
};
