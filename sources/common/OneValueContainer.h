// Capability values in one-value containers: reading the application's container
// within its block, and answering with a new one.
#pragma once

#include "twain/TwainTypes.h"

// The application's TWON_ONEVALUE container, read only within its block; false for
// another container type or a block too short.
bool ReadOneValue(const TW_CAPABILITY& cap, TW_ONEVALUE* value);

// A 16-bit item is the low half of Item, whichever of the two 16-bit types it is
// sent as; false for any other type.
bool SixteenBitItem(const TW_ONEVALUE& value, TW_INT16* item);

// Puts a new TWON_ONEVALUE container with the item into cap (the application frees
// it); TWCC_LOWMEMORY when no block can be had.
TW_UINT16 ReplyOneValue(TW_CAPABILITY* cap, TW_UINT16 itemType, TW_UINT32 item,
                        TW_UINT16* condition);
