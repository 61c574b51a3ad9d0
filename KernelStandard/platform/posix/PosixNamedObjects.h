// POSIX backend: named mutexes and named shared memory (private to the layer).
//
// Both live in POSIX shared memory objects (shm_open). A mutex is a
// process-shared, robust, recursive pthread mutex in a small object of its
// own, so a process that dies holding it does not block the others.
//
// Windows named objects vanish when their last handle closes; POSIX shared
// memory stays until it is unlinked. Every open handle therefore keeps a
// shared flock on its object's descriptor. Closing a handle tries to turn
// that into an exclusive lock without waiting: when that works, nobody else
// holds the object and it is unlinked. An object found on opening whose
// exclusive lock can be taken has no living holder (they were killed): it
// is stale and is replaced by a new one, reported as not existing before.
// Creating, opening and closing run under one exclusive flock on the object
// "/korvel-named-objects.lock", so they never race each other.
//
// Object names: "/korvel-mutex-" or "/korvel-shm-", then the name with every
// byte outside [A-Za-z0-9._-] written as '%' and two upper-case hexadecimal
// digits. A result longer than NAME_MAX (255) keeps its first 222 bytes and
// ends with '~' and the MD5 of the full name in hexadecimal.
#pragma once

#include <string>

namespace OS {

enum class NamedObjectKind { Mutex, SharedMemory };

std::string PosixObjectName(NamedObjectKind kind, const std::string& name);

}  // namespace OS
