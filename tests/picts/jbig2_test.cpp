// JBIG2 decoding compared with the jbig2dec command's decode of files that
// hold one generic region (MMR data from a Group 4 strip); the probe reads
// sequential and random-access files; damaged and hostile files fail
// quietly.
#include <gtest/gtest.h>

#include <algorithm>

#include "adaptertest.h"
#include "picts/pictjbig2.h"

using adaptertest::Bytes;

namespace {

struct Jbig2Kind {
    static const char* kind() { return "jbig2"; }
};
class Jbig2Files : public picttest::GeneratedFiles<Jbig2Kind, picttest::AdapterScript> {};

void put32(Bytes& b, unsigned long v) {
    for (int s = 24; s >= 0; s -= 8) b.push_back(static_cast<unsigned char>(v >> s));
}

// A segment header with no referred-to segments and a one-byte page.
void segment(Bytes& b, unsigned long number, unsigned type, unsigned page, unsigned long length) {
    put32(b, number);
    b.push_back(static_cast<unsigned char>(type));
    b.push_back(0);
    b.push_back(static_cast<unsigned char>(page));
    put32(b, length);
}

Bytes pageInfo(unsigned long w, unsigned long h) {
    Bytes d;
    put32(d, w);
    put32(d, h);
    put32(d, 0);
    put32(d, 0);
    d.push_back(0);
    d.push_back(0);
    d.push_back(0);
    return d;
}

const Bytes kId = {0x97, 0x4A, 0x42, 0x32, 0x0D, 0x0A, 0x1A, 0x0A};

}  // namespace

TEST_F(Jbig2Files, GenericRegionsDecodeLikeJbig2dec) {
    adaptertest::decodeAllLikeReferences<cPictJBIG2>(dir_->path(), *index_);
}

TEST_F(Jbig2Files, DamagedFilesFailQuietly) {
    const Bytes good = file("jbig2_text.jb2");
    adaptertest::damagedFormsFail<cPictJBIG2>(good, 120, 40);
}

// The probe's own reading of the headers, against sizes written here.
TEST(Jbig2Probe, ReadsThePageSizeOfBothOrganisations) {
    struct Case {
        const char* what;
        Bytes file;
        bool accepted;
        long long w, h;
    };
    std::vector<Case> cases;
    {
        // Sequential, page count given, a 4-byte comment-like segment first.
        Bytes b = kId;
        b.push_back(0x01);
        put32(b, 1);
        segment(b, 0, 62, 0, 4);
        put32(b, 0xDEADBEEF);
        const Bytes pi = pageInfo(640, 480);
        segment(b, 1, 48, 1, pi.size());
        b.insert(b.end(), pi.begin(), pi.end());
        cases.push_back({"sequential", b, true, 640, 480});
    }
    {
        // Random access, page count unknown: all headers, then all data.
        Bytes b = kId;
        b.push_back(0x02);
        segment(b, 0, 62, 0, 6);
        const Bytes pi = pageInfo(33, 0xFFFFFFFF);
        segment(b, 1, 48, 1, pi.size());
        segment(b, 2, 51, 0, 0);
        b.insert(b.end(), 6, 0xAA);
        b.insert(b.end(), pi.begin(), pi.end());
        cases.push_back({"random access, striped", b, true, 33, 0});
    }
    {
        Bytes b = kId;
        b.push_back(0x01);
        put32(b, 1);
        const Bytes pi = pageInfo(70000, 70000);
        segment(b, 0, 48, 1, pi.size());
        b.insert(b.end(), pi.begin(), pi.end());
        cases.push_back({"past the pixel cap", b, false, 0, 0});
    }
    {
        // 9000 x 9000: within the library-wide cap, past the page cap.
        Bytes b = kId;
        b.push_back(0x01);
        put32(b, 1);
        const Bytes pi = pageInfo(9000, 9000);
        segment(b, 0, 48, 1, pi.size());
        b.insert(b.end(), pi.begin(), pi.end());
        cases.push_back({"past the page cap", b, false, 0, 0});
    }
    {
        Bytes b = kId;
        b.push_back(0x05);  // a reserved flag bit
        put32(b, 1);
        cases.push_back({"reserved flags", b, false, 0, 0});
    }
    {
        Bytes b = kId;
        b[3] = '3';
        cases.push_back({"wrong id", b, false, 0, 0});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        cPictBase::sPictInfo info;
        EXPECT_EQ(adaptertest::probes<cPictJBIG2>(c.file, &info), c.accepted);
        if (c.accepted) {
            EXPECT_EQ(info.width, c.w);
            EXPECT_EQ(info.height, c.h);
        }
        // None of them holds a page the library can finish.
        EXPECT_FALSE(adaptertest::decodes<cPictJBIG2>(c.file));
    }
}

// The sizes are the pages' information segments: the striped page is of
// unknown height (0xFFFFFFFF, reported as 0), and the large region's page of
// 13 x 16515079 is past the cap before anything is read.
// The symbols of make_jbig2_symbol_inputs.py are on pages of 64 x 64.
TEST(Jbig2Malformed, SavedInputsReplay) {
    adaptertest::replayMalformed<cPictJBIG2>(
        "jbig2", {adaptertest::refusedAfterProbe("slow-aggregate-symbol-of-2-25-placements.jb2", 64, 64),
                  adaptertest::refusedAfterProbe("slow-aggregate-symbol-refined-to-8000x8000.jb2", 64, 64),
                  adaptertest::refusedAfterProbe("slow-generic-symbol-of-8000x8000.jb2", 64, 64),
                  adaptertest::refusedAfterProbe("slow-refined-symbol-of-16000x12000-in-32-kb.jb2", 64, 64),
                  adaptertest::refusedAfterProbe("slow-refined-symbol-of-8000x8000.jb2", 64, 64),
                  adaptertest::refusedAfterProbe("slow-text-region-refined-to-8000x8000.jb2", 64, 64),
                  adaptertest::refusedAfterProbe("slow-10-refinement-regions-of-2048x2048-in-415-bytes.jb2", 2048, 2048),
                  adaptertest::refusedAfterProbe("slow-100-refinement-regions-of-2048x2048-in-3565-bytes.jb2", 2048, 2048),
                  adaptertest::refusedByProbe("slow-large-region.jb2"),
                  adaptertest::refusedAfterProbe("slow-refinement-region-of-8192x8534-in-8098-bytes.jb2", 8192, 8192),
                  adaptertest::refusedAfterProbe("slow-striped-page-of-220-megapixels-in-70-bytes.jb2", 8979, 0),
                  adaptertest::refusedAfterProbe("slow-text-region-of-2-32-instances.jb2", 64, 64)});
}

// ---------------------------------------------------------------------------
// What a decode costs: the work of every segment of the file is totalled
// and weighed against all its bytes before the library sees one, and the
// page is held to the bilevel rule (pictlimits.h).

namespace {

// Immediate lossless refinement regions of w x h refining the page, each
// with `data` bytes; sequential unless randomAccess.
Bytes refinementFile(unsigned long pw, unsigned long ph, int regions, unsigned long w, unsigned long h,
                     std::size_t data, bool randomAccess = false) {
    std::vector<std::pair<Bytes, Bytes> > segs;  // header, data
    auto add = [&](unsigned type, unsigned page, const Bytes& d) {
        Bytes head;
        segment(head, segs.size(), type, page, d.size());
        segs.emplace_back(head, d);
    };
    add(48, 1, pageInfo(pw, ph));
    for (int i = 0; i < regions; ++i) {
        Bytes d;
        for (unsigned long v : {w, h, 0ul, 0ul}) put32(d, v);
        d.push_back(0);
        d.push_back(0);  // template 0, no typical prediction
        d.insert(d.end(), 4, 0xFF);
        d.insert(d.end(), data, 0);
        add(42, 1, d);
    }
    add(49, 1, Bytes());
    add(51, 0, Bytes());
    Bytes b = kId;
    b.push_back(randomAccess ? 0x00 : 0x01);
    put32(b, 1);
    for (const auto& s : segs) {
        b.insert(b.end(), s.first.begin(), s.first.end());
        if (!randomAccess) b.insert(b.end(), s.second.begin(), s.second.end());
    }
    if (randomAccess)
        for (const auto& s : segs) b.insert(b.end(), s.second.begin(), s.second.end());
    return b;
}

// A sequential file of one page up to its page information segment.
Bytes pageOnly(unsigned long w, unsigned long h) {
    Bytes b = kId;
    b.push_back(0x01);
    put32(b, 1);
    const Bytes pi = pageInfo(w, h);
    segment(b, 0, 48, 1, pi.size());
    b.insert(b.end(), pi.begin(), pi.end());
    return b;
}

cPictJBIG2::sWorkPlan plan(const Bytes& b) {
    cBufWrapperIO io(const_cast<unsigned char*>(b.data()), static_cast<long long>(b.size()), false);
    cPictJBIG2::sWorkPlan p;
    EXPECT_TRUE(cPictJBIG2::planWork(&io, p));
    return p;
}

}  // namespace

TEST(Jbig2Costs, WorkIsTotalledOverEverySegmentOfTheFile) {
    const cPictJBIG2::sWorkPlan none = plan(refinementFile(512, 512, 0, 512, 512, 2));
    const cPictJBIG2::sWorkPlan one = plan(refinementFile(512, 512, 1, 512, 512, 2));
    const unsigned long long region = one.work - none.work;
    EXPECT_GT(region, 512ull * 512);
    for (bool randomAccess : {false, true}) {
        SCOPED_TRACE(randomAccess ? "random access" : "sequential");
        const Bytes b = refinementFile(512, 512, 10, 512, 512, 2, randomAccess);
        const cPictJBIG2::sWorkPlan ten = plan(b);
        EXPECT_EQ(ten.work, none.work + 10 * region);
        EXPECT_EQ(ten.bytes, static_cast<long long>(b.size()));
        // Cut inside the last region's data: that region is never decoded,
        // neither its work nor its bytes count.
        const Bytes cut(b.begin(), b.end() - (randomAccess ? 0 : 22) - 4);
        const cPictJBIG2::sWorkPlan nine = plan(cut);
        EXPECT_EQ(nine.work, none.work + 9 * region);
        EXPECT_LE(nine.bytes, static_cast<long long>(cut.size()) - 4);
    }
    // A striped page of unknown height is as tall as its last stripe ends.
    Bytes striped = pageOnly(1000, 0xFFFFFFFF);
    segment(striped, 1, 50, 1, 4);
    put32(striped, 1999);
    EXPECT_EQ(plan(striped).work, plan(refinementFile(1000, 2000, 0, 1, 1, 0)).work);
}

// As many refinement regions as the file's bytes pay for decode; one more
// and not a byte reaches the library.  The kept input of 100 such regions
// of 2048 x 2048 in 3,565 bytes is refused the same way.
TEST(Jbig2Costs, FilesPastTheirWorkBudgetNeverReachTheLibrary) {
    const Bytes probe = refinementFile(1024, 1024, 1, 1024, 1024, 2);
    const unsigned long long region = plan(probe).work - plan(refinementFile(1024, 1024, 0, 1024, 1024, 2)).work;
    int fits = 0;
    for (int k = 1; k < 1000; ++k) {
        const Bytes b = refinementFile(1024, 1024, k, 1024, 1024, 2);
        const cPictJBIG2::sWorkPlan p = plan(b);
        if (p.work > static_cast<unsigned long long>(cPictJBIG2::workBudget(p.bytes))) break;
        fits = k;
    }
    ASSERT_GT(fits, 0);
    ASSERT_GT(region, 0u);
    cPictJBIG2 within, past;
    EXPECT_TRUE(adaptertest::decodes<cPictJBIG2>(refinementFile(1024, 1024, fits, 1024, 1024, 2), &within));
    EXPECT_EQ(within.width(), 1024);
    EXPECT_FALSE(adaptertest::decodes<cPictJBIG2>(refinementFile(1024, 1024, fits + 1, 1024, 1024, 2), &past));
    EXPECT_EQ(past.bytesFedToLibrary(), 0u);
    const Bytes kept = picttest::readBytes(qortest::dataPath("jbig2/malformed/slow-100-refinement-regions-of-2048x2048-in-3565-bytes.jb2"));
    ASSERT_EQ(kept.size(), 3565u);
    cPictJBIG2 refused;
    EXPECT_FALSE(adaptertest::decodes<cPictJBIG2>(kept, &refused));
    EXPECT_EQ(refused.bytesFedToLibrary(), 0u);
    EXPECT_GT(refused.plannedWork().work, 100 * 2048ull * 2048);
}

// A letter page at 300 dpi with lines of words decodes like jbig2dec reads
// it; a blank page at 600 dpi in 1.7 KB is more than its bytes describe.
TEST_F(Jbig2Files, PagesAreHeldToWhatTheirBytesDescribe) {
    const std::string pbm = dir_->file("letter.pbm");
    int status = -1;
    qortest::runCommand("jbig2dec -t pbm -o '" + pbm + "' '" + dir_->file("jbig2_letter_page.jb2") + "' 2>&1", &status);
    ASSERT_EQ(status, 0);
    const Bytes ref = picttest::readBytes(pbm);
    const std::string head = "P4\n2550 3300\n";
    ASSERT_GT(ref.size(), head.size());
    ASSERT_EQ(std::string(ref.begin(), ref.begin() + static_cast<long>(head.size())), head);
    cPictJBIG2 page;
    ASSERT_TRUE(adaptertest::decodes<cPictJBIG2>(file("jbig2_letter_page.jb2"), &page));
    ASSERT_EQ(page.width(), 2550);
    ASSERT_EQ(page.height(), 3300);
    long long wrong = 0, black = 0;
    const std::size_t stride = (2550 + 7) / 8;
    for (long long y = 0; y < 3300; ++y)
        for (long long x = 0; x < 2550; ++x) {
            const bool ink = ref[head.size() + static_cast<std::size_t>(y) * stride + static_cast<std::size_t>(x / 8)] >> (7 - x % 8) & 1;
            const unsigned int want = ink ? 0xFF000000u : 0xFFFFFFFFu;
            black += ink;
            wrong += page.raw8Bpp()[(3300 - 1 - y) * 2550 + x] != want;
        }
    EXPECT_EQ(wrong, 0);
    EXPECT_GT(black, 100000);
    const Bytes blank = file("jbig2_blank_page_600dpi.jb2");
    EXPECT_FALSE(cPictBase::bilevelCanDescribe(5100LL * 6600, static_cast<long long>(blank.size())));
    cPictJBIG2 refused;
    EXPECT_FALSE(adaptertest::decodes<cPictJBIG2>(blank, &refused));
    EXPECT_EQ(refused.bytesFedToLibrary(), 0u);
}

namespace {

// Immediate generic regions of w x h in MMR, each with `data` bytes of
// which the first h / 8 hold a V0 code a row (a white region), on a page
// of pw x ph.
Bytes mmrFile(unsigned long pw, unsigned long ph, int regions, unsigned long w, unsigned long h, std::size_t data) {
    Bytes b = pageOnly(pw, ph);
    for (int i = 0; i < regions; ++i) {
        segment(b, static_cast<unsigned long>(i) + 1, 38, 1, 18 + data);
        for (unsigned long v : {w, h, 0ul, 0ul}) put32(b, v);
        b.push_back(0);
        b.push_back(1);  // MMR
        const std::size_t rows = (h + 7) / 8;
        b.insert(b.end(), std::min(rows, data), 0xFF);
        if (data > rows) b.insert(b.end(), data - rows, 0);
    }
    segment(b, static_cast<unsigned long>(regions) + 1, 49, 1, 0);
    return b;
}

}  // namespace

// What jbig2dec allocates is held too: all it hands out over a decode to
// the file's work budget / 16 (symbol bitmaps, whose sizes only the coded
// data tells, are decoded pixel by pixel like regions).  Forty MMR regions
// of 2048 x 2048 are within the plan but not within that; ten are.
TEST(Jbig2Costs, WhatTheLibraryAllocatesIsHeldToo) {
    const Bytes ten = mmrFile(2048, 2048, 10, 2048, 2048, 256);
    cPictJBIG2 d;
    ASSERT_TRUE(adaptertest::decodes<cPictJBIG2>(ten, &d));
    EXPECT_EQ(d.raw8Bpp()[0], 0xFFFFFFFFu);
    EXPECT_GT(d.bytesAllocatedByLibrary(), 10 * 2048ull * 2048 / 8);
    const Bytes forty = mmrFile(2048, 2048, 40, 2048, 2048, 256);
    const cPictJBIG2::sWorkPlan p = plan(forty);
    ASSERT_LE(p.work, static_cast<unsigned long long>(cPictJBIG2::workBudget(p.bytes)));
    EXPECT_FALSE(adaptertest::decodes<cPictJBIG2>(forty, &d));
    EXPECT_LE(d.bytesAllocatedByLibrary(), static_cast<unsigned long long>(cPictJBIG2::workBudget(p.bytes) / 16));
}

// Symbols are made of arithmetic-coded sizes that no header declares, and
// jbig2dec decodes them pixel by pixel, a refined one at some 20 to 45 ns a
// pixel (make_jbig2_symbol_inputs.py codes them): the bytes it allocates
// for a symbol are charged at what their pixels cost.  A dictionary of one
// symbol of 1024 x 1024 refined from a one-pixel symbol decodes (a white
// page); of 2100 x 2100 it is past what its 151 bytes may cost, refused
// before the symbol's bitmap is laid out.
TEST(Jbig2Costs, SymbolsAreChargedWhatTheirPixelsCost) {
    const Bytes within = picttest::readBytes(qortest::dataPath("jbig2/refined-symbol-of-1024x1024.jb2"));
    ASSERT_EQ(within.size(), 138u);
    cPictJBIG2 d;
    ASSERT_TRUE(adaptertest::decodes<cPictJBIG2>(within, &d));
    ASSERT_EQ(d.width(), 64);
    EXPECT_EQ(d.raw8Bpp()[0], 0xFFFFFFFFu);
    EXPECT_GE(d.libraryWork(), 1024ull * 1024 * 32);
    EXPECT_LE(d.libraryWork(), static_cast<unsigned long long>(cPictJBIG2::workBudget(138)));
    const Bytes past = picttest::readBytes(qortest::dataPath("jbig2/refined-symbol-of-2100x2100.jb2"));
    ASSERT_EQ(past.size(), 151u);
    EXPECT_GT(2100ull * 2100 * 32, static_cast<unsigned long long>(cPictJBIG2::workBudget(151)));
    EXPECT_FALSE(adaptertest::decodes<cPictJBIG2>(past, &d));
    EXPECT_LT(d.bytesAllocatedByLibrary(), 2100ull * 2100 / 8);
    EXPECT_LE(d.libraryWork(), static_cast<unsigned long long>(cPictJBIG2::workBudget(151)));
}

// The kept inputs of make_jbig2_symbol_inputs.py declare, in 82 bytes to
// 32 KB, symbols of 64 to 192 million pixels (plain, refined, or refined
// inside an aggregate), a text region's instance refined to 64 million,
// and an aggregate symbol of 2^25 placements, which no header counts: 0.25
// to 4 s each in jbig2dec, in Release.  Each is refused where the library
// meets what the file cannot pay for: no symbol's bitmap laid out, no
// placement made (that file's page would be whole after them).  A child
// held to 10 s of processor time runs them, far above the milliseconds
// they cost now.
TEST(Jbig2Costs, SymbolsPastTheBudgetAreRefusedWhereTheLibraryMeetsThem) {
    const char* const names[] = {"slow-aggregate-symbol-of-2-25-placements.jb2",
                                 "slow-aggregate-symbol-refined-to-8000x8000.jb2",
                                 "slow-generic-symbol-of-8000x8000.jb2",
                                 "slow-refined-symbol-of-16000x12000-in-32-kb.jb2",
                                 "slow-refined-symbol-of-8000x8000.jb2",
                                 "slow-text-region-refined-to-8000x8000.jb2"};
    EXPECT_TRUE(qortest::withinCpuSeconds(10, [&] {
        for (const char* name : names) {
            SCOPED_TRACE(name);
            const Bytes b = picttest::readBytes(qortest::dataPath(std::string("jbig2/malformed/") + name));
            ASSERT_FALSE(b.empty());
            cPictJBIG2 d;
            EXPECT_FALSE(adaptertest::decodes<cPictJBIG2>(b, &d));
            EXPECT_GT(d.bytesFedToLibrary(), 0u);
            EXPECT_LT(d.bytesAllocatedByLibrary(), 1u << 20);
            const long long budget = cPictJBIG2::workBudget(static_cast<long long>(b.size()));
            EXPECT_LE(d.libraryWork(), static_cast<unsigned long long>(budget));
        }
    }));
}
