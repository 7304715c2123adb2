#include "pedigree/errors.hpp"

namespace kinstrom {

namespace {
const IdTexts NO_TEXTS;
}  // namespace

const IdTexts& ErrorFiles::texts() const {
    return ids != nullptr ? *ids : NO_TEXTS;
}

void ErrorFiles::repeated_phg(int32_t nobs, int64_t phg, std::span<const double> read,
                              std::span<const double> stored) {
    line_.clear().i32(nobs).i64(phg);
    for (const double v : read) line_.r64(v);
    for (const double v : stored) line_.r64(v);
    file(1).record(line_);
}

void ErrorFiles::repeated_record(int32_t nobs, int64_t id, int64_t sire, int64_t dam,
                                 int64_t first_sire, int64_t first_dam) {
    const IdTexts& t = texts();
    file(2).record(line_.clear()
                       .i32(nobs)
                       .id(id, t)
                       .id(sire, t)
                       .id(dam, t)
                       .id(first_sire, t)
                       .id(first_dam, t));
}

void ErrorFiles::inserted_parent(int32_t nobs, int64_t id, int32_t parent, int64_t parent_id) {
    file(3).record(line_.clear().i32(nobs).id(id, texts()).i32(parent).id(parent_id, texts()));
}

void ErrorFiles::inconsistent(int32_t nobs, int64_t id, int64_t sire, int64_t dam) {
    file(4).record(line_.clear().i32(nobs).id(id, texts()).id(sire, texts()).id(dam, texts()));
}

void ErrorFiles::not_in_pedigree(int32_t nobs, int64_t id) {
    file(5).record(line_.clear().i32(nobs).id(id, texts()));
}

void ErrorFiles::untraceable(int64_t id, int64_t sire, int64_t dam, bool marked) {
    file(6).record(line_.clear().id(id, texts()).id(sire, texts()).id(dam, texts()).flag(marked));
}

void ErrorFiles::missing_phg(int64_t phg, int64_t first_id, int32_t parent) {
    file(7).record(line_.clear().i64(phg).id(first_id, texts()).i32(parent));
}

void ErrorFiles::date_out_of_range(int32_t nobs, int64_t id, int32_t value) {
    file(8).record(line_.clear().i32(nobs).id(id, texts()).i32(value).i32(0).i32(0).i32(0));
}

void ErrorFiles::date_against_parent(int32_t nobs, int64_t id, int32_t value, int32_t parent,
                                     int64_t parent_id, int32_t parent_value) {
    file(8).record(line_.clear()
                       .i32(nobs)
                       .id(id, texts())
                       .i32(value)
                       .i32(parent)
                       .id(parent_id, texts())
                       .i32(parent_value));
}

}  // namespace kinstrom
