// Document sources for the entries that compile documents from files: an
// HDL source in UTF-8 that shows a picture and a link ("a.hdl"), one in
// UTF-16 with its byte-order mark ("b.hdl"), one that names its picture as
// it is ("c.hdl"), the 2x2 PNG they show ("pic.png"), and two index files
// over them: "docs.idx" naming them relative to its own folder ("./a.hdl"),
// "doc.idx" naming them as they are ("c.hdl", taken from the current
// folder).
#pragma once

#include <zlib.h>

#include <string>

#include "fuzzsupport.h"
#include "zlibref.h"

inline std::string fuzzTinyPng() {
    auto be32 = [](std::string& out, unsigned long v) {
        for (int i = 3; i >= 0; --i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
    };
    std::string png("\x89PNG\r\n\x1a\n", 8);
    auto chunk = [&](const char* type, const std::string& body) {
        be32(png, body.size());
        const std::string typed = std::string(type, 4) + body;
        png += typed;
        be32(png, crc32(crc32(0L, Z_NULL, 0), reinterpret_cast<const Bytef*>(typed.data()),
                        static_cast<uInt>(typed.size())));
    };
    std::string ihdr;
    be32(ihdr, 2);
    be32(ihdr, 2);
    ihdr += std::string("\x08\x02\x00\x00\x00", 5);  // 8-bit RGB
    chunk("IHDR", ihdr);
    chunk("IDAT", zlibPack(std::string("\0\xff\0\0\0\xff\0\0\0\0\0\xff\0\0\xff", 15), 9));
    chunk("IEND", std::string());
    return png;
}

inline void fuzzWriteDocumentSources(const std::string& dir) {
    const std::string utf8 = "Hello <b>there</b>, <img src=\"./pic.png\"> <link ref=\"http://x/\">link</link>.";
    const std::string utf16 = std::string("\xff\xfe", 2) + std::string("H\0i\0 \0<\0i\0>\0!\0<\0/\0i\0>\0", 22);
    const std::string plainSource = "Plain <i>text</i> <img src=\"pic.png\">";
    const std::string png = fuzzTinyPng();
    const std::string docs = "ENG = \"./a.hdl\"\nDEU = \"./b.hdl\"\nrus=\"./a.hdl\"\n";
    const std::string plain = "ENG = \"c.hdl\"\nDEU = \"b.hdl\"\n";
    if (!fuzzWriteFile(dir + "/a.hdl", utf8.data(), utf8.size()) ||
        !fuzzWriteFile(dir + "/b.hdl", utf16.data(), utf16.size()) ||
        !fuzzWriteFile(dir + "/c.hdl", plainSource.data(), plainSource.size()) ||
        !fuzzWriteFile(dir + "/pic.png", png.data(), png.size()) ||
        !fuzzWriteFile(dir + "/docs.idx", docs.data(), docs.size()) ||
        !fuzzWriteFile(dir + "/doc.idx", plain.data(), plain.size()))
        FUZZ_FAIL("cannot write the document sources");
}
