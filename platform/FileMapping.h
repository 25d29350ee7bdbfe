// Named shared-memory sections with the shape of the Windows file-mapping calls,
// over POSIX shared memory (shm_open). A name "x" is the object "/x".
//
// Lifetime follows Windows: every open handle holds a shared flock on the object,
// and whoever closes last (an exclusive flock then succeeds) unlinks the name, so
// a section lives while any process has it open and a later create starts fresh.
// A view stays valid after its handle is closed, until it is unmapped.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/WinTypes.h"

typedef void* HANDLE;
#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1)))

constexpr DWORD PAGE_READWRITE = 0x04;
constexpr DWORD FILE_MAP_WRITE = 0x0002;
constexpr DWORD FILE_MAP_READ = 0x0004;

constexpr DWORD ERROR_SUCCESS = 0;
constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
constexpr DWORD ERROR_ACCESS_DENIED = 5;
constexpr DWORD ERROR_INVALID_HANDLE = 6;
constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr DWORD ERROR_DISK_FULL = 112;
constexpr DWORD ERROR_INVALID_PARAMETER = 87;
constexpr DWORD ERROR_ALREADY_EXISTS = 183;

// Creates the named section with the given size, its memory reserved at once (a full
// /dev/shm fails with ERROR_DISK_FULL), or opens it when it exists; then
// GetLastError() is ERROR_ALREADY_EXISTS (and the existing size is kept). Only
// paging-file sections (hFile INVALID_HANDLE_VALUE) with PAGE_READWRITE. Null on
// failure, with the reason in GetLastError().
HANDLE CreateFileMappingA(HANDLE hFile, void* lpAttributes, DWORD flProtect,
                          DWORD dwMaximumSizeHigh, DWORD dwMaximumSizeLow, const char* lpName);

// Opens an existing section only; null with ERROR_FILE_NOT_FOUND when there is none.
HANDLE OpenFileMappingA(DWORD dwDesiredAccess, BOOL bInheritHandle, const char* lpName);

// Maps the section from the given offset; 0 bytes maps all of it. The view is the
// object's real size, which may be smaller than the size asked at creation when
// another process made it: MappedViewSize tells how many bytes may be touched.
void* MapViewOfFile(HANDLE hFileMappingObject, DWORD dwDesiredAccess, DWORD dwFileOffsetHigh,
                    DWORD dwFileOffsetLow, size_t dwNumberOfBytesToMap);
BOOL UnmapViewOfFile(const void* lpBaseAddress);

// Bytes of the view that starts at lpBaseAddress; 0 when it is not a view.
size_t MappedViewSize(const void* lpBaseAddress);

// The object's current size, which another process may have changed since it was
// mapped; 0 when the handle is not a section's.
size_t MappingObjectSize(HANDLE hFileMappingObject);

// Grows the object behind the handle to `size` bytes, its memory reserved, and
// never shrinks it. Views keep their size: map again to reach the new bytes.
BOOL GrowMappingObject(HANDLE hFileMappingObject, uint64_t size);

// Closes a section handle (only handles made by the two calls above).
BOOL CloseHandle(HANDLE hObject);

// The calling thread's last error of the calls above.
DWORD GetLastError();
void SetLastError(DWORD dwErrCode);
