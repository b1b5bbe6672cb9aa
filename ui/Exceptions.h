#pragma once
// Failures are exceptions carrying a UTF-16 message; whatever escapes a handler is shown by
// TApplication's error report. Portable: no <windows.h>.
#include <exception>
#include <string>
#include <utility>

class Exception : public std::exception {
public:
    explicit Exception(std::wstring message) : message_(std::move(message)) {}
    const std::wstring& Message() const noexcept { return message_; }
    // The report shows Message(); what() exists only for std::exception's sake.
    const char* what() const noexcept override { return "Quenlet exception"; }

private:
    std::wstring message_;
};

// A call on an automation object failed.
class EOleError : public Exception {
public:
    using Exception::Exception;
};

// A late-bound call on an empty variant.
class EVariantInvalidOpError : public Exception {
public:
    using Exception::Exception;
};

// The settings file could not be written.
class EIniFileException : public Exception {
public:
    using Exception::Exception;
};

// The system ran out of a resource (timers, handles).
class EOutOfResources : public Exception {
public:
    using Exception::Exception;
};

// The window layout names something the program does not know.
class ELayoutError : public Exception {
public:
    using Exception::Exception;
};

// A Win32 call failed; the message is the system's description.
class EOSError : public Exception {
public:
    using Exception::Exception;
};
