// Plot records: the per-call cost of ftoc_printh5_double_ for a 100 x 100
// record (data, Y, X and three titles in one group), against the raw HDF5
// sequence writing the same six datasets into the same kind of group.
//
//  - a new record at plots/pNNNNN, as a run writing one record per output step
//    does: raw = open the file, open plots, create the record group, create and
//    write six datasets, close all;
//  - the same record written again in place: raw = open the file, open the
//    record group, then for each dataset open it, check its extent, write it.
//
// When the library also lays the record out for viewers (dimension scales,
// axis labels, an NXdata group "plot" linking the same datasets), the raw
// sequence builds the same layout with H5DS and H5L calls, so that both sides
// leave the same file contents; a separate row prices the layout against the
// six datasets alone.
#include "bench_common.hpp"

#include <H5DSpublic.h>

#include <algorithm>
#include <array>
#include <cstring>

namespace {

constexpr unsigned int kN = 100;
constexpr int kRepetitions = 21;  // measured, after one warm-up block
constexpr long kCallsPerRepetition = 100;
const std::array<const char*, 3> kKeys = {"title", "xtitle", "ytitle"};
const std::array<std::string, 3> kTitles = {"Temperature field", "x [m]", "y [m]"};

struct Record {
    std::vector<double> data = std::vector<double>(kN * kN);
    std::vector<double> x = std::vector<double>(kN);
    std::vector<double> y = std::vector<double>(kN);
};

void lib_record(const std::string& file, const std::string& path, const Record& r) {
    const unsigned int name_length = static_cast<unsigned int>(file.size());
    const unsigned int path_length = static_cast<unsigned int>(path.size());
    const unsigned int lengths[3] = {static_cast<unsigned int>(kTitles[0].size()),
                                     static_cast<unsigned int>(kTitles[1].size()),
                                     static_cast<unsigned int>(kTitles[2].size())};
    ftoc_printh5_double_(file.data(), &name_length, path.data(), &path_length, r.data.data(), r.x.data(),
                         r.y.data(), &kN, &kN, kTitles[0].data(), &lengths[0], kTitles[1].data(), &lengths[1],
                         kTitles[2].data(), &lengths[2]);
}

void raw_make(hid_t loc, const char* name, int rank, const hsize_t* dims, hid_t type, const void* buffer) {
    hid_t s = H5Screate_simple(rank, dims, nullptr);
    hid_t d = H5Dcreate2(loc, name, type, s, H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT);
    bench::require(d >= 0, "raw H5Dcreate2");
    bench::require(H5Dwrite(d, type, H5S_ALL, H5S_ALL, H5P_DEFAULT, buffer) >= 0, "raw H5Dwrite");
    H5Dclose(d);
    H5Sclose(s);
}

// A fixed-length null-padded ASCII string type of the longest value's size, and the values in one block.
hid_t text_type(const std::vector<std::string>& values, std::vector<char>& block) {
    std::size_t size = 1;
    for (const std::string& v : values) size = std::max(size, v.size());
    block.assign(size * values.size(), '\0');
    for (std::size_t i = 0; i < values.size(); ++i) std::memcpy(&block[i * size], values[i].data(), values[i].size());
    hid_t type = H5Tcopy(H5T_C_S1);
    H5Tset_size(type, size);
    H5Tset_strpad(type, H5T_STR_NULLPAD);
    H5Tset_cset(type, H5T_CSET_ASCII);
    return type;
}

void raw_text_attribute(hid_t object, const char* name, const std::vector<std::string>& values, bool as_array) {
    std::vector<char> block;
    hid_t type = text_type(values, block);
    const hsize_t count = values.size();
    hid_t space = as_array ? H5Screate_simple(1, &count, nullptr) : H5Screate(H5S_SCALAR);
    hid_t attribute = H5Acreate2(object, name, type, space, H5P_DEFAULT, H5P_DEFAULT);
    bench::require(attribute >= 0 && H5Awrite(attribute, type, block.data()) >= 0, "raw attribute");
    H5Aclose(attribute);
    H5Sclose(space);
    H5Tclose(type);
}

// What the library adds to a record for viewers, by hand: "Y" and "X" as
// dimension scales of "data", each title its own scale, axis labels, and an
// NXdata group "plot" linking the same datasets with a scalar title.
void raw_present(hid_t record) {
    hid_t data = H5Dopen2(record, "data", H5P_DEFAULT);
    hid_t y = H5Dopen2(record, "Y", H5P_DEFAULT);
    hid_t x = H5Dopen2(record, "X", H5P_DEFAULT);
    bench::require(H5DSset_scale(y, "Y") >= 0 && H5DSset_scale(x, "X") >= 0 && H5DSattach_scale(data, y, 0) >= 0 &&
                       H5DSattach_scale(data, x, 1) >= 0,
                   "raw dimension scales");
    raw_text_attribute(x, "long_name", {kTitles[1]}, false);
    raw_text_attribute(y, "long_name", {kTitles[2]}, false);
    for (hid_t d : {data, y, x}) H5Dclose(d);
    for (const char* key : kKeys) {
        hid_t title = H5Dopen2(record, key, H5P_DEFAULT);
        bench::require(H5DSset_scale(title, key) >= 0, "raw title scale");
        H5Dclose(title);
    }
    hid_t viewer = H5Gcreate2(record, "plot", H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT);
    bench::require(viewer >= 0, "raw viewer group");
    raw_text_attribute(viewer, "NX_class", {"NXdata"}, false);
    raw_text_attribute(viewer, "signal", {"data"}, false);
    raw_text_attribute(record, "default", {"plot"}, false);
    raw_text_attribute(viewer, "axes", {"Y", "X"}, true);
    for (const char* name : {"data", "Y", "X"})
        bench::require(H5Lcreate_hard(record, name, viewer, name, H5P_DEFAULT, H5P_DEFAULT) >= 0, "raw link");
    hid_t text = H5Tcopy(H5T_C_S1);
    H5Tset_size(text, kTitles[0].size());
    hid_t scalar = H5Screate(H5S_SCALAR);
    hid_t title = H5Dcreate2(viewer, "title", text, scalar, H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT);
    bench::require(title >= 0 && H5Dwrite(title, text, H5S_ALL, H5S_ALL, H5P_DEFAULT, kTitles[0].c_str()) >= 0,
                   "raw viewer title");
    H5Dclose(title);
    H5Sclose(scalar);
    H5Tclose(text);
    H5Gclose(viewer);
}

// The same record written again: the viewer's title is written again with the others.
void raw_represent(hid_t record) {
    hid_t text = H5Tcopy(H5T_C_S1);
    H5Tset_size(text, kTitles[0].size());
    bench::raw_overwrite_in(record, "plot/title", 0, nullptr, text, kTitles[0].c_str());
    H5Tclose(text);
}

// Whether the library's records carry the viewer layout (the raw side then writes it too).
bool presented(const std::string& file, const char* record_path) {
    hid_t f = H5Fopen(file.c_str(), H5F_ACC_RDONLY, H5P_DEFAULT);
    hid_t record = H5Gopen2(f, record_path, H5P_DEFAULT);
    const bool yes = record >= 0 && H5Aexists(record, "default") > 0;
    if (record >= 0) H5Gclose(record);
    H5Fclose(f);
    return yes;
}

void raw_new_record(const std::string& file, const std::string& name, const Record& r, bool describe) {
    const hsize_t dims[2] = {kN, kN};
    const hsize_t one = 1;
    hid_t f = H5Fopen(file.c_str(), H5F_ACC_RDWR, bench::raw_access());
    hid_t plots = H5Gopen2(f, "plots", H5P_DEFAULT);
    hid_t record = H5Gcreate2(plots, name.c_str(), H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT);
    bench::require(record >= 0, "raw H5Gcreate2");
    raw_make(record, "data", 2, dims, H5T_NATIVE_DOUBLE, r.data.data());
    raw_make(record, "Y", 1, &dims[0], H5T_NATIVE_DOUBLE, r.y.data());
    raw_make(record, "X", 1, &dims[1], H5T_NATIVE_DOUBLE, r.x.data());
    hid_t text = H5Tcopy(H5T_C_S1);
    for (int i = 0; i < 3; ++i) {
        H5Tset_size(text, kTitles[i].size());
        raw_make(record, kKeys[i], 1, &one, text, kTitles[i].c_str());
    }
    H5Tclose(text);
    if (describe) raw_present(record);
    H5Gclose(record);
    H5Gclose(plots);
    H5Fclose(f);
}

void raw_rewrite_record(const std::string& file, const char* path, const Record& r, bool describe) {
    const hsize_t dims[2] = {kN, kN};
    const hsize_t one = 1;
    hid_t f = H5Fopen(file.c_str(), H5F_ACC_RDWR, bench::raw_access());
    hid_t record = H5Gopen2(f, path, H5P_DEFAULT);
    bench::raw_overwrite_in(record, "data", 2, dims, H5T_NATIVE_DOUBLE, r.data.data());
    bench::raw_overwrite_in(record, "Y", 1, &dims[0], H5T_NATIVE_DOUBLE, r.y.data());
    bench::raw_overwrite_in(record, "X", 1, &dims[1], H5T_NATIVE_DOUBLE, r.x.data());
    hid_t text = H5Tcopy(H5T_C_S1);
    for (int i = 0; i < 3; ++i) {
        H5Tset_size(text, kTitles[i].size());
        bench::raw_overwrite_in(record, kKeys[i], 1, &one, text, kTitles[i].c_str());
    }
    H5Tclose(text);
    if (describe) raw_represent(record);
    H5Gclose(record);
    H5Fclose(f);
}

}  // namespace

int main() {
    bench::Scratch scratch("plot");
    const std::string lib_file = scratch.file("lib.h5");
    const std::string raw_file = scratch.file("raw.h5");
    const std::string plain_file = scratch.file("plain.h5");  // six datasets, never a description
    const std::string lib_again_file = scratch.file("lib-again.h5");
    Record r;
    for (unsigned int i = 0; i < kN; ++i) {
        r.x[i] = 0.01 * i;
        r.y[i] = 0.02 * i;
        for (unsigned int j = 0; j < kN; ++j) r.data[j * kN + i] = 300.0 + 0.1 * i - 0.05 * j;
    }

    lib_record(lib_file, "plots/p00000", r);
    const bool describe = presented(lib_file, "plots/p00000");
    for (const std::string& file : {raw_file, plain_file}) {
        hid_t f = H5Fcreate(file.c_str(), H5F_ACC_EXCL, H5P_DEFAULT, bench::raw_access());
        H5Gclose(H5Gcreate2(f, "plots", H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT));
        H5Fclose(f);
        raw_new_record(file, "p00000", r, describe && file == raw_file);
    }

    long next = 1;
    bench::Repetitions fresh;
    for (int rep = 0; rep <= kRepetitions; ++rep) {
        bench::Block block;
        bench::timed_pairs(
            next, kCallsPerRepetition,
            [&](long j) {
                r.data[0] = static_cast<double>(j);
                lib_record(lib_file, bench::numbered("plots/p", j), r);
            },
            [&](long j) {
                r.data[0] = static_cast<double>(j);
                raw_new_record(raw_file, bench::numbered("p", j), r, describe);
            },
            block);
        next += kCallsPerRepetition;
        if (rep > 0) fresh.add(block);
    }
    bench::require(bench::links_in(lib_file, "plots") == next && bench::links_in(raw_file, "plots") == next,
                   "every record written on both sides");
    bench::require(bench::links_in(lib_file, "plots/p00001") == (describe ? 7 : 6),
                   "six datasets (and the viewer group) in a library record");
    bench::require(bench::links_in(raw_file, "plots/p00001") == (describe ? 7 : 6), "the same in a raw record");

    bench::Repetitions rewrite;
    for (int rep = 0; rep <= kRepetitions; ++rep) {
        bench::Block block;
        bench::timed_pairs(
            0, kCallsPerRepetition,
            [&](long j) {
                r.data[1] = static_cast<double>(j);
                lib_record(lib_file, "plots/p00000", r);
            },
            [&](long j) {
                r.data[1] = static_cast<double>(j);
                raw_rewrite_record(raw_file, "plots/p00000", r, describe);
            },
            block);
        if (rep > 0) rewrite.add(block);
    }
    bench::require(bench::links_in(lib_file, "plots") == next, "rewrites added no record");

    // The price of the description: the library against the six datasets alone.
    // Both start from a record in a new file, as the runs above did.
    bench::Repetitions plain;
    long next_plain = 1;
    if (describe) {
        lib_record(lib_again_file, "plots/p00000", r);
        for (int rep = 0; rep <= kRepetitions; ++rep) {
            bench::Block block;
            bench::timed_pairs(
                next_plain, kCallsPerRepetition,
                [&](long j) { lib_record(lib_again_file, bench::numbered("plots/p", j), r); },
                [&](long j) { raw_new_record(plain_file, bench::numbered("p", j), r, false); },
                block);
            next_plain += kCallsPerRepetition;
            if (rep > 0) plain.add(block);
        }
    }

    std::printf("100 x 100 doubles with 100 + 100 axis values and three titles; %d repetitions of %ld calls per "
                "side after one warm-up block.\n",
                kRepetitions, kCallsPerRepetition);
    std::printf("The library's records %s; the raw sequence writes %s.\n",
                describe ? "carry the viewer layout (scales, labels, an NXdata group)" : "hold the six datasets only",
                describe ? "the same six datasets and the same layout" : "the same six datasets");
    bench::table_header("Plot records (time ratio = library time / raw time, median of per-repetition ratios)");
    const double r_new = fresh.ratio();
    const double r_again = rewrite.ratio();
    bench::table_row("new 100 x 100 record at `plots/pNNNNN`", bench::us(bench::median(fresh.library)),
                     bench::us(bench::median(fresh.reference)), bench::ratio_text(fresh.ratios()), "≤ 1.10",
                     bench::yes_no(r_new <= 1.10));
    bench::table_row("same record rewritten in place", bench::us(bench::median(rewrite.library)),
                     bench::us(bench::median(rewrite.reference)), bench::ratio_text(rewrite.ratios()), "≤ 1.10",
                     bench::yes_no(r_again <= 1.10));
    if (describe)
        bench::table_row("(context) new record vs raw six datasets without the viewer layout",
                         bench::us(bench::median(plain.library)), bench::us(bench::median(plain.reference)),
                         bench::ratio_text(plain.ratios()), "(none)", "-");
    std::printf("\nPer-call figures are means without each side's slowest tenth of calls; with plain means the "
                "ratios are %.3f (new) and %.3f (rewritten).\n",
                fresh.plain(), rewrite.plain());
    return 0;
}
