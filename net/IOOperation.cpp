#include "net/IOOperation.h"

#include "KernelStandard/Assert.h"

namespace {

struct Transition {
  IOOperation::State to;
  IOOperation::State from[2];
  const char* text;
};

// The assertion texts name the legal predecessors.
constexpr Transition kTransitions[] = {
    {IOOperation::STATE_POSTED,
     {IOOperation::STATE_UNUSED, IOOperation::STATE_CAUGHT},
     "IsInState(STATE_UNUSED) || IsInState(STATE_CAUGHT)"},
    {IOOperation::STATE_FAILEDPOST,
     {IOOperation::STATE_POSTED, IOOperation::STATE_POSTED},
     "IsInState(STATE_POSTED)"},
    {IOOperation::STATE_CAUGHT,
     {IOOperation::STATE_POSTED, IOOperation::STATE_POSTED},
     "IsInState(STATE_POSTED)"},
    {IOOperation::STATE_SIGNALLED,
     {IOOperation::STATE_CAUGHT, IOOperation::STATE_FAILEDPOST},
     "IsInState(STATE_CAUGHT) || IsInState(STATE_FAILEDPOST)"},
    {IOOperation::STATE_COMPLETE,
     {IOOperation::STATE_UNUSED, IOOperation::STATE_SIGNALLED},
     "IsInState(STATE_UNUSED) || IsInState(STATE_SIGNALLED)"},
    {IOOperation::STATE_DESTROYED,
     {IOOperation::STATE_COMPLETE, IOOperation::STATE_UNUSED},
     "IsInState(STATE_COMPLETE) || IsInState(STATE_UNUSED)"},
};

}  // namespace

IOOperation::IOOperation(bool autoDelete)
    : m_autoDelete(autoDelete), m_event(std::make_unique<Vek::WEvent>(true, false)) {}

IOOperation::~IOOperation() {
  SetState(STATE_DESTROYED);
}

void IOOperation::SetState(State state) {
  for (const Transition& transition : kTransitions) {
    if (transition.to != state) continue;
    Vek::Assert(m_state == transition.from[0] || m_state == transition.from[1], transition.text);
    m_state = state;
    return;
  }
  Vek::Assert(state == STATE_UNUSED && m_state == STATE_UNUSED, "IsInState(STATE_UNUSED)");
}

void IOOperation::Signal() {
  SetState(m_event ? STATE_SIGNALLED : STATE_COMPLETE);
  m_done = true;
  if (m_callback && m_handler != nullptr) m_callback(*m_handler, *this);
  if (m_autoDelete) {
    // Nobody waits for a record that deletes itself; it is complete as soon
    // as it is signalled.
    if (IsInState(STATE_SIGNALLED)) SetState(STATE_COMPLETE);
    delete this;
    return;
  }
  if (m_event) m_event->Set();
}

void IOOperation::Wait() {
  if (m_event) m_event->Lock(OS::INFINITE_WAIT);
  SetState(STATE_COMPLETE);
}

void IOOperation::SetData(void* data, std::uint32_t length) {
  m_data = static_cast<std::uint8_t*>(data);
  m_requestedLength = length;
  m_bytesSoFar = 0;
}

void IOOperation::TakeData(std::unique_ptr<std::uint8_t[]> block, std::uint32_t length) {
  m_ownedData = std::move(block);
  SetData(m_ownedData.get(), length);
}

const char* IOOperation::KindName(std::int32_t kind) {
  static const char* const kNames[] = {
      "IO_TCP_Invalid",         "IO_TCP_StartConnect", "IO_TCP_Connect",
      "IO_TCP_StartAccept",     "IO_TCP_Accept",       "IO_TCP_Read",
      "IO_TCP_Write",           "IO_TCP_StartRead",    "IO_TCP_StartWrite",
      "IO_TCP_StartDisconnect", "IO_TCP_Disconnect",
  };
  if (kind < 0 || kind > IO_TCP_Disconnect) return "IO_UNKNOWN";
  return kNames[kind];
}
