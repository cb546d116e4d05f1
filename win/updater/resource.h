#pragma once
// Resource numbers of Monoflash that its code refers to.
#define IDS_PAYLOAD_ERROR 401
