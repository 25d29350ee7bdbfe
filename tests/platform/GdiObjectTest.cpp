// Graphics object wrappers: ownership, and the per-thread temporary wrappers.
#include <gtest/gtest.h>

#include <thread>

#include "platform/Bitmap.h"
#include "platform/GdiObject.h"

namespace {

HBITMAP NewBitmap() {
    const BITMAP desc{0, 2, 2, 8, 1, 32, nullptr};
    return CreateBitmapIndirect(&desc);
}

class GdiObjectTest : public ::testing::Test {
protected:
    void TearDown() override {
        CGdiObject::DeleteTempMap();
        EXPECT_EQ(GdiLiveObjectCount(), m_baseline);
    }
    size_t m_baseline = GdiLiveObjectCount();
};

TEST_F(GdiObjectTest, WrapperOwnsWhatItHolds) {
    HBITMAP first = NewBitmap(), second = NewBitmap();
    {
        CGdiObject object;
        EXPECT_FALSE(object.Attach(nullptr));
        EXPECT_TRUE(object.Attach(first));
        EXPECT_FALSE(object.Attach(second));  // already holds one
        EXPECT_EQ(object.GetSafeHandle(), first);
        EXPECT_EQ(object.Detach(), first);
        EXPECT_EQ(object.GetSafeHandle(), nullptr);
        EXPECT_FALSE(object.DeleteObject());
        EXPECT_TRUE(object.Attach(second));
    }  // deletes second
    EXPECT_EQ(GetObjectA(second, 0, nullptr), 0);
    EXPECT_EQ(GetObjectA(first, 0, nullptr), int(sizeof(BITMAP)));
    EXPECT_TRUE(DeleteObject(first));

    CBitmap bitmap;
    const BITMAP desc{0, 1, 1, 4, 1, 32, nullptr};
    EXPECT_TRUE(bitmap.CreateBitmapIndirect(&desc));
    EXPECT_FALSE(bitmap.CreateBitmapIndirect(&desc));  // the second one is not kept
    EXPECT_EQ(GdiLiveObjectCount(), m_baseline + 1);
    EXPECT_TRUE(bitmap.DeleteObject());
    EXPECT_EQ(bitmap.GetHandle(), nullptr);
}

TEST_F(GdiObjectTest, TemporaryWrappersDoNotOwn) {
    HBITMAP h = NewBitmap();
    EXPECT_EQ(CGdiObject::FromHandle(nullptr), nullptr);
    CGdiObject* object = CGdiObject::FromHandle(h);
    ASSERT_NE(object, nullptr);
    EXPECT_EQ(object->GetSafeHandle(), h);
    EXPECT_EQ(CGdiObject::FromHandle(h), object);
    CGdiObject::DeleteTempMap();
    EXPECT_EQ(GetObjectA(h, 0, nullptr), int(sizeof(BITMAP)));

    CBitmap* bitmap = CBitmap::FromHandle(h);
    ASSERT_NE(bitmap, nullptr);
    EXPECT_EQ(bitmap->GetHandle(), h);
    EXPECT_EQ(CBitmap::FromHandle(h), bitmap);
    EXPECT_EQ(CGdiObject::FromHandle(h), bitmap);
    EXPECT_TRUE(DeleteObject(h));
}

TEST_F(GdiObjectTest, TemporaryWrapperLivesUntilTheMapIsCleared) {
    HBITMAP h = NewBitmap();
    CGdiObject* general = CGdiObject::FromHandle(h);
    CBitmap* bitmap = CBitmap::FromHandle(h);
    ASSERT_NE(bitmap, nullptr);
    EXPECT_EQ(bitmap->GetHandle(), h);
    // Asking for the same handle as a bitmap must not free the earlier wrapper.
    EXPECT_EQ(general->GetSafeHandle(), h);
    CGdiObject::DeleteTempMap();
    EXPECT_TRUE(DeleteObject(h));
}

TEST_F(GdiObjectTest, DeletingThroughTemporaryWrapper) {
    HBITMAP h = NewBitmap();
    CGdiObject* object = CGdiObject::FromHandle(h);
    EXPECT_TRUE(object->DeleteObject());
    EXPECT_EQ(GdiLiveObjectCount(), m_baseline);
    // A new bitmap, wherever it lands, gets a wrapper that names it.
    HBITMAP again = NewBitmap();
    EXPECT_EQ(CBitmap::FromHandle(again)->GetHandle(), again);
    EXPECT_TRUE(DeleteObject(again));
}

TEST_F(GdiObjectTest, TemporaryWrappersBelongToTheirThread) {
    HBITMAP h = NewBitmap();
    CGdiObject* mine = CGdiObject::FromHandle(h);
    CGdiObject* theirs = nullptr;
    std::thread([&] { theirs = CGdiObject::FromHandle(h); }).join();
    EXPECT_NE(theirs, mine);
    // The other thread's wrappers went with it; the bitmap did not.
    EXPECT_EQ(GetObjectA(h, 0, nullptr), int(sizeof(BITMAP)));
    EXPECT_EQ(mine->GetSafeHandle(), h);
    EXPECT_TRUE(DeleteObject(h));
}

}  // namespace
