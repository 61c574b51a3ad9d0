// The only definition in this object: programs built with other keys
// compile this file themselves with their own KORVEL_PUBLISHER_KEYS.
#include "patch/signing/PublisherKeys.h"

#ifndef KORVEL_PUBLISHER_KEYS
#define KORVEL_PUBLISHER_KEYS ""
#endif

namespace NolkSign {

const char* BuiltInPublisherKeyText() {
  return KORVEL_PUBLISHER_KEYS;
}

}  // namespace NolkSign
