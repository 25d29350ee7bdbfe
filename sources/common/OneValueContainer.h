// Capability values in one-value containers: reading the application's container
// within its block, and answering with a new one.
#pragma once

#include <cstddef>
#include <vector>

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

// The same with a TWON_ENUMERATION of `items` (each as a one-value Item holds it, of
// a type of 1, 2 or 4 bytes), `current` and `fallback` being indexes into them.
TW_UINT16 ReplyEnumeration(TW_CAPABILITY* cap, TW_UINT16 itemType,
                           const std::vector<TW_UINT32>& items, size_t current, size_t fallback,
                           TW_UINT16* condition);

// The same with a TWON_RANGE.
TW_UINT16 ReplyRange(TW_CAPABILITY* cap, TW_UINT16 itemType, TW_UINT32 min, TW_UINT32 max,
                     TW_UINT32 step, TW_UINT32 fallback, TW_UINT32 current, TW_UINT16* condition);
