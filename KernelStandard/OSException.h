// The exception of the thin system layer (OS::Thread, OS::Mutex, OS::Event
// and the free wrappers of OSCalls.h): a failing system call throws it by
// value instead of returning a failure code. It is not a Vek::Exception and
// never leaves the kernel.
#pragma once

#include <exception>
#include <string>

class OSException : public std::exception {
 public:
  explicit OSException(std::string message = {}) : m_message(std::move(message)) {}

  // Fills the description from the message and returns it.
  const char* GetDescription() {
    m_description = m_message;
    return m_description.c_str();
  }
  const std::string& Message() const { return m_message; }
  const char* what() const noexcept override { return m_message.c_str(); }

 private:
  std::string m_message;
  std::string m_description;
};
