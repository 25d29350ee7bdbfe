// Image-sized blocks (a page of 2400 x 2200 pixels is 16 MB) come and go with every
// acquired image. By default the C library returns such blocks to the system on
// free, and the next image pays a page fault for each fresh page, which costs more
// than copying the image. Keeping them in the heap makes the next image reuse them.
#pragma once

// Call once at program start, before the first image.
void KeepImageMemoryWarm();

// Returns the heap's free pages to the system: the blocks kept warm (and any freed
// page sitting between live blocks) would otherwise stay resident after the images
// that used them are gone for good, as when a person closes their pages.
void ReleaseFreeImageMemory();
