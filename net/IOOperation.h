// IOOperation: one socket request (connect, receive, send, disconnect,
// accept) and its progress. A user thread fills it, posts it through a
// TCPSocket and waits on its completion event; from the post until the
// signal only the completion-port worker touches it, then the user thread
// again (the event is the hand-over). Usually a local object of the
// waiting thread.
//
// States and their legal predecessors (anything else fails an assertion):
//   STATE_POSTED      <- STATE_UNUSED, STATE_CAUGHT   request posted, or a call issued
//   STATE_FAILEDPOST  <- STATE_POSTED                 the call failed at once
//   STATE_CAUGHT      <- STATE_POSTED                 the worker dequeued it
//   STATE_SIGNALLED   <- STATE_CAUGHT, STATE_FAILEDPOST   Signal (with event)
//   STATE_COMPLETE    <- STATE_UNUSED, STATE_SIGNALLED    Wait returned, or Signal without event
//   STATE_DESTROYED   <- STATE_COMPLETE, STATE_UNUSED     destructor
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "KernelStandard/ResultCodes.h"
#include "KernelStandard/WEvent.h"

class CPHandler;

class IOOperation {
 public:
  enum Kind : std::int32_t {
    IO_TCP_Invalid = 0,
    IO_TCP_StartConnect = 1,
    IO_TCP_Connect = 2,
    IO_TCP_StartAccept = 3,
    IO_TCP_Accept = 4,
    IO_TCP_Read = 5,
    IO_TCP_Write = 6,
    IO_TCP_StartRead = 7,
    IO_TCP_StartWrite = 8,
    IO_TCP_StartDisconnect = 9,
    IO_TCP_Disconnect = 10,
  };

  enum State : std::int32_t {
    STATE_UNUSED = 0,
    STATE_POSTED = 1,
    STATE_FAILEDPOST = 2,
    STATE_CAUGHT = 3,
    STATE_SIGNALLED = 4,
    STATE_COMPLETE = 5,
    STATE_DESTROYED = 6,
  };

  // The part of the request still to transfer, as handed to the system.
  struct BufferDescriptor {
    std::uint32_t length = 0;
    std::uint8_t* address = nullptr;
  };

  using Callback = std::function<void(CPHandler& handler, IOOperation& operation)>;

  // A record that deletes itself when signalled must be made with new.
  explicit IOOperation(bool autoDelete = false);
  virtual ~IOOperation();
  IOOperation(const IOOperation&) = delete;
  IOOperation& operator=(const IOOperation&) = delete;

  // Marks the request done: sets the state, the done flag, calls the
  // callback, sets the event, and deletes an auto-delete record.
  virtual void Signal();
  // Waits without limit for the signal, then marks the record complete.
  void Wait();

  // The request's data area and length (bytes so far start at 0).
  void SetData(void* data, std::uint32_t length);
  // Hands the record a data block it owns and frees with itself.
  void TakeData(std::unique_ptr<std::uint8_t[]> block, std::uint32_t length);

  bool IsInState(State state) const { return m_state == state; }
  State GetState() const { return m_state; }
  // Changes the state, asserting that the change is legal.
  void SetState(State state);
  bool HasEvent() const { return m_event != nullptr; }
  bool IsDone() const { return m_done; }

  // "IO_TCP_Read" and so on; "IO_UNKNOWN" for other values.
  static const char* KindName(std::int32_t kind);

  std::uint32_t m_lastTransfer = 0;  // bytes of the last completion
  NolkResult m_error = NOLKRESULT_OK;
  std::uint32_t m_systemError = 0;
  std::int32_t m_operation = IO_TCP_Invalid;
  Callback m_callback;
  BufferDescriptor m_buffer;
  CPHandler* m_handler = nullptr;
  std::uint32_t m_requestedLength = 0;
  std::uint32_t m_bytesSoFar = 0;
  std::uint8_t* m_data = nullptr;

 private:
  bool m_autoDelete;
  bool m_done = false;
  std::unique_ptr<Vek::WEvent> m_event;
  std::unique_ptr<std::uint8_t[]> m_ownedData;
  State m_state = STATE_UNUSED;
};
