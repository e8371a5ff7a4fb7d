// The general exception of the component framework and the few classes the
// framework itself raises. Every exception is an Exception with a message;
// subsystem exceptions derive from it.
#pragma once

#include <cstdarg>
#include <exception>
#include <string>

namespace rtl {

// printf-style formatting into a std::string.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string FormatV(const char* format, va_list args);

class Exception : public std::exception {
 public:
  explicit Exception(std::string message) : message_(std::move(message)) {}
  const std::string& Message() const { return message_; }
  void SetMessage(std::string message) { message_ = std::move(message); }
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  std::string message_;
};

// "%s (%s, line %d)": message, source module, line.
class EAssertionFailed : public Exception {
 public:
  EAssertionFailed(const std::string& message, const std::string& module, int line);
};

// Raises EAssertionFailed when the condition does not hold.
void Assert(bool condition, const std::string& message, const char* module, int line);

// The persistent objects' copy refusal: "Cannot assign a %s to a %s".
class EConvertError : public Exception {
 public:
  using Exception::Exception;
};

class EStreamError : public Exception {
 public:
  using Exception::Exception;
};

// "Cannot create file \"%s\". %s": file name, then the system's error text.
class EFCreateError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};

// "Cannot open file \"%s\". %s".
class EFOpenError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};

class EReadError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};

class EWriteError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};

// "List index out of bounds (%d)".
class EListError : public Exception {
 public:
  using Exception::Exception;
};

[[noreturn]] void RaiseListIndexError(long long index);

}  // namespace rtl
