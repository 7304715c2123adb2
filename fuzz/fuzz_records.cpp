// Fuzz target: the record reader on each kind of input file. The first byte chooses the kind:
// a pedigree record (three 64-bit IDs and a 32-bit value), a trace record (one ID) or a
// breed-proportion record (a PHG code and 0 to 4 proportions); the rest is the file.
#include <cstdint>
#include <string>
#include <string_view>

#include "input/reader.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const unsigned kind = data[0] % 7;
    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    kinstrom::RecordReader r(text);
    int64_t id = 0, sire = 0, dam = 0;
    int32_t sort = 0;
    double real = 0;
    while (r.start()) {
        bool ok = r.int64(id);
        if (kind == 0) {
            ok = ok && r.int64(sire) && r.int64(dam) && r.int32(sort);
        } else if (kind >= 2) {
            for (unsigned k = 2; ok && k < kind; ++k) ok = r.real(real);
        }
        if (!ok) break;
        (void)r.on_new_line();
        r.finish();
    }
    return 0;
}
