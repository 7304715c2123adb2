// Input read as tables (--table): the pedigree, trace and breed-proportion files as spreadsheets
// and statistics programs write them. One record to a line, values separated by blanks, commas
// or semicolons (found from the file), values in double quotes, an optional header line naming
// the columns, missing values written NA, ., * or left empty.
//
// IDs are texts: case and leading zeros count. The distinct IDs of the pedigree are numbered
// 1..n in byte order, and the reading phase gets them as those numbers; their texts go with the
// pedigree for every output that shows an original ID. A parent value that reads as an integer
// of 0 or below is a PHG code; a missing parent is the PHG code given by --unknown (0).
//
// Fatal stops (status 16, the file, line and column named): a line with fewer values than the
// columns need, a quote not closed on its line, an individual without an ID or with an ID that
// reads as a PHG code or holds blanks or control characters, a sort value that is neither an
// integer nor a date yyyy-mm-dd, a column named by --columns that the header does not have.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "diagnostics/diagnostics.hpp"
#include "listing/idtexts.hpp"
#include "listing/listing.hpp"
#include "pedigree/reading.hpp"
#include "table/fields.hpp"

namespace kinstrom {

// What the command line asks of the table reading.
struct TableOptions {
    bool on = false;                   // --table
    std::optional<bool> header;        // --header, --no-header; unset: found from the file
    std::vector<std::string> columns;  // --columns: ID, sire, dam[, sort]; empty: the default
    int64_t unknown = 0;               // --unknown: the PHG code of a missing parent
};

// Splits the list of --columns: three or four names or 1-based positions, comma separated;
// false with `error` saying what is wrong.
bool parse_columns(std::string_view list, std::vector<std::string>& columns, std::string& error);

// The column roles of a pedigree table.
enum Column { ID_COLUMN, SIRE_COLUMN, DAM_COLUMN, SORT_COLUMN };

// How the pedigree table was read.
struct TableLayout {
    Separator separator = Separator::blanks;
    bool header = false;
    std::string header_reason;         // why the first line is (not) a header
    std::vector<std::string> names;    // the header's names
    std::array<int32_t, 4> columns{};  // 1-based positions by Column; 0: no sort column
    int64_t unknown_parents = 0;       // parent values that were missing
    int64_t unknown_code = 0;          // the PHG code they were given
};

struct TableInput {
    IdTexts ids;
    TableRecords records;
    TableLayout layout;
};

// Reads the inputs named in `inputs` as tables; says on `diagnostics` how each was read.
TableInput read_tables(Listing& listing, const TableOptions& options, const ReadOptions& read,
                       const InputSources& inputs, Diagnostics& diagnostics);

// The lines of the pedigree table on which `ids` (numbered IDs) first stand as an individual;
// 0 where one does not.
std::vector<int64_t> table_record_lines(std::string_view text, const TableLayout& layout,
                                        const IdTexts& texts, const std::vector<int64_t>& ids);

}  // namespace kinstrom
