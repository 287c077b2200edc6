// DecompressXzFile through the platform's file calls: a stream inside a
// larger file, progress, cancellation, and damaged or cut streams.

#include <gtest/gtest.h>

#include <cstdio>

#include "XzTestSupport.h"
#include "platform/Platform.h"

namespace {

using namespace xztest;
using xz::XzFileResult;

class XzFile : public testing::Test {
protected:
    void SetUp() override {
        const std::string base = testing::TempDir() + "kx_xzfile_" + std::to_string(::getpid()) + "_";
        inPath_ = base + "in";
        outPath_ = base + "out";
    }
    void TearDown() override {
        platform::RemoveFile(inPath_.c_str());
        platform::RemoveFile(outPath_.c_str());
    }

    // Writes junk + stream + junk and decompresses the stream's bytes.
    XzFileResult Run(const Bytes& stream, const xz::XzProgress& progress, Bytes* out, int64_t lengthChange = 0) {
        Bytes file(1000, 0xAA);
        file.insert(file.end(), stream.begin(), stream.end());
        file.insert(file.end(), 77, 0x55);
        {
            platform::UniqueFile writing(platform::CreateFileForWriting(inPath_.c_str(), platform::kAttributeNormal));
            EXPECT_TRUE(writing.IsOpen());
            EXPECT_TRUE(platform::WriteToFile(writing.Get(), file.data(), static_cast<uint32_t>(file.size())));
        }
        platform::UniqueFile in(platform::OpenFileForReading(inPath_.c_str()));
        platform::UniqueFile target(platform::CreateFileForWriting(outPath_.c_str(), platform::kAttributeNormal));
        int64_t written = -1;
        const XzFileResult result =
            xz::DecompressXzFile(in.Get(), 1000, static_cast<int64_t>(stream.size()) + lengthChange, target.Get(),
                                 xz::kMaxSolidDictionary, progress, &written);
        target.Reset();
        out->clear();
        std::FILE* f = std::fopen(outPath_.c_str(), "rb");
        if (f != nullptr) {
            for (int c; (c = std::fgetc(f)) != EOF;) out->push_back(static_cast<uint8_t>(c));
            std::fclose(f);
        }
        EXPECT_EQ(static_cast<int64_t>(out->size()), written);
        return result;
    }

    std::string inPath_, outPath_;
};

struct Calls {
    std::vector<int64_t> reports;
    size_t cancelAfter = SIZE_MAX;  // reports
};

void OnReport(void* context, int64_t consumed) { static_cast<Calls*>(context)->reports.push_back(consumed); }
bool OnCancel(void* context) {
    const Calls* calls = static_cast<Calls*>(context);
    return calls->reports.size() >= calls->cancelAfter;
}

TEST_F(XzFile, DecompressesAStreamWithinAFileAndReportsItsInput) {
    const Bytes data = RandomBytes(1500000, 31);  // stored chunks: over a megabyte of input
    XzOptions options;
    options.x86 = true;
    const Bytes stream = Compress(data, options);
    Calls calls;
    const xz::XzProgress progress{OnReport, OnCancel, &calls};
    Bytes out;
    ASSERT_EQ(XzFileResult::ok, Run(stream, progress, &out));
    EXPECT_TRUE(data == out);
    ASSERT_GE(calls.reports.size(), 5u);  // every 256 KiB
    for (size_t i = 1; i < calls.reports.size(); ++i) EXPECT_LT(calls.reports[i - 1], calls.reports[i]);
    EXPECT_EQ(static_cast<int64_t>(stream.size()), calls.reports.back());
    // No progress calls at all is fine too.
    ASSERT_EQ(XzFileResult::ok, Run(stream, {}, &out));
    EXPECT_TRUE(data == out);
}

TEST_F(XzFile, CancelStopsMidway) {
    const Bytes data = RandomBytes(1500000, 32);
    const Bytes stream = Compress(data, {});
    Calls calls;
    calls.cancelAfter = 2;
    Bytes out;
    EXPECT_EQ(XzFileResult::cancelled, Run(stream, {OnReport, OnCancel, &calls}, &out));
    EXPECT_EQ(2u, calls.reports.size());
    EXPECT_LT(out.size(), data.size());
}

TEST_F(XzFile, DamagedCutAndOverlongStreamsAreDamaged) {
    const Bytes data = MixedData(400000, 33);
    const Bytes stream = Compress(data, {});
    Bytes out;
    Bytes flipped = stream;
    flipped[flipped.size() / 2] ^= 0x10;
    EXPECT_EQ(XzFileResult::damaged, Run(flipped, {}, &out));
    EXPECT_EQ(XzFileResult::damaged, Run(stream, {}, &out, -1));  // the footer's last byte missing
    EXPECT_EQ(XzFileResult::damaged, Run(stream, {}, &out, -static_cast<int64_t>(stream.size()) / 2));
    EXPECT_EQ(XzFileResult::damaged, Run(stream, {}, &out, 1));  // a byte after the footer
    EXPECT_EQ(XzFileResult::damaged, Run({}, {}, &out));         // nothing at all
    XzOptions big;
    big.dictionary = 64u << 20;
    big.preset = 9;
    Bytes stream64 = Compress(data, big);
    ASSERT_EQ(XzFileResult::ok, Run(stream64, {}, &out));
    EXPECT_TRUE(data == out);
}

TEST_F(XzFile, ReadPastTheFileFails) {
    const Bytes stream = Compress(MixedData(1000, 34), {});
    Bytes out;
    EXPECT_EQ(XzFileResult::readFailed, Run(stream, {}, &out, 1000));
}

}  // namespace
