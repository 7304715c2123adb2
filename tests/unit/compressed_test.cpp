// Compressed input: gzip members and zstd frames read whole, skippable frames passed over, and
// every damaged or cut-short file refused, never taken as a shorter text; no text held past its
// bound.
#include <gtest/gtest.h>
#include <zlib.h>
#include <zstd.h>

#include <cstdint>
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

// The text of `packed`, or "FAULT: ..." when it is refused (with the text held then, in
// `held`, when asked).
std::string read(const std::string& packed, uint64_t bound = NO_BOUND,
                 std::size_t* held = nullptr) {
    Unpacked out;
    std::string fault;
    const bool ok = unpack(packing_of(packed), packed, {bound, "BOUND", "RAISE"}, out, fault);
    if (held != nullptr) *held = out.text().size();
    return ok ? std::string(out.text()) : "FAULT: " + fault;
}

// `text` as a zstd frame that does not declare its size, as a compressor writes a stream.
std::string zstd_stream(const std::string& text) {
    ZSTD_CCtx* c = ZSTD_createCCtx();
    std::string out(ZSTD_compressBound(text.size()) + 64, '\0');
    ZSTD_inBuffer in{text.data(), text.size(), 0};
    ZSTD_outBuffer buffer{out.data(), out.size(), 0};
    EXPECT_EQ(ZSTD_compressStream2(c, &buffer, &in, ZSTD_e_end), 0u);
    ZSTD_freeCCtx(c);
    out.resize(buffer.pos);
    return out;
}

// A skippable frame of magic number 0x184D2A50 + `variant`.
std::string skippable(int variant, const std::string& content) {
    std::string frame = {static_cast<char>(0x50 + variant), '\x2a', '\x4d', '\x18'};
    for (int i = 0; i < 4; ++i) frame += static_cast<char>((content.size() >> (8 * i)) & 0xff);
    return frame + content;
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
    // Skippable frames first, between frames and last, of every magic number.
    for (int variant : {0, 7, 15}) {
        const std::string skip = skippable(variant, "frame sizes");
        EXPECT_EQ(packing_of(skip + zstd(a)), Packing::zstd);
        EXPECT_EQ(read(skip + zstd(a) + skippable(variant, "") + zstd_stream(b) + skip), a + b);
    }
    EXPECT_EQ(packing_of(skippable(16, "") + zstd(a)), Packing::none);
}

TEST(Compressed, TextBoundedAtItsSize) {
    const std::string text = pedigree_text(20000);  // 438 KiB
    const std::string past = "FAULT: the text expands past ";
    for (const Packer pack : {&gzip, &zstd, &zstd_stream}) {
        const std::string packed = pack(text) + pack(text);
        EXPECT_EQ(read(packed, 2 * text.size()), text + text);
        std::size_t held = 0;
        EXPECT_EQ(read(packed, 2 * text.size() - 1, &held).substr(0, past.size()), past);
        EXPECT_LE(held, 2 * text.size());
    }
    // Declared sizes are added up and refused before anything is decompressed.
    std::size_t held = 1;
    EXPECT_EQ(read(zstd(text) + skippable(0, "") + zstd(text), 2 * text.size() - 1, &held),
              past +
                  "876 KiB, BOUND (its zstd frame headers declare 876 KiB): decompress it "
                  "to a plain file first (a plain file is mapped, not held in memory), or RAISE");
    EXPECT_EQ(held, 0u);
    EXPECT_EQ(read(zstd(text), 1000).substr(past.size()),
              "1000 bytes, BOUND (its zstd frame header declares 438 KiB): decompress it to a "
              "plain file first (a plain file is mapped, not held in memory), or RAISE");
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
