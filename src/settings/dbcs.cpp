// Double-byte text handling; see dbcs.h.
#include "settings/dbcs.h"

BYTE gLeadByteTable[kLeadByteTableCapacity];
