#include "support/StopSignals.h"

namespace support {

// The window learns of a logout or shutdown from the system's own messages to it (Qt closes it as
// its user would); there is no descriptor to watch here.
int StopSignalDescriptor()
{
    return -1;
}

} // namespace support
