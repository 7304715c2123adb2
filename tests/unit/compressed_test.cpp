// Compressed input: gzip members and zstd frames read whole, and every damaged or cut-short
// file refused, never taken as a shorter text.
#include <gtest/gtest.h>
#include <zlib.h>
#include <zstd.h>

#include <string>

#include "input/compressed.hpp"

namespace kinstrom {
namespace {

std::string gzip(const std::string& text) {
    z_stream zs{};
    EXPECT_EQ(deflateInit2(&zs, 6, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY), Z_OK);
    std::string out(deflateBound(&zs, text.size()) + 32, '\0');
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    zs.avail_in = static_cast<uInt>(text.size());
    zs.next_out = reinterpret_cast<Bytef*>(out.data());
    zs.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(deflate(&zs, Z_FINISH), Z_STREAM_END);
    out.resize(zs.total_out);
    deflateEnd(&zs);
    return out;
}

// With the content checksum, as the usual command-line compressor writes it.
std::string zstd(const std::string& text) {
    ZSTD_CCtx* c = ZSTD_createCCtx();
    ZSTD_CCtx_setParameter(c, ZSTD_c_checksumFlag, 1);
    std::string out(ZSTD_compressBound(text.size()), '\0');
    const std::size_t n = ZSTD_compress2(c, out.data(), out.size(), text.data(), text.size());
    EXPECT_FALSE(ZSTD_isError(n));
    ZSTD_freeCCtx(c);
    out.resize(n);
    return out;
}

std::string pedigree_text(int records) {
    std::string text;
    for (int i = 1; i <= records; ++i)
        text += std::to_string(1000 + i) + " " + std::to_string(i / 2) + " -1 " +
                std::to_string(20000101 + i % 28) + "\n";
    return text;
}

// The text of `packed`, or "FAULT: ..." when it is refused.
std::string read(const std::string& packed) {
    Unpacked out;
    std::string fault;
    if (!unpack(packing_of(packed), packed, out, fault)) return "FAULT: " + fault;
    return std::string(out.text());
}

using Packer = std::string (*)(const std::string&);

TEST(Compressed, ReadWholeAcrossMembersAndFrames) {
    const std::string a = pedigree_text(3000), b = pedigree_text(7), empty;
    for (const Packer pack : {&gzip, &zstd}) {
        EXPECT_EQ(read(pack(a)), a);
        // Several members or frames, the last small: the first guess of the size is far short.
        EXPECT_EQ(read(pack(a) + pack(empty) + pack(b)), a + b);
        EXPECT_EQ(read(pack(empty)), empty);
    }
    EXPECT_EQ(packing_of(gzip(a)), Packing::gzip);
    EXPECT_EQ(packing_of(zstd(a)), Packing::zstd);
    EXPECT_EQ(packing_of(a), Packing::none);
}

TEST(Compressed, DamagedOrCutShortIsRefused) {
    const std::string text = pedigree_text(300);
    for (const Packer pack : {&gzip, &zstd}) {
        const std::string packed = pack(text);
        for (std::size_t n = 2; n < packed.size(); ++n)
            ASSERT_EQ(read(packed.substr(0, n)).substr(0, 6), "FAULT:") << n << " bytes";
        // Every byte of the compressed body and of the checks after it (the gzip header's
        // time and flags aside).
        for (std::size_t i = 10; i < packed.size(); ++i) {
            std::string damaged = packed;
            damaged[i] = static_cast<char>(damaged[i] ^ 0x5a);
            ASSERT_EQ(read(damaged).substr(0, 6), "FAULT:") << "byte " << i;
        }
        EXPECT_EQ(read(packed + "1 0 0 1\n").substr(0, 6), "FAULT:");
    }
    EXPECT_NE(read(gzip(text).substr(0, 100)).find("cut short (truncated)"), std::string::npos);
    EXPECT_NE(read(gzip(text) + "x").find("not gzip data follow"), std::string::npos);
}

}  // namespace
}  // namespace kinstrom
