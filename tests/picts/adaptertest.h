// Helpers of the suites of the library-backed decoders (JPEG, JPEG 2000,
// TIFF, JBIG2, DICOM): the inputs come from make_adapter_images.py, each
// with reference pixels from an outside tool, and every decoder is put
// through the same damaged-input table.
#pragma once

#include "picttest.h"

#include <cstdio>
#include <functional>
#include <unistd.h>

namespace adaptertest {

using picttest::Bytes;

inline std::string stem(const std::string& name) { return name.substr(0, name.rfind('.')); }

// A decoder's probe and decode, run over a byte block.
template <typename T>
bool probes(const Bytes& b, cPictBase::sPictInfo* info = nullptr) {
    cBufWrapperIO io(const_cast<unsigned char*>(b.data()), static_cast<long long>(b.size()), false);
    return T::validFor(&io, info);
}

template <typename T>
bool decodes(const Bytes& b, T* into = nullptr) {
    cBufWrapperIO io(const_cast<unsigned char*>(b.data()), static_cast<long long>(b.size()), false);
    T local;
    T& d = into ? *into : local;
    return d.decode(&io);
}

// Every generated file of the index: the probe accepts it with the
// reference's size, and the decode gives the reference's pixels at the
// depth the index names.
template <typename T>
void decodeAllLikeReferencesLoud(const std::string& dir, const std::vector<std::pair<std::string, int> >& index,
                                 const std::string& prefix, int& seen);

// ... and the libraries say nothing on standard error while they decode.
template <typename T>
void decodeAllLikeReferences(const std::string& dir, const std::vector<std::pair<std::string, int> >& index,
                             const std::string& prefix = "") {
    int seen = 0;
    const std::string said = stderrDuring([&] { decodeAllLikeReferencesLoud<T>(dir, index, prefix, seen); });
    EXPECT_EQ(said, "");
    EXPECT_GT(seen, 0);
}

template <typename T>
void decodeAllLikeReferencesLoud(const std::string& dir, const std::vector<std::pair<std::string, int> >& index,
                                 const std::string& prefix, int& seen) {
    for (const auto& entry : index) {
        if (entry.first.compare(0, prefix.size(), prefix) != 0) continue;
        ++seen;
        SCOPED_TRACE(entry.first);
        const Bytes file = picttest::readBytes(dir + "/" + entry.first);
        const picttest::Reference ref = picttest::readReference(dir + "/" + stem(entry.first) + ".ref");
        cPictBase::sPictInfo info;
        ASSERT_TRUE(probes<T>(file, &info));
        EXPECT_EQ(info.width, ref.width);
        EXPECT_EQ(info.height, ref.height);
        T pict;
        ASSERT_TRUE(decodes<T>(file, &pict));
        EXPECT_EQ(pict.is16Bpp(), entry.second == 16);
        EXPECT_TRUE(picttest::samePixels(pict, ref));
    }
}

// What the process wrote to standard error while fn ran: the libraries
// behind the decoders must stay silent.
inline std::string stderrDuring(const std::function<void()>& fn) {
    std::fflush(stderr);
    std::FILE* tmp = std::tmpfile();
    if (!tmp) return "(no temporary file)";
    const int saved = dup(2);
    dup2(fileno(tmp), 2);
    fn();
    std::fflush(stderr);
    dup2(saved, 2);
    ::close(saved);
    std::string text;
    std::rewind(tmp);
    int c;
    while ((c = std::fgetc(tmp)) != EOF) text.push_back(static_cast<char>(c));
    std::fclose(tmp);
    return text;
}

// Damaged forms of a good file: every one must fail (or, for the cut
// forms that still hold a whole picture, succeed with the full size), and
// none may crash or hang.  The cuts are spread over the whole file.
template <typename T>
void damagedFormsFailQuietly(const Bytes& good, long long width, long long height);

// quiet: nothing may reach standard error meanwhile.
template <typename T>
void damagedFormsFail(const Bytes& good, long long width, long long height, bool quiet = true) {
    const std::string said = stderrDuring([&] { damagedFormsFailQuietly<T>(good, width, height); });
    if (quiet) {
        EXPECT_EQ(said, "");
    }
}

// ... at the size the probe reads from the good file.
template <typename T>
void damagedFormsFail(const Bytes& good) {
    cPictBase::sPictInfo info;
    ASSERT_TRUE(probes<T>(good, &info));
    damagedFormsFail<T>(good, info.width, info.height);
}

template <typename T>
void damagedFormsFailQuietly(const Bytes& good, long long width, long long height) {
    // Cuts: the decode fails, or (when the cut only took trailing bytes that
    // the format does not need) gives the whole picture.
    for (int i = 0; i < 24; ++i) {
        const std::size_t cut = good.size() * static_cast<std::size_t>(i) / 24;
        SCOPED_TRACE("cut at " + std::to_string(cut));
        Bytes b(good.begin(), good.begin() + static_cast<long>(cut));
        T pict;
        if (decodes<T>(b, &pict)) {
            EXPECT_EQ(pict.width(), width);
            EXPECT_EQ(pict.height(), height);
        }
    }
    // Garbage of several lengths with the file's own first bytes.
    std::uint32_t seed = 12345;
    for (std::size_t len : {std::size_t(0), std::size_t(16), std::size_t(200), std::size_t(5000)}) {
        Bytes b(len);
        for (auto& v : b) {
            seed = seed * 1103515245u + 12345u;
            v = static_cast<unsigned char>(seed >> 16);
        }
        for (std::size_t k = 0; k < b.size() && k < 12 && k < good.size(); ++k) b[k] = good[k];
        SCOPED_TRACE("garbage of " + std::to_string(len));
        EXPECT_FALSE(decodes<T>(b));
    }
    // Bytes flipped all over the body: only no crash and a consistent size
    // on success are required.
    for (int i = 0; i < 64; ++i) {
        Bytes b = good;
        seed = seed * 1103515245u + 12345u;
        const std::size_t at = 8 + (seed >> 8) % (b.size() - 8);
        b[at] ^= static_cast<unsigned char>(1u << (i % 8));
        T pict;
        if (decodes<T>(b, &pict)) {
            const bool has = pict.is16Bpp() ? pict.raw16Bpp() != nullptr : pict.raw8Bpp() != nullptr;
            EXPECT_TRUE(has);
            EXPECT_GT(pict.width(), 0);
        }
    }
}

// The library-backed decoders replay their kept inputs as the others do.
using picttest::decodedAt;
using picttest::KeptInput;
using picttest::refusedAfterProbe;
using picttest::refusedByProbe;
using picttest::replayMalformed;

}  // namespace adaptertest
