// Icons and cursors made by icotool, every page compared with Pillow's
// decode of the same entry; the largest entry as probe size and preview;
// damaged directories fail quietly.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "icontest.h"
#include "picts/pictico.h"

using picttest::Bytes;

namespace {

class IcoFiles : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new qortest::TempDir;
        index_ = new std::vector<icontest::sPage>(icontest::generate("ico", dir_->path()));
    }
    static void TearDownTestSuite() {
        delete index_;
        delete dir_;
    }
    static Bytes file(const std::string& name) { return picttest::readBytes(dir_->file(name)); }
    static qortest::TempDir* dir_;
    static std::vector<icontest::sPage>* index_;
};
qortest::TempDir* IcoFiles::dir_ = nullptr;
std::vector<icontest::sPage>* IcoFiles::index_ = nullptr;

void putLe16(Bytes& b, std::size_t at, unsigned v) { picttest::putLe(b, at, v, 2); }
void putLe32(Bytes& b, std::size_t at, unsigned long v) { picttest::putLe(b, at, v, 4); }

}  // namespace

TEST_F(IcoFiles, EveryPageDecodesLikePillowAndTheProbeReportsTheLargest) {
    icontest::everyPageLikeReference<cPictICO>(dir_->path(), *index_);
}

TEST_F(IcoFiles, PreviewIsTheLargestEntryWithinTheLimits) {
    const Bytes b = file("ico_big.ico");
    struct {
        long long w, h;
        int page;  // -1: none fits
    } cases[] = {{48, 48, 2}, {47, 300, 1}, {300, 300, 3}, {16, 16, 0}, {15, 100, -1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h));
        cBufWrapperIO io(const_cast<unsigned char*>(b.data()), static_cast<long long>(b.size()), false);
        cPictICO ico;
        cPictDummy out;
        const bool ok = ico.getPreview(&io, out, &c.w, &c.h);
        ASSERT_EQ(ok, c.page >= 0);
        if (ok) {
            EXPECT_TRUE(picttest::samePixels(
                out, picttest::readReference(dir_->file("ico_big_" + std::to_string(c.page) + ".ref"))));
        }
    }
    // Without limits the largest entry of all.
    cBufWrapperIO io(const_cast<unsigned char*>(b.data()), static_cast<long long>(b.size()), false);
    cPictICO ico;
    cPictDummy out;
    ASSERT_TRUE(ico.getPreview(&io, out, nullptr, nullptr));
    EXPECT_EQ(out.width(), 256);
}

TEST_F(IcoFiles, PagePreviewIsScaledIntoTheBox) {
    const Bytes b = file("ico_depths.ico");
    cBufWrapperIO io(const_cast<unsigned char*>(b.data()), static_cast<long long>(b.size()), false);
    cPictICO ico;
    cPictDummy out;
    EXPECT_FALSE(ico.decodePagePreview(&io, out, 24, 24, 4, false, 0));
    ASSERT_TRUE(ico.decodePagePreview(&io, out, 24, 24, 4, true, 0));
    EXPECT_EQ(out.width(), 24);
    EXPECT_EQ(out.height(), 24);
    ASSERT_TRUE(ico.decodePagePreview(&io, out, 100, 100, 3, true, 0));
    EXPECT_TRUE(picttest::samePixels(out, picttest::readReference(dir_->file("ico_depths_3.ref"))));
}

TEST_F(IcoFiles, RenderTargetsGetWhatThePlainDecodeGives) {
    for (const char* name : {"ico_depths.ico", "ico_png.ico", "cur_hotspot.cur"})
        picttest::expectTargetsMatchPlainDecode<cPictICO>(file(name), name);
}

TEST_F(IcoFiles, HeaderAndDirectoryFaultsAreRefused) {
    const Bytes good = file("ico_png.ico");
    EXPECT_TRUE(adaptertest::probes<cPictICO>(good));
    auto refused = [&](const char* what, const std::function<void(Bytes&)>& edit) {
        SCOPED_TRACE(what);
        Bytes b = good;
        edit(b);
        EXPECT_FALSE(adaptertest::probes<cPictICO>(b));
    };
    refused("type 3", [](Bytes& b) { putLe16(b, 2, 3); });
    refused("reserved word", [](Bytes& b) { putLe16(b, 0, 1); });
    refused("no entries", [](Bytes& b) { putLe16(b, 4, 0); });
    refused("more entries than the file holds", [](Bytes& b) { putLe16(b, 4, 60000); });
    refused("offset past the end", [](Bytes& b) { putLe32(b, 6 + 16 + 12, 0xFFFFFFF0u); });
    refused("entry neither PNG nor DIB", [](Bytes& b) { putLe32(b, 6 + 12, 6); });
    // A size that wraps past the end is clipped to the file, not trusted.
    Bytes wrap = good;
    putLe32(wrap, 6 + 8, 0xFFFFFFFFu);
    cPictICO pict;
    if (adaptertest::decodes<cPictICO>(wrap, &pict)) {
        EXPECT_EQ(pict.width(), 16);
    }
    // An entry claiming a giant bitmap is refused before allocating.
    Bytes giant = file("ico_depths.ico");
    const std::size_t at = giant[18] | giant[19] << 8 | giant[20] << 16;
    putLe32(giant, at + 4, 60000);
    putLe32(giant, at + 8, 120000);
    EXPECT_FALSE(adaptertest::decodes<cPictICO>(giant));
}

TEST_F(IcoFiles, DamagedFilesFailQuietly) {
    adaptertest::damagedFormsFail<cPictICO>(file("ico_depths.ico"), 16, 16);
    adaptertest::damagedFormsFail<cPictICO>(file("ico_png.ico"), 16, 16);
}

TEST(IcoMalformed, SavedInputsReplayWithoutHarm) { adaptertest::replayMalformed<cPictICO>("ico", {}); }

// The one icon-image decoder: an entry's bytes on their own (as an
// executable's icon resource holds them) measure and decode as the entry.
TEST_F(IcoFiles, IconImagesMeasureAndDecodeAsTheirEntries) {
    int seen = 0;
    for (const char* name : {"ico_depths.ico", "ico_png.ico"}) {
        const Bytes b = file(name);
        const unsigned count = b[4] | b[5] << 8;
        for (unsigned i = 0; i < count; ++i) {
            SCOPED_TRACE(std::string(name) + " entry " + std::to_string(i));
            const std::size_t e = 6 + 16 * i;
            const std::size_t size = b[e + 8] | b[e + 9] << 8 | b[e + 10] << 16;
            const std::size_t at = b[e + 12] | b[e + 13] << 8 | b[e + 14] << 16;
            ASSERT_LE(at + size, b.size());
            Bytes image(b.begin() + static_cast<long>(at), b.begin() + static_cast<long>(at + size));
            cBufWrapperIO io(image.data(), static_cast<long long>(image.size()), false);
            long long w = 0, h = 0;
            bool png = false;
            ASSERT_TRUE(cPictICO::measureIconImage(&io, w, h, png));
            EXPECT_EQ(png, image[1] == 'P');
            cPictICO whole;
            ASSERT_TRUE(icontest::decodePage<cPictICO>(b, static_cast<int>(i), whole));
            EXPECT_EQ(w, whole.width());
            EXPECT_EQ(h, whole.height());
            cPictDummy plain;
            ASSERT_TRUE(cPictICO::decodeIconImage(&io, plain));
            ASSERT_EQ(plain.width(), whole.width());
            ASSERT_EQ(plain.height(), whole.height());
            EXPECT_TRUE(std::equal(plain.raw8Bpp(), plain.raw8Bpp() + w * h, whole.raw8Bpp()));
            // Into a render target of half the size: what the icon decoder
            // gives for the same page and target.
            cPictDummy target, want;
            ASSERT_TRUE(target.create(std::max(1LL, w / 2), std::max(1LL, h / 2), 0));
            ASSERT_TRUE(want.create(target.width(), target.height(), 0));
            cPictBase::sExtPictDef def(&target), wantDef(&want);
            cPictDummy into;
            ASSERT_TRUE(into.setExtTarget(&def));
            ASSERT_TRUE(cPictICO::decodeIconImage(&io, into));
            if (into.raw8Bpp()) {
                ASSERT_TRUE(into.toExtTarget(&def));
            }
            cPictICO page;
            ASSERT_TRUE(page.setExtTarget(&wantDef));
            ASSERT_TRUE(icontest::decodePage<cPictICO>(b, static_cast<int>(i), page));
            if (page.raw8Bpp()) {
                ASSERT_TRUE(page.toExtTarget(&wantDef));
            }
            EXPECT_TRUE(std::equal(target.raw8Bpp(), target.raw8Bpp() + target.width() * target.height(), want.raw8Bpp()));
            ++seen;
        }
        // Neither PNG nor DIB.
        Bytes junk(64, 0x33);
        cBufWrapperIO io(junk.data(), static_cast<long long>(junk.size()), false);
        long long w = 0, h = 0;
        bool png = false;
        EXPECT_FALSE(cPictICO::measureIconImage(&io, w, h, png));
        cPictDummy none;
        EXPECT_FALSE(cPictICO::decodeIconImage(&io, none));
    }
    EXPECT_GT(seen, 2);
}
