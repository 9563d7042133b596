// Media type helpers: deep copies that never share a format block, and partial matching.

#include <windows.h>
#include <dshow.h>

#include <gtest/gtest.h>

#include <cstring>
#include <utility>

#include "filters/MediaType.h"

namespace {

CMediaType WithFormat(const char* bytes)
{
    AM_MEDIA_TYPE type = {};
    type.majortype = MEDIATYPE_Video;
    type.subtype = MEDIASUBTYPE_RGB24;
    type.formattype = FORMAT_VideoInfo;
    type.cbFormat = static_cast<ULONG>(std::strlen(bytes) + 1);
    type.pbFormat = reinterpret_cast<BYTE*>(const_cast<char*>(bytes));
    return CMediaType(type); // copied: the literal is not the holder's
}

TEST(MediaTypeTest, CopiesAreDeepAndMovesTakeOver)
{
    CMediaType original = WithFormat("format block");
    ASSERT_NE(nullptr, original.Get().pbFormat);
    CMediaType copy = original;
    EXPECT_NE(original.Get().pbFormat, copy.Get().pbFormat);
    EXPECT_STREQ("format block", reinterpret_cast<const char*>(copy.Get().pbFormat));
    EXPECT_EQ(original.Get().cbFormat, copy.Get().cbFormat);

    copy = copy; // no self-inflicted free
    EXPECT_STREQ("format block", reinterpret_cast<const char*>(copy.Get().pbFormat));

    const BYTE* block = copy.Get().pbFormat;
    CMediaType moved = std::move(copy);
    EXPECT_EQ(block, moved.Get().pbFormat);
    EXPECT_TRUE(copy.IsEmpty());
    EXPECT_EQ(nullptr, copy.Get().pbFormat);

    AM_MEDIA_TYPE* handedOut = CreateMediaTypeCopy(moved.Get());
    ASSERT_NE(nullptr, handedOut);
    EXPECT_NE(moved.Get().pbFormat, handedOut->pbFormat);
    EXPECT_EQ(MEDIASUBTYPE_RGB24, handedOut->subtype);
    DeleteMediaType(handedOut);

    moved.Clear();
    EXPECT_TRUE(moved.IsEmpty());
    EXPECT_EQ(0u, moved.Get().cbFormat);
}

TEST(MediaTypeTest, PartialTypesMatchOnWhatTheyGive)
{
    const CMediaType full = WithFormat("x");
    AM_MEDIA_TYPE pattern = {};
    EXPECT_TRUE(MediaTypeMatches(pattern, full.Get()));
    EXPECT_FALSE(IsFullySpecified(pattern));
    pattern.majortype = MEDIATYPE_Video;
    EXPECT_TRUE(MediaTypeMatches(pattern, full.Get()));
    pattern.subtype = MEDIASUBTYPE_RGB32;
    EXPECT_FALSE(MediaTypeMatches(pattern, full.Get()));
    pattern.subtype = MEDIASUBTYPE_RGB24;
    pattern.formattype = FORMAT_WaveFormatEx;
    EXPECT_FALSE(MediaTypeMatches(pattern, full.Get()));
    pattern.formattype = FORMAT_VideoInfo;
    EXPECT_TRUE(MediaTypeMatches(pattern, full.Get()));
    EXPECT_TRUE(IsFullySpecified(pattern));
    pattern.majortype = MEDIATYPE_Audio;
    EXPECT_FALSE(MediaTypeMatches(pattern, full.Get()));
}

} // namespace
