// Kernel exception kinds. Only the kernel file class and product-level code
// throw them; nothing throws across a subsystem boundary.
#pragma once

#include <string>

namespace Vek {

class Exception {
 public:
  Exception(std::string reason, const char* file, int line)
      : m_reason(std::move(reason)), m_file(file ? file : ""), m_line(line) {}
  virtual ~Exception() = default;
  virtual const char* ClassName() const { return "Unknown"; }

  const std::string& Reason() const { return m_reason; }
  const std::string& File() const { return m_file; }
  int Line() const { return m_line; }

 private:
  std::string m_reason;
  std::string m_file;
  int m_line;
};

// Raised by Vek::File.
class FileEx : public Exception {
 public:
  using Exception::Exception;
  const char* ClassName() const override { return "File"; }
};

}  // namespace Vek
