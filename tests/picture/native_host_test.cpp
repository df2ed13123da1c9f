// Loads the built plug-in library the way a host loads a plug-in and drives
// it only through its exports; the handles it gets back are sized, read and
// freed through the same platform functions the plug-in used.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "picture_calls.h"
#include "platform_testing.h"

namespace {

class NativeHost : public ::testing::Test {
protected:
    void SetUp() override {
        module_ = dlopen(ZORV_MODULE_FILE, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(module_, nullptr) << dlerror();
        getPluginInfo_ = Find<decltype(&GetPluginInfo)>("GetPluginInfo");
        isSupported_ = Find<decltype(&IsSupported)>("IsSupported");
        getPictureInfo_ = Find<decltype(&GetPictureInfo)>("GetPictureInfo");
        getPicture_ = Find<decltype(&GetPicture)>("GetPicture");
    }
    void TearDown() override {
        if (module_) {
            EXPECT_EQ(dlclose(module_), 0);
        }
    }
    template <class Fn>
    Fn Find(const char* name) {
        void* symbol = dlsym(module_, name);
        EXPECT_NE(symbol, nullptr) << name;
        // The test program has its own copy of the exports: make sure these are the module's.
        EXPECT_NE(symbol, reinterpret_cast<void*>(&GetPluginInfo));
        return reinterpret_cast<Fn>(symbol);
    }

    void* module_ = nullptr;
    decltype(&GetPluginInfo) getPluginInfo_ = nullptr;
    decltype(&IsSupported) isSupported_ = nullptr;
    decltype(&GetPictureInfo) getPictureInfo_ = nullptr;
    decltype(&GetPicture) getPicture_ = nullptr;
};

TEST_F(NativeHost, OpensAPictureThroughTheLoadedModule) {
    const platform_testing::LiveCounts before = platform_testing::Live();
    char text[64];
    ASSERT_EQ(getPluginInfo_(0, text, sizeof text), 4);
    EXPECT_STREQ(text, "00IN");
    ASSERT_EQ(getPluginInfo_(2, text, sizeof text), 5);
    EXPECT_STREQ(text, "*.bmp");

    bitmap_builder::Bitmap bitmap = bitmap_builder::BuildBitmap({13, -9, 8, 0, 40});
    std::vector<uint8_t> packed = bitmap_builder::PackBitmap(bitmap.file);
    bitmap_builder::TempFile file(packed);
    EXPECT_EQ(isSupported_(file.path(), 0), 1);
    EXPECT_EQ(isSupported_("", reinterpret_cast<uintptr_t>(packed.data())), 1);

    struct {
        const char* source;
        int32_t length;
        uint32_t flags;
    } inputs[] = {{file.path(), 0, 0},
                  {reinterpret_cast<const char*>(packed.data()),
                   static_cast<int32_t>(packed.size()), SourceInMemory}};
    for (const auto& input : inputs) {
        SCOPED_TRACE(input.flags);
        PictureInfoRecord record;
        ASSERT_EQ(getPictureInfo_(input.source, input.length, input.flags, &record), Ok);
        EXPECT_TRUE(SameRecord(record, ExpectedRecord(13, 9, 8)));
        HGLOBAL info = nullptr, bits = nullptr;
        ASSERT_EQ(getPicture_(input.source, input.length, input.flags, &info, &bits, nullptr, 0), Ok);
        EXPECT_EQ(TakeHandle(info), bitmap.infoPart);
        EXPECT_EQ(TakeHandle(bits), bitmap.bits);
    }

    HGLOBAL info = SlotSentinel(), bits = SlotSentinel();
    EXPECT_EQ(getPicture_(bitmap_builder::MissingPath().c_str(), 0, 0, &info, &bits, nullptr, 0),
              UnsupportedFormat);
    EXPECT_EQ(info, SlotSentinel());
    EXPECT_EQ(bits, SlotSentinel());
    EXPECT_EQ(platform_testing::Live(), before);
}

}  // namespace
