// Helpers of the icon suites: the inputs come from make_icon_images.py, one
// reference per page.
#pragma once

#include "adaptertest.h"

namespace icontest {

using picttest::Bytes;

struct sPage {
    std::string file;
    int page = 0;
    std::string ref;
};

// Runs tests/picts/make_icon_images.py for `kind` into dir; the index.
inline std::vector<sPage> generate(const std::string& kind, const std::string& dir) {
    int status = -1;
    const std::string out = qortest::runCommand(
        qortest::python3() + " " + QOR_SOURCE_DIR "/tests/picts/make_icon_images.py " + kind + " " + dir + " 2>&1",
        &status);
    EXPECT_EQ(status, 0) << out;
    std::vector<sPage> index;
    std::ifstream f(dir + "/index.txt");
    sPage p;
    while (f >> p.file >> p.page >> p.ref) index.push_back(p);
    EXPECT_FALSE(index.empty());
    return index;
}

// Decodes page `page` of the file with decoder T.
template <typename T>
bool decodePage(const Bytes& b, int page, T& into) {
    cBufWrapperIO io(const_cast<unsigned char*>(b.data()), static_cast<long long>(b.size()), false);
    return into.decodePage(&io, page);
}

// Every page of every file decodes to its reference, and the probe reports
// the largest page (the first of equal ones) with the preview flag set.
template <typename T>
void everyPageLikeReference(const std::string& dir, const std::vector<sPage>& index) {
    std::map<std::string, std::pair<long long, long long> > largest;
    std::map<std::string, int> pages;
    for (const sPage& p : index) {
        SCOPED_TRACE(p.file + " page " + std::to_string(p.page));
        const Bytes file = picttest::readBytes(dir + "/" + p.file);
        const picttest::Reference ref = picttest::readReference(dir + "/" + p.ref);
        T pict;
        ASSERT_TRUE(decodePage<T>(file, p.page, pict));
        EXPECT_FALSE(pict.is16Bpp());
        EXPECT_TRUE(picttest::samePixels(pict, ref));
        cBufWrapperIO io(const_cast<unsigned char*>(file.data()), static_cast<long long>(file.size()), false);
        int w = 0, h = 0;
        EXPECT_TRUE(pict.getPageSize(&io, p.page, w, h));
        EXPECT_EQ(w, ref.width);
        EXPECT_EQ(h, ref.height);
        auto& big = largest[p.file];
        if (ref.width * ref.height > big.first * big.second) big = {ref.width, ref.height};
        ++pages[p.file];
    }
    for (const auto& f : largest) {
        SCOPED_TRACE(f.first);
        const Bytes file = picttest::readBytes(dir + "/" + f.first);
        cPictBase::sPictInfo info;
        ASSERT_TRUE(adaptertest::probes<T>(file, &info));
        EXPECT_EQ(info.width, f.second.first);
        EXPECT_EQ(info.height, f.second.second);
        EXPECT_TRUE(info.hasPreview);
        cBufWrapperIO io(const_cast<unsigned char*>(file.data()), static_cast<long long>(file.size()), false);
        T pict;
        EXPECT_EQ(pict.getNumPages(&io), pages[f.first]);
        EXPECT_FALSE(decodePage<T>(file, pages[f.first], pict));
        EXPECT_FALSE(decodePage<T>(file, -1, pict));
    }
}

}  // namespace icontest
