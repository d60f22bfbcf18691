// JBIG2 decoding compared with the jbig2dec command's decode of files that
// hold one generic region (MMR data from a Group 4 strip); the probe reads
// sequential and random-access files; damaged and hostile files fail
// quietly.
#include <gtest/gtest.h>

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

TEST(Jbig2Malformed, SavedInputsReplay) { adaptertest::replayMalformed<cPictJBIG2>("jbig2"); }
