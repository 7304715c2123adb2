// Fuzz target: the compressed-input readers on a file's bytes. How they are compressed is found
// from their first bytes, and they are decompressed under a bound of 1 MiB, which no text read
// may pass; every refusal must say why.
#include <cstdint>
#include <string>
#include <string_view>

#include "input/compressed.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    constexpr uint64_t BOUND = 1 << 20;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const kinstrom::Packing packing = kinstrom::packing_of(bytes);
    if (packing == kinstrom::Packing::none) return 0;
    kinstrom::Unpacked out;
    std::string fault;
    const bool ok = kinstrom::unpack(packing, bytes, {BOUND, "the bound", "raise it"}, out, fault);
    // A refused text may hold the one byte that showed it past the bound.
    if (out.text().size() > BOUND + (ok ? 0 : 1) || ok == !fault.empty()) __builtin_trap();
    return 0;
}
