// Kernel exception kinds. Only the kernel file class and product-level code
// throw them; nothing throws across a subsystem boundary.
//
// The texts live in fixed buffers inside the object, so throwing one needs
// no allocation beyond the exception object itself (it may be thrown while
// memory is short). A reason longer than the buffer is cut.
#pragma once

#include <cstddef>
#include <cstring>
#include <string>

#include "KernelStandard/platform/SystemNames.h"

namespace Vek {

class Exception {
 public:
  static constexpr std::size_t kCallStackCapacity = 4096;
  static constexpr std::size_t kReasonCapacity = 256;

  // `file` must outlive the exception (a string literal, as __FILE__ is).
  Exception(const char* file, int line, const char* reason) : m_line(line), m_file(file) {
    SetCallStack("No call stack available\r\n");
    Copy(m_reason, kReasonCapacity, reason);
  }
  // The order most throw sites read best in.
  Exception(const std::string& reason, const char* file, int line) : Exception(file, line, reason.c_str()) {}
  Exception(const char* reason, const char* file, int line) : Exception(file, line, reason) {}
  virtual ~Exception() = default;

  virtual const char* GetClassName() const { return "Unknown"; }
  virtual unsigned char GetFlag() const { return m_flag; }
  virtual const char* GetCallStack() const { return m_callStack; }
  virtual const char* GetReason() const { return m_reason; }

  // The source file and line of the throw; the file is nullptr or "" when
  // unknown, the line 0 or less.
  const char* SourceFile() const { return m_file; }
  int SourceLine() const { return m_line; }

  // Replaces the call-stack text (cut to the buffer).
  void SetCallStack(const char* text) { Copy(m_callStack, kCallStackCapacity, text); }
  void SetFlag(unsigned char flag) { m_flag = flag; }

  // Convenience forms.
  const char* ClassName() const { return GetClassName(); }
  std::string Reason() const { return GetReason(); }
  std::string File() const { return m_file != nullptr ? m_file : ""; }
  int Line() const { return m_line; }

 private:
  static void Copy(char* out, std::size_t capacity, const char* text) {
    const std::size_t length = text != nullptr ? ::strnlen(text, capacity - 1) : 0;
    if (length > 0) std::memcpy(out, text, length);
    out[length] = '\0';
  }

  char m_callStack[kCallStackCapacity];
  char m_reason[kReasonCapacity];
  unsigned char m_flag = 0;
  int m_line;
  const char* m_file;
};

// Raised by Vek::File.
class FileEx : public Exception {
 public:
  using Exception::Exception;
  const char* GetClassName() const override { return "File"; }
};

}  // namespace Vek

// Raised by the product log routines of the patch engine: the logged text
// is the reason, the source is the product log module.
class OmbrixEx : public Vek::Exception {
 public:
  static constexpr const char* kSourceFile = ".\\OmbrixLog";
  static constexpr int kSourceLine = 53;

  explicit OmbrixEx(const char* loggedText) : Exception(kSourceFile, kSourceLine, loggedText) {}
  explicit OmbrixEx(const std::string& loggedText) : OmbrixEx(loggedText.c_str()) {}
  const char* GetClassName() const override { return "Ombrix Error"; }
};
