#pragma once

#include <exception>
#include <string>

namespace fw {

// The base of every exception the framework reports as unhandled. Handlers may append to
// Message and rethrow, so the report lists the places an exception passed through.
class RuntimeException : public std::exception {
public:
    explicit RuntimeException(std::string message = {}) : Message(std::move(message)) {}
    ~RuntimeException() override = default;

    virtual const char* ClassName() const noexcept { return "RuntimeException"; }
    const char* what() const noexcept override { return Message.c_str(); }

    std::string Message;
};

// A call through a reference that holds no object.
class NilObjectException : public RuntimeException {
public:
    explicit NilObjectException(std::string message = {}) : RuntimeException(std::move(message)) {}
    const char* ClassName() const noexcept override { return "NilObjectException"; }
};

class OutOfBoundsException : public RuntimeException {
public:
    explicit OutOfBoundsException(std::string message = {})
        : RuntimeException(std::move(message)) {}
    const char* ClassName() const noexcept override { return "OutOfBoundsException"; }
};

class KeyNotFoundException : public RuntimeException {
public:
    explicit KeyNotFoundException(std::string message = {})
        : RuntimeException(std::move(message)) {}
    const char* ClassName() const noexcept override { return "KeyNotFoundException"; }
};

// A reference converted to a class its object is not an instance of.
class IllegalCastException : public RuntimeException {
public:
    explicit IllegalCastException(std::string message = {})
        : RuntimeException(std::move(message)) {}
    const char* ClassName() const noexcept override { return "IllegalCastException"; }
};

}  // namespace fw
