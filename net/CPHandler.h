// CPHandler: a receiver of completions from the socket manager's
// completion port. The worker thread hands it every dequeued operation
// that names it as handler.
#pragma once

#include <cstdint>

class CPSocketManager;
class IOOperation;

class CPHandler {
 public:
  // Called on the completion-port worker thread.
  virtual void OnCompletion(IOOperation& operation, std::uint32_t systemError) = 0;
  // The system handle bound to the port (-1 when none).
  virtual int GetHandle() const = 0;
  virtual ~CPHandler() = default;

  CPSocketManager* GetManager() const { return m_manager; }

 private:
  // The manager binds its handlers (under its lock).
  friend class CPSocketManager;
  void SetManager(CPSocketManager* manager) { m_manager = manager; }

  CPSocketManager* m_manager = nullptr;
};
