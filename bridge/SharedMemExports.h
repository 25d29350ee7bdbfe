// The two plain functions that read and write the text at the start of the data
// block of this process's channel. In a process whose channel is not open they do
// nothing (GetSharedMem stores an empty text).
#pragma once

extern "C" {
__attribute__((visibility("default"))) void GetSharedMem(char* buffer, int capacity);
__attribute__((visibility("default"))) void SetSharedMem(const char* text);
}
