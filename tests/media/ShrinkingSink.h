#pragma once
// A sink that cuts the file short when the first object arrives, as a user's cleanup or a full
// disk might, for the readers' tests of a file that shrinks while it is read.

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "base/ScopedWin.h"
#include "media/RecordingReader.h"

class ShrinkingSink : public media::ObjectSink {
public:
    ShrinkingSink(const std::string& path, uint64_t size) : path_(path), size_(size) {}

    bool OnObject(const media::MediaObject&) override
    {
        if (!shrunk_) {
            UniqueFileHandle file(::CreateFileA(path_.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
            LARGE_INTEGER at;
            at.QuadPart = static_cast<LONGLONG>(size_);
            shrunk_ = file && ::SetFilePointerEx(file.Get(), at, nullptr, FILE_BEGIN) && ::SetEndOfFile(file.Get());
            EXPECT_TRUE(shrunk_);
        }
        return true;
    }

private:
    const std::string path_;
    const uint64_t size_;
    bool shrunk_ = false;
};
