// OS::FormatSystemError: the message texts of the Windows system error
// codes this program keeps as its last errors and socket errors, worded as
// the system words them.
#include <cstddef>
#include <string>

#include "KernelStandard/OSCalls.h"

namespace OS {
namespace {

constexpr std::size_t kMaximumLength = 512;
constexpr int kMessageNotFound = 317;

struct ErrorText {
  int code;
  const char* text;
};

constexpr ErrorText kErrorTexts[] = {
    {0, "The operation completed successfully."},
    {2, "The system cannot find the file specified."},
    {3, "The system cannot find the path specified."},
    {5, "Access is denied."},
    {6, "The handle is invalid."},
    {8, "Not enough memory resources are available to process this command."},
    {17, "The system cannot move the file to a different disk drive."},
    {29, "The system cannot write to the specified device."},
    {30, "The system cannot read from the specified device."},
    {31, "A device attached to the system is not functioning."},
    {32, "The process cannot access the file because it is being used by another process."},
    {39, "The disk is full."},
    {50, "The request is not supported."},
    {64, "The specified network name is no longer available."},
    {80, "The file exists."},
    {87, "The parameter is incorrect."},
    {112, "There is not enough space on the disk."},
    {120, "This function is not supported on this system."},
    {145, "The directory is not empty."},
    {183, "Cannot create a file when that file already exists."},
    {258, "The wait operation timed out."},
    {288, "Attempt to release mutex not owned by caller."},
    {kMessageNotFound,
     "The system cannot find message text for message number 0x%1 in the message file for %2."},
    {995, "The I/O operation has been aborted because of either a thread exit or an application request."},
    {997, "Overlapped I/O operation is in progress."},
    {10013, "An attempt was made to access a socket in a way forbidden by its access permissions."},
    {10014,
     "The system detected an invalid pointer address in attempting to use a pointer argument in a call."},
    {10022, "An invalid argument was supplied."},
    {10035, "A non-blocking socket operation could not be completed immediately."},
    {10037, "An operation was attempted on a non-blocking socket that already had an operation in progress."},
    {10038, "An operation was attempted on something that is not a socket."},
    {10047, "An address incompatible with the requested protocol was used."},
    {10048, "Only one usage of each socket address (protocol/network address/port) is normally permitted."},
    {10049, "The requested address is not valid in its context."},
    {10050, "A socket operation encountered a dead network."},
    {10051, "A socket operation was attempted to an unreachable network."},
    {10053, "An established connection was aborted by the software in your host machine."},
    {10054, "An existing connection was forcibly closed by the remote host."},
    {10055,
     "An operation on a socket could not be performed because the system lacked sufficient buffer space or "
     "because a queue was full."},
    {10056, "A connect request was made on an already connected socket."},
    {10057,
     "A request to send or receive data was disallowed because the socket is not connected and (when sending "
     "on a datagram socket using a sendto call) no address was supplied."},
    {10058,
     "A request to send or receive data was disallowed because the socket had already been shut down in that "
     "direction with a previous shutdown call."},
    {10060,
     "A connection attempt failed because the connected party did not properly respond after a period of "
     "time, or established connection failed because connected host has failed to respond."},
    {10061, "No connection could be made because the target machine actively refused it."},
    {10065, "A socket operation was attempted to an unreachable host."},
    {10093, "Either the application has not called WSAStartup, or WSAStartup failed."},
};

const char* FindText(int code) {
  for (const ErrorText& entry : kErrorTexts)
    if (entry.code == code) return entry.text;
  return nullptr;
}

}  // namespace

std::string FormatSystemError(int code) {
  const char* text = FindText(code);
  std::string message = text != nullptr ? text : FindText(kMessageNotFound);
  if (message.size() > kMaximumLength) message.resize(kMaximumLength);
  return message;
}

}  // namespace OS
