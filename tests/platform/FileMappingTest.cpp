// Named sections inside one process: the "already exists" answer, the real size,
// and a name that lives exactly as long as a handle or a view holds it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "platform/FileMapping.h"

namespace {

std::string UniqueName(const char* what) {
    return std::string("velomark-filemapping-") + std::to_string(getpid()) + "-" + what;
}

HANDLE Create(const std::string& name, DWORD size) {
    return CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, size, name.c_str());
}

TEST(FileMappingTest, SecondCreateOpensTheExistingSectionWithItsOwnSize) {
    const std::string name = UniqueName("existing");
    HANDLE first = Create(name, 8192);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    auto* a = static_cast<char*>(MapViewOfFile(first, FILE_MAP_WRITE, 0, 0, 0));
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(MappedViewSize(a), 8192u);
    std::strcpy(a, "shared");

    HANDLE second = Create(name, 1 << 20);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    auto* b = static_cast<char*>(MapViewOfFile(second, FILE_MAP_WRITE, 0, 0, 0));
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(MappedViewSize(b), 8192u);  // the object's real size, not the one asked
    EXPECT_STREQ(b, "shared");
    EXPECT_EQ(MapViewOfFile(second, FILE_MAP_WRITE, 0, 0, 16384), nullptr);

    EXPECT_TRUE(UnmapViewOfFile(a));
    EXPECT_TRUE(CloseHandle(first));
    EXPECT_TRUE(UnmapViewOfFile(b));
    EXPECT_TRUE(CloseHandle(second));
    EXPECT_EQ(OpenFileMappingA(FILE_MAP_WRITE, FALSE, name.c_str()), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST(FileMappingTest, AViewKeepsTheSectionAfterItsHandleIsClosed) {
    const std::string name = UniqueName("view");
    HANDLE h = Create(name, 4096);
    ASSERT_NE(h, nullptr);
    auto* view = static_cast<char*>(MapViewOfFile(h, FILE_MAP_WRITE, 0, 0, 0));
    ASSERT_NE(view, nullptr);
    ASSERT_TRUE(CloseHandle(h));
    std::strcpy(view, "still here");

    HANDLE again = OpenFileMappingA(FILE_MAP_WRITE, FALSE, name.c_str());
    ASSERT_NE(again, nullptr);
    auto* other = static_cast<char*>(MapViewOfFile(again, FILE_MAP_READ, 0, 0, 0));
    ASSERT_NE(other, nullptr);
    EXPECT_STREQ(other, "still here");
    UnmapViewOfFile(other);
    CloseHandle(again);
    UnmapViewOfFile(view);

    HANDLE fresh = Create(name, 4096);
    ASSERT_NE(fresh, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    auto* zeroed = static_cast<char*>(MapViewOfFile(fresh, FILE_MAP_WRITE, 0, 0, 0));
    EXPECT_EQ(zeroed[0], 0);
    UnmapViewOfFile(zeroed);
    CloseHandle(fresh);
}

TEST(FileMappingTest, BadArgumentsAndHandlesAreRefused) {
    EXPECT_EQ(CreateFileMappingA(nullptr, nullptr, PAGE_READWRITE, 0, 4096, "x"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(Create("", 4096), nullptr);
    EXPECT_EQ(Create(UniqueName("empty"), 0), nullptr);
    int notAHandle = 0;
    EXPECT_FALSE(CloseHandle(&notAHandle));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(MapViewOfFile(&notAHandle, FILE_MAP_WRITE, 0, 0, 0), nullptr);
    EXPECT_FALSE(UnmapViewOfFile(&notAHandle));
    EXPECT_EQ(MappedViewSize(&notAHandle), 0u);
}

}  // namespace
