#include "KernelStandard/WEvent.h"

namespace Vek {
namespace {

OS::EventObject* EventOf(const OS::Handle& handle) {
  return OS::As<OS::EventObject>(handle);
}

}  // namespace

WEvent::WEvent(bool manualReset, bool initiallySignalled, const char* name)
    : SyncObject(OS::CreateEventObject(manualReset, initiallySignalled, name != nullptr ? name : "")) {}

bool WEvent::Set() {
  OS::EventObject* event = EventOf(m_handle);
  return event != nullptr && event->Set();
}

bool WEvent::Pulse() {
  OS::EventObject* event = EventOf(m_handle);
  return event != nullptr && event->Pulse();
}

bool WEvent::Reset() {
  OS::EventObject* event = EventOf(m_handle);
  return event != nullptr && event->Reset();
}

}  // namespace Vek
