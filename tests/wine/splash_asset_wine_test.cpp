// The sample splash picture (tools/sample-game/make_splash.py) as GDI+ delivers it: 32bppARGB, so the
// launcher blends it per pixel, with a transparent border, an opaque picture and rows the right way up.
// tests/support/run_with_servers.sh generates the file.
#include "tests/support/test_env.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

namespace {

// The few GDI+ flat functions needed, looked up by name: the SDK headers want their C++ wrapper.
struct GdiplusStartupInput
{
    UINT32 version = 1;
    void* debugCallback = nullptr;
    BOOL suppressBackgroundThread = FALSE;
    BOOL suppressExternalCodecs = FALSE;
};
struct BitmapData
{
    UINT width;
    UINT height;
    INT stride;
    INT format;
    void* scan0;
    UINT_PTR reserved;
};
struct GpRect
{
    INT x, y, width, height;
};
using Startup = int(WINAPI*)(ULONG_PTR*, const GdiplusStartupInput*, void*);
using Shutdown = void(WINAPI*)(ULONG_PTR);
using CreateFromFile = int(WINAPI*)(const WCHAR*, void**);
using GetPixelFormat = int(WINAPI*)(void*, INT*);
using GetSize = int(WINAPI*)(void*, UINT*);
using LockBits = int(WINAPI*)(void*, const GpRect*, UINT, INT, BitmapData*);
using UnlockBits = int(WINAPI*)(void*, BitmapData*);
using Dispose = int(WINAPI*)(void*);

constexpr INT kPixelFormat32bppARGB = 0x26200A;
constexpr UINT kImageLockModeRead = 1;

template <typename Fn> Fn Lookup(HMODULE module, const char* name)
{
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

TEST(SplashAsset, GdiplusDeliversTheAlphaBytes)
{
    std::string file = kr::test::Env("KR_TEST_SPLASH_BMP");
    if (file.empty())
        GTEST_SKIP() << "KR_TEST_SPLASH_BMP not set (tests/support/run_with_servers.sh sets it)";
    std::wstring path = L"Z:";
    for (char c : file)
        path += static_cast<wchar_t>(c == '/' ? '\\' : c);

    HMODULE gdiplus = LoadLibraryA("gdiplus.dll");
    ASSERT_NE(gdiplus, nullptr);
    auto startup = Lookup<Startup>(gdiplus, "GdiplusStartup");
    auto shutdown = Lookup<Shutdown>(gdiplus, "GdiplusShutdown");
    auto create = Lookup<CreateFromFile>(gdiplus, "GdipCreateBitmapFromFile");
    auto format = Lookup<GetPixelFormat>(gdiplus, "GdipGetImagePixelFormat");
    auto width = Lookup<GetSize>(gdiplus, "GdipGetImageWidth");
    auto height = Lookup<GetSize>(gdiplus, "GdipGetImageHeight");
    auto lock = Lookup<LockBits>(gdiplus, "GdipBitmapLockBits");
    auto unlock = Lookup<UnlockBits>(gdiplus, "GdipBitmapUnlockBits");
    auto dispose = Lookup<Dispose>(gdiplus, "GdipDisposeImage");
    ASSERT_TRUE(startup && shutdown && create && format && width && height && lock && unlock && dispose);

    ULONG_PTR token = 0;
    GdiplusStartupInput input;
    ASSERT_EQ(startup(&token, &input, nullptr), 0);
    void* bitmap = nullptr;
    ASSERT_EQ(create(path.c_str(), &bitmap), 0);
    INT pixelFormat = 0;
    UINT w = 0, h = 0;
    EXPECT_EQ(format(bitmap, &pixelFormat), 0);
    EXPECT_EQ(pixelFormat, kPixelFormat32bppARGB);
    EXPECT_EQ(width(bitmap, &w), 0);
    EXPECT_EQ(height(bitmap, &h), 0);
    ASSERT_GT(w, 200u);
    ASSERT_GT(h, 200u);

    // Locked in the format it was read in, as the splash loader copies it; B, G, R, A per pixel.
    GpRect all{0, 0, static_cast<INT>(w), static_cast<INT>(h)};
    BitmapData data{};
    ASSERT_EQ(lock(bitmap, &all, kImageLockModeRead, pixelFormat, &data), 0);
    auto at = [&](UINT x, UINT y)
    { return static_cast<const unsigned char*>(data.scan0) + static_cast<INT>(y) * data.stride + x * 4; };
    EXPECT_EQ(at(1, 1)[3], 0);
    EXPECT_EQ(at(w - 2, h - 2)[3], 0);
    EXPECT_EQ(at(w / 2, h / 2)[3], 255);
    // Rows the right way up: the panel's green grows from its top to its bottom.
    const unsigned char* top = at(w / 2, 40);
    const unsigned char* bottom = at(60, h - 60);
    EXPECT_EQ(top[3], 255);
    EXPECT_EQ(bottom[3], 255);
    EXPECT_LT(top[1] + 40, bottom[1]);
    EXPECT_EQ(unlock(bitmap, &data), 0);
    dispose(bitmap);
    shutdown(token);
    FreeLibrary(gdiplus);
}

} // namespace
