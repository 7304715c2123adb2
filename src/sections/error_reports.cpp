#include "sections/error_reports.hpp"

#include <charconv>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "listing/numbers.hpp"

namespace kinstrom {

namespace {

// Page bookkeeping of the error reports (Listing::reserve, Listing::reserve_after). A kind's block
// is checked without its record rows, which are counted as they are written. Kinds 3, 4, 6 and 8
// reserve a number other than the lines they print; the page breaks follow the numbers.
namespace section {
// The "ERROR/WARNINGS" heading starts a new page when more than 30 lines of the page are used.
constexpr int32_t ERRORS_HEADING_AFTER = 30;
// The heading: two blanks, title, underline: 4 lines.
constexpr int32_t ERRORS_HEADING = 4;
// Added when there are more records than are printed: the "first 50" note and its blank, 2 lines.
constexpr int32_t FIRST_50_NOTE = 2;
// Kind 1: blank, title, underline, blank, two column-title lines; blank, count, file name, blank;
// "The file has", four variable lines, blank: 16 lines besides the records.
constexpr int32_t KIND1 = 16;
// Kind 2: as kind 1 with six variable lines: 18 lines besides the records (the note's 2 are
// added when kinds 2 and 3 together have more than 50 records).
constexpr int32_t KIND2 = 18;
// Kind 3: 16 lines; it prints 19 besides the records: as kind 1 with three more opening lines
// (the inserted-parent note, "as both parents", blank).
constexpr int32_t KIND3 = 16;
// Kind 4: 13 lines; it prints 16 besides the records, laid out as kind 1.
constexpr int32_t KIND4 = 13;
// Kind 8: blank, title, "Errors can be:", five condition lines, dashes, blank, three column-title
// lines; blank, count, file name, blank; "The file has", six variable lines: 24 lines besides the
// records (the four closing lines on dates out of range are not counted).
constexpr int32_t KIND8 = 24;
// Kind 5: as kind 1 with two variable lines: 14 lines besides the records.
constexpr int32_t KIND5 = 14;
// Kind 6: 17 lines; it prints 16 besides the records: title, underline, blank, two column-title
// lines; blank, count, marked count, file name, blank; "The file has", four variable lines, blank.
constexpr int32_t KIND6 = 17;
}  // namespace section

constexpr int32_t ROWS_PRINTED = 50;

// Values of one record read back from an error file. After a value that cannot be read, the
// rest of the record keeps what it held.
class ReadBack {
  public:
    explicit ReadBack(OutFile& file) : file_(file) {}
    void next_record() { ok_ = true; }

    // An integer or a real.
    template <class T>
    void value(T& v) {
        if (!ok_ || !file_.read_value(token_)) {
            ok_ = false;
            return;
        }
        T read{};
        const auto [end, ec] = std::from_chars(token_.data(), token_.data() + token_.size(), read);
        if (ec != std::errc() || end != token_.data() + token_.size()) {
            ok_ = false;
            return;
        }
        v = read;
    }
    template <class... T>
    void values(T&... v) {
        (value(v), ...);
    }
    // An original ID, as its text.
    void id(std::string& v) {
        if (!ok_ || !file_.read_value(token_)) {
            ok_ = false;
            return;
        }
        v = token_;
    }
    template <class... T>
    void ids(T&... v) {
        (id(v), ...);
    }
    void flag(bool& v) {
        if (!ok_ || !file_.read_value(token_) || (token_ != "T" && token_ != "F")) {
            ok_ = false;
            return;
        }
        v = token_ == "T";
    }

  private:
    OutFile& file_;
    std::string token_;
    bool ok_ = true;
};

using Description = std::initializer_list<std::pair<std::string, std::string>>;

// The columns of an ID field: 20 in the classic format, widened to hold the longest text (with
// a blank before it) otherwise. The titles over the columns after a widened one move right
// with them; the dashes under a widened one grow.
constexpr int ID_COLUMNS = 20;

class Reports {
  public:
    Reports(Listing& listing, ErrorFiles& errors)
        : l_(listing),
          e_(errors),
          ids_(errors.texts()),
          id_width_(ids_.width(ID_COLUMNS, 1)),
          wider_(id_width_ - ID_COLUMNS),
          pad_(static_cast<std::size_t>(wider_), ' '),
          rule_(static_cast<std::size_t>(ID_COLUMNS - 1 + wider_), '-') {}

    // Steps common to every kind but 7: false (and the file deleted) without records;
    // otherwise the page check, the opening lines and the "first 50" note.
    bool begin(int kind, int32_t n, int32_t reserve, int32_t big_count,
               std::initializer_list<std::string> opening) {
        if (n <= 0) {
            e_.file(kind).discard();
            return false;
        }
        e_.file(kind).rewind_for_reading();
        l_.reserve(reserve + (big_count > ROWS_PRINTED ? section::FIRST_50_NOTE : 0));
        for (const std::string& line : opening) l_.text(line);
        first_50_note(n);
        return true;
    }

    void first_50_note(int32_t n) {
        if (n <= ROWS_PRINTED) return;
        l_.text("Only the first 50 errors of this type is printed");
        l_.blank();
    }

    // Record rows are counted as they are written: their block was checked without them.
    void row(const Row& r) {
        l_.row(r);
        l_.count();
    }

    void file_lines(int kind) {
        l_.text("They are in the file " + e_.file(kind).name());
        l_.blank();
    }

    void closing(int kind, int32_t n) {
        l_.blank();
        l_.text("There are " + int_text(n) + " errors of this type");
        file_lines(kind);
    }

    void description(int64_t variables, Description lines) {
        l_.text("The file has " + int_text(variables) + " variables:");
        for (const auto& [number, text] : lines) l_.row(Row().text(number).at(10).text(text));
    }

    // The title lines over obs. number, ID, sire ID and dam ID.
    void pedigree_titles() {
        l_.text("Obs. no." + pad_ + "             ID" + pad_ + "             Sire ID" + pad_ +
                "              Dam ID");
        l_.text("-------- " + rule_ + " " + rule_ + " " + rule_);
    }

    Listing& l_;
    ErrorFiles& e_;
    const IdTexts& ids_;
    const int id_width_;      // columns of an ID field
    const int wider_;         // beyond the classic 20
    const std::string pad_;   // blanks by which the titles after an ID field move
    const std::string rule_;  // the dashes under an ID field
};

int32_t rows_of(int32_t n) {
    return n < ROWS_PRINTED ? n : ROWS_PRINTED;
}

const std::string BLANK = " ";

void kind1(Reports& r, const ReportSettings& s) {
    const int32_t n = r.e_.ERROR[1];
    if (!r.begin(1, n, section::KIND1, n,
                 {BLANK, "Repeated infomation on breed proportions in PHG",
                  "-----------------------------------------------", BLANK}))
        return;
    r.l_.text("Obs. no.         PHG ID                  Note");
    r.l_.text("-------- ------------------- " + std::string(42, '-'));
    ReadBack back(r.e_.file(1));
    int32_t nobs = 0;
    int64_t phg = 0;
    std::vector<double> read(static_cast<std::size_t>(s.N_BPOP)), stored(read.size());
    for (int32_t i = 0; i < rows_of(n); ++i) {
        back.next_record();
        back.values(nobs, phg);
        for (double& v : read) back.value(v);
        for (double& v : stored) back.value(v);
        std::string note(read == stored ? "" : "Information diffrent from first appearance");
        note.resize(50, ' ');
        r.row(Row().integer(nobs, 8).integer(phg, 20).text(" ").text(note));
    }
    r.closing(1, n);
    const int64_t b = s.N_BPOP;
    r.description(2 * b + 2, {{"1", ": Obs. number"},
                              {"2", ": PHG ID"},
                              {"3-" + int_text(b + 2), ": Breed proportions, this obs"},
                              {int_text(b + 3) + "-" + int_text(2 * b + 2),
                               ": Breed proportions, first apperance"}});
    r.l_.blank();
}

void kind2(Reports& r) {
    const int32_t n = r.e_.ERROR[2];
    if (!r.begin(2, n, section::KIND2, r.e_.ERROR[2] + r.e_.ERROR[3],
                 {BLANK, "Repeated pedigree infomation", "----------------------------", BLANK}))
        return;
    r.pedigree_titles();
    ReadBack back(r.e_.file(2));
    const int w = r.id_width_;
    int32_t nobs = 0;
    std::string id = "0", sire = "0", dam = "0", first_sire = "0", first_dam = "0";
    for (int32_t i = 0; i < rows_of(n); ++i) {
        back.next_record();
        back.value(nobs);
        back.ids(id, sire, dam, first_sire, first_dam);
        r.row(Row().integer(nobs, 8).right(id, w).right(sire, w).right(dam, w));
        if (sire != first_sire || dam != first_dam)
            r.row(Row()
                      .at(15)
                      .text("First apperance")
                      .at(30 + r.wider_)
                      .right(first_sire, w)
                      .right(first_dam, w));
    }
    r.closing(2, n);
    r.description(6, {{"1", ": Obs. number"},
                      {"2", ": ID"},
                      {"3", ": Sire ID at this obs"},
                      {"4", ": Dam ID at this obs"},
                      {"5", ": Sire ID at first apperance"},
                      {"6", ": Dam Id at first apperance"}});
    r.l_.blank();
}

void kind3(Reports& r, const Pedigree& p) {
    const int32_t n = p.N_INS;
    if (!r.begin(3, n, section::KIND3, n,
                 {BLANK, "Individuals appears as parents, but is not in the file as an individual",
                  std::string(67, '-'), BLANK,
                  "These individuals are inserted in the pedigree with phg= " +
                      int_text(-9223372036854775807LL),
                  "as both parents", BLANK}))
        return;
    r.l_.text("Obs. no." + r.pad_ + "             ID" + r.pad_ + "       Inserted parent");
    r.l_.text("-------- " + r.rule_ + " " + r.rule_);
    ReadBack back(r.e_.file(3));
    const int w = r.id_width_;
    int32_t nobs = 0, parent = 0;
    std::string id = "0", parent_id = "0";
    for (int32_t i = 0; i < rows_of(n); ++i) {
        back.next_record();
        back.value(nobs);
        back.id(id);
        back.value(parent);
        back.id(parent_id);
        r.row(Row().integer(nobs, 8).right(id, w).right(parent_id, w));
    }
    r.closing(3, n);
    r.description(4, {{"1", ": Obs. number"},
                      {"2", ": ID"},
                      {"3", ": Parent inserted 1 = SIRE, 2 = DAM"},
                      {"4", ": ID of inserted individuals"}});
    r.l_.blank();
}

void kind4(Reports& r) {
    const int32_t n = r.e_.ERROR[4];
    if (!r.begin(4, n, section::KIND4, n,
                 {BLANK, "Inconsistet pedigree", "--------------------", BLANK}))
        return;
    r.pedigree_titles();
    ReadBack back(r.e_.file(4));
    const int w = r.id_width_;
    int32_t nobs = 0;
    std::string id = "0", sire = "0", dam = "0";
    for (int32_t i = 0; i < rows_of(n); ++i) {
        back.next_record();
        back.value(nobs);
        back.ids(id, sire, dam);
        r.row(Row().integer(nobs, 8).right(id, w).right(sire, w).right(dam, w));
    }
    r.closing(4, n);
    r.description(4, {{"1", ": Obs. number"},
                      {"2", ": ID"},
                      {"3", ": Sire ID at this obs"},
                      {"4", ": Dam Id at this obs."}});
    r.l_.blank();
}

void kind8(Reports& r, const ReportSettings& s) {
    const int32_t n = r.e_.ERROR[8];
    if (n <= 0) {
        r.e_.file(8).discard();
        return;
    }
    r.e_.file(8).rewind_for_reading();
    r.l_.reserve(section::KIND8 + (n > ROWS_PRINTED ? section::FIRST_50_NOTE : 0));
    r.l_.blank();
    r.l_.text("Individuals with possible errors in birth date");
    r.l_.text("Errors can be:");
    r.l_.text("  Born before one or both its parents");
    r.l_.label_number("  Age of its sire < ", s.MIN_D_SBD);
    r.l_.label_number("  Age of its dam  < ", s.MIN_D_DBD);
    r.l_.label_number("  Born before       ", s.MIN_ACC_BD);
    r.l_.label_number("  Born after        ", s.MAX_ACC_BD);
    r.l_.text(std::string(62, '-'));
    r.l_.blank();
    r.first_50_note(n);
    r.l_.text(std::string(64, ' ') + r.pad_ + r.pad_ + "Parent");
    r.l_.text("Obs. no." + r.pad_ + "             ID       Birth date" + r.pad_ +
              "          Parent ID    Birth date");
    r.l_.text("-------- " + r.rule_ + " ------------ " + r.rule_ + " -----------");
    ReadBack back(r.e_.file(8));
    const int w = r.id_width_;
    int32_t nobs = 0, value = 0, parent = 0, parent_value = 0;
    std::string id = "0", parent_id = "0";
    for (int32_t i = 0; i < rows_of(n); ++i) {
        back.next_record();
        back.value(nobs);
        back.id(id);
        back.values(value, parent);
        back.id(parent_id);
        back.value(parent_value);
        r.row(Row()
                  .integer(nobs, 8)
                  .right(id, w)
                  .integer(value, 13)
                  .right(parent_id, w)
                  .integer(parent_value, 12));
    }
    r.closing(8, n);
    r.description(6, {{"1", ": Obs. number"},
                      {"2", ": ID"},
                      {"3", ": Birth date (sort var.)"},
                      {"4", ": Parent no. (1 = sire, 2 = dam)"},
                      {"5", ": Parent ID"},
                      {"6", ": Parent birth date (sort var)"}});
    r.l_.blank();
    r.l_.text("For animals with birth date in yyyymmdd format, but born before or after");
    r.l_.text("the specified dates, variables 4, 5 and 6 is 0 (zero)");
    r.l_.blank();
}

void kind5(Reports& r) {
    const int32_t n = r.e_.ERROR[5];
    if (!r.begin(5, n, section::KIND5, n,
                 {BLANK, "Individuals that should be traced, but is not in the pedigree file",
                  std::string(62, '-'), BLANK}))
        return;
    r.l_.text("Obs. no." + r.pad_ + "             ID");
    r.l_.text("-------- " + r.rule_);
    ReadBack back(r.e_.file(5));
    int32_t nobs = 0;
    std::string id = "0";
    for (int32_t i = 0; i < rows_of(n); ++i) {
        back.next_record();
        back.value(nobs);
        back.id(id);
        r.row(Row().integer(nobs, 8).right(id, r.id_width_));
    }
    r.closing(5, n);
    r.description(2, {{"1", ": Obs. number"}, {"2", ":        ID"}});
    r.l_.blank();
}

void kind6(Reports& r) {
    const int32_t n = r.e_.ERROR[6];
    if (!r.begin(6, n, section::KIND6, n,
                 {"The following individuals can not be traced back to PHG's",
                  "---------------------------------------------------------", BLANK}))
        return;
    r.l_.text(r.pad_ + "             ID" + r.pad_ + "             Sire ID" + r.pad_ +
              "              Dam ID      Marked for tracing");
    r.l_.text(" " + r.rule_ + " " + r.rule_ + " " + r.rule_ + " ------------------");
    ReadBack back(r.e_.file(6));
    const int w = r.id_width_;
    std::string id = "0", sire = "0", dam = "0";
    bool marked = false;
    for (int32_t i = 0; i < rows_of(n); ++i) {
        back.next_record();
        back.ids(id, sire, dam);
        back.flag(marked);
        r.row(Row()
                  .right(id, w)
                  .right(sire, w)
                  .right(dam, w)
                  .at(71 + 3 * r.wider_)
                  .text(marked ? "T" : "F"));
    }
    r.l_.blank();
    r.l_.text("There are " + int_text(n) + " errors of this type and");
    r.l_.text(int_text(r.e_.ERROR[7]) + " of these are marked for tracing");
    r.file_lines(6);
    r.description(4, {{"1", ": ID"},
                      {"2", ": Sire ID"},
                      {"3", ": Dam ID"},
                      {"4", ": Marked for tracing (T/F)"}});
    r.l_.blank();
}

// Kind 7 is printed from PHG_ERRLIST (the output stage writes its file); its lines take no
// page check and are not counted.
void kind7(Reports& r, const Pedigree& p) {
    const int32_t n = p.PHG_ERRLIST.LAST;
    if (n <= 0) {
        r.e_.file(7).discard();
        return;
    }
    r.l_.blank();
    r.l_.blank();
    r.l_.text("PHGs in the pedigree file, but not in the file with breed proportions");
    r.l_.text("---------------------------------------------------------------------");
    r.l_.blank();
    r.first_50_note(n);
    r.l_.text(std::string(28, ' ') + r.pad_ + "ID at");
    r.l_.text("          PHG ID" + r.pad_ + "        first occurrence    Parent");
    r.l_.text("-------------------- -" + r.rule_ + " ----------");
    static constexpr const char* ANE_TXT[] = {"Sire", " Dam"};
    for (int32_t k = 1; k <= rows_of(n); ++k) {
        const Record& entry = p.PHG_ERRLIST[k];
        const std::string first_id = r.ids_.show(p.XLIST[entry.SIRE].ID);
        const char* parent = entry.DAM == 1 ? ANE_TXT[0] : ANE_TXT[1];
        r.l_.row(Row()
                     .integer(entry.ID, 20)
                     .at(23)
                     .right(first_id, r.id_width_)
                     .at(48 + r.wider_)
                     .text(parent));
    }
    r.l_.blank();
    r.l_.text("There are " + int_text(n) + " errors of this type");
    r.file_lines(7);
    r.description(3, {{"1", ": PHG ID"},
                      {"2", ": ID for first occurrence in the pedigree file"},
                      {"3", ": Code for occurance as sire(1) or dam(2)"}});
    r.l_.blank();
    r.l_.blank();
}

}  // namespace

void report_input_errors(Listing& listing, const ReportSettings& s, const Pedigree& pedigree,
                         ErrorFiles& errors) {
    int64_t sum = 0;
    for (int kind = 1; kind <= ERROR_KINDS; ++kind) sum += errors.ERROR[kind];
    if (sum > 0) {
        listing.reserve_after(section::ERRORS_HEADING_AFTER, section::ERRORS_HEADING);
        listing.blank();
        listing.blank();
        listing.text("          ERROR/WARNINGS");
        listing.text("          -------------- ");
    }
    Reports r(listing, errors);
    kind1(r, s);
    kind2(r);
    kind3(r, pedigree);
    kind4(r);
    kind8(r, s);
    kind5(r);
}

void report_tracing_errors(Listing& listing, const Pedigree& pedigree, ErrorFiles& errors) {
    Reports r(listing, errors);
    kind6(r);
    kind7(r, pedigree);
}

}  // namespace kinstrom
