// Internal helpers of the dataset-transfer layer, for the layers above it.
#pragma once

#include "videz5_c.h"
#include "../detail/hid.hpp"

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace videz5::detail {

inline bool valid_element_code(int code) { return code >= VIDEZ5_DOUBLE && code <= VIDEZ5_STRING; }
// The codes of the array entries, which also take floats and 64-bit integers.
inline bool valid_array_code(int code) { return code >= VIDEZ5_DOUBLE && code <= VIDEZ5_INT64; }

// The element type for a valid code: the native double or int as HDF5 predefines
// it, or a new string type (space-padded, as Fortran keeps them) of
// string_length bytes, which must be at least 1.
Hid make_element_type(int code, int string_length);

// Bytes of one element of a valid code, as make_element_type makes it.
inline std::size_t element_code_size(int code, int string_length) {
    if (code == VIDEZ5_DOUBLE) return sizeof(double);
    if (code == VIDEZ5_INT) return sizeof(int);
    if (code == VIDEZ5_FLOAT) return sizeof(float);
    if (code == VIDEZ5_INT64) return sizeof(long long);
    return string_length > 0 ? static_cast<std::size_t>(string_length) : 0;
}

// The dimension list of an array of Fortran sizes dim1 x dim2 x dim3, in HDF5
// order: reversed, sizes of 0 dropped, a single size 1 when all are 0.
std::vector<hsize_t> dump_dims(unsigned int dim1, unsigned int dim2, unsigned int dim3);
// Reads all of an open dataset into buffer, elements of type_id: H5Dread, or
// for a series its chunks in as few reads as they allow (read_series_whole).
herr_t read_whole(hid_t dataset, hid_t type_id, void* buffer);
// A series' chunks hold whole steps, in order, and a series that grew alone
// in its file has them one after another on disk: runs of adjacent chunks go
// into the buffer in one read each, where HDF5 reads chunk by chunk (8 MB in
// chunks of 256 KiB took up to 1.3 times a contiguous read). False, with nothing
// promised about the buffer, for any dataset that is not such a series with
// the buffer's element type exactly, or whose bytes the driver cannot read past HDF5.
bool read_series_whole(hid_t dataset, hid_t type_id, void* buffer);
// Sizes as the Fortran caller declares them, HDF5's order reversed: "20 x 10";
// "scalar" for none. The messages that refuse a shape print them.
std::string fortran_shape(const std::vector<hsize_t>& dims);

// What a write says about its dataset besides the values: the attributes
// "units" and "long_name" (and for a plot record, "units" of its axes "X" and
// "Y"). An empty text is not given: the stored attribute, if any, stays.
struct Description {
    std::string units, long_name, x_units, y_units;
};

// What a write does with a stored dataset that cannot take the new values in
// place (another shape, or a type that would change them): refuse it; for a
// one-element text, replace it with a longer one rather than cut the text;
// or replace any such dataset with one of the new shape and type.
enum class OnMismatch { kRefuse, kLongerText, kReplace };

// How a new dataset is laid out: contiguous, or chunked (chunks in HDF5 order,
// empty for the library's) with level 1 to 9 deflating each chunk after the
// shuffle filter. An overwritten dataset keeps the layout it has.
struct Storage {
    int level = 0;
    std::vector<hsize_t> chunks;
    bool chunked() const { return level > 0 || !chunks.empty(); }
};
// Chunks of about 1 MiB that follow the array's layout: whole fastest rows,
// as many as fit, so that a chunk is one stretch of the caller's memory.
std::vector<hsize_t> default_chunks(const std::vector<hsize_t>& dims, std::size_t element_size);

// A block of a dataset: its first element at start (0-based, HDF5 order) in a
// dataset of sizes shape.
struct Part {
    std::vector<hsize_t> start, shape;
};
// Whether a block of sizes dims at start lies inside shape (ranks equal).
bool block_fits(const std::vector<hsize_t>& start, const std::vector<hsize_t>& dims,
                const std::vector<hsize_t>& shape);

// The array dump and read at a path, as h5dump_data and h5read_data, with
// what happened: VIDEZ5_OK, VIDEZ5_WRITE_REFUSED (told, nothing changed) or
// VIDEZ5_WRITE_FAILED for the dump, the read's status. The dump also writes
// the description's units and long_name on the dataset it wrote.
int dump_at(hid_t loc_id, const std::string& path, const void* data, unsigned int dim1, unsigned int dim2,
            unsigned int dim3, hid_t type_id, const Description* description = nullptr,
            OnMismatch mismatch = OnMismatch::kRefuse);
herr_t read_at(hid_t loc_id, const std::string& path, void* buffer, hid_t type_id);
// The dump of any rank (dims in HDF5 order, none for a scalar), laid out as
// storage says when it makes a new dataset; with part, the values are the
// block of sizes dims at part->start in a dataset of sizes part->shape, made
// (filled with zeros) when absent. Statuses as dump_at's.
int dump_array_at(hid_t loc_id, const std::string& path, const void* data, const std::vector<hsize_t>& dims,
                  hid_t type_id, const Description* description, OnMismatch mismatch, const Storage* storage,
                  const Part* part);
// The checked read of any rank; with start (0-based, HDF5 order), the block of
// sizes dims there, VIDEZ5_SHAPE_MISMATCH when the dataset does not hold it.
// Prints nothing.
int read_array_at(hid_t loc_id, const std::string& path, void* buffer, const std::vector<hsize_t>& dims,
                  hid_t type_id, const std::vector<hsize_t>* start, std::vector<hsize_t>& stored_dims);

// The checks of the checked read: the dataset at path, opened into dataset,
// must have exactly dims (HDF5 order), or with start hold a block of dims
// there, and its values (the block's) must read as type_id without any
// change; a double never reads as a float. VIDEZ5_OK, or the status saying
// why not; stored_dims receives the stored sizes whenever a dataset was found.
// Prints nothing.
int open_for_read(hid_t loc_id, const std::string& path, const std::vector<hsize_t>& dims, hid_t type_id,
                  Hid& dataset, std::vector<hsize_t>& stored_dims, const std::vector<hsize_t>* start = nullptr);

// Access properties for reading a dataset whole: no chunk cache.
Hid whole_read_access();

// The dataset at path below loc_id, opened without creating or printing
// anything (for a whole read); invalid when there is no dataset there.
Hid open_dataset_at(hid_t loc_id, const std::string& path);

// What a write that the ranks of an MPI job make together changes in the
// guarded write: each rank passes its own block (count values) and moves it
// through its own selections, and the ranks decide from one agreed answer
// whether the stored type holds every value of the whole array.
struct SharedWrite {
    std::size_t count;
    std::function<bool(bool)> agree;  // every rank's answer from this rank's own
    hid_t memory_space;
    hid_t file_space;
    hid_t transfer;  // collective transfer properties
    // The blocks leave some of a new dataset unwritten, which must read as zeros.
    bool leaves_gaps = false;
};

// One dataset write of the guarded kind, decided before anything is written,
// so that a record of several datasets is written whole or not at all. The
// constructor looks up the name and checks the new values against what is
// stored there (shape, then whether the stored element type holds every value
// exactly), printing the refusal lines when they cannot be written. The name,
// sizes, type and buffer must outlive the object.
class DatasetWrite {
public:
    // absent: the caller knows that nothing stands under the name (a group it
    // has just created), so the lookup is spared. A replaced dataset's
    // attributes go over to the new one, but for the dimension-scale ones,
    // which name the old objects.
    DatasetWrite(hid_t loc_id, const char* name, int rank, const hsize_t* dims, hid_t type_id, const void* buffer,
                 OnMismatch mismatch = OnMismatch::kRefuse, bool absent = false);
    // The same for one rank's block of a shared write (no replacing).
    DatasetWrite(hid_t loc_id, const char* name, int rank, const hsize_t* dims, hid_t type_id, const void* buffer,
                 const SharedWrite& shared, OnMismatch mismatch = OnMismatch::kRefuse);
    // The layout of the dataset that carry_out makes, if it makes one.
    void store_as(const Storage* storage) { storage_ = storage; }

    bool refused() const { return action_ == Action::kRefuse; }
    // Whether carry_out makes a new dataset (created, or replaced): its
    // attributes are then the carried ones alone.
    bool makes_new() const { return action_ == Action::kCreate || action_ == Action::kReplace; }
    // Creates, overwrites in place or replaces; the guarded write's status.
    int carry_out();
    // The same as a VIDEZ5_ status: VIDEZ5_WRITE_REFUSED (told, nothing
    // written), VIDEZ5_WRITE_FAILED or VIDEZ5_OK.
    int outcome() {
        if (refused()) return VIDEZ5_WRITE_REFUSED;
        return carry_out() < 0 ? VIDEZ5_WRITE_FAILED : VIDEZ5_OK;
    }

private:
    enum class Action { kCreate, kOverwrite, kReplace, kRefuse };
    Action plan(OnMismatch mismatch, bool absent = false);
    herr_t write(hid_t dataset) const;
    int create(Hid* made = nullptr);

    hid_t loc_id_;
    const char* name_;
    int rank_;
    const hsize_t* dims_;
    hid_t type_id_;
    const void* buffer_;
    const SharedWrite* shared_ = nullptr;
    const Storage* storage_ = nullptr;
    Hid dataset_;  // the stored dataset, for an overwrite
    Action action_;
};

// The string datasets of h5dump_str_dataset: 0, or negative when an entry was
// refused or failed (the later entries are written all the same).
int dump_strings(hid_t loc_id, const std::vector<std::string>& names, const std::vector<std::string>& values);

// Prints "Vector inputs do not match in length! ..." and returns false when
// the lists of names and texts differ in length.
bool string_lists_match(const std::vector<std::string>& names, const std::vector<std::string>& values);
// The type of a one-element string dataset holding value: a C string of its
// bytes, terminator not stored; an empty text is its terminator alone.
Hid string_type_for(const std::string& value);

// Names an element type in messages: "double", "int", "string of 8 bytes", ...
std::string element_type_name(hid_t type);
// Whether count values of type from, at values, convert to type to without
// any change (numbers: no rounding, clipping or lost fraction; texts: the text
// kept whole, trailing blanks aside). Different kinds never do.
bool converts_exactly(hid_t from, hid_t to, const void* values, std::size_t count);
// Whether floats of type from lose precision as floats of type to (a double
// as a float): a read refuses that whatever the values, since a field that
// happened to read whole in a test would be refused on real data.
bool rounds_floats(hid_t from, hid_t to);
// Whether the numbers stored in dataset read as memory_type without any
// change: 1 yes (also for texts, which reads cut or pad), 0 no, -1 the check
// itself failed.
// Only the block of sizes count at start, when given.
int reads_exactly(hid_t dataset, hid_t memory_type, const std::vector<hsize_t>* start = nullptr,
                  const std::vector<hsize_t>* count = nullptr);

// Creates, or replaces whole, the fixed-length ASCII string attribute name on
// object: a scalar holding values[0], or with as_array a 1-D array of them all.
// absent: the object is known to have no such attribute (it was just created).
// Negative on failure.
int write_string_attribute(hid_t object, const char* name, const std::vector<std::string>& values, bool as_array,
                           bool absent = false);

// The text of a fixed-length string attribute holding one value (scalar or
// one element), up to its first null; empty when there is none such.
std::string read_string_attribute(hid_t object, const char* name);

// Creates, or replaces whole, the attribute name on object: of type and space,
// its values the size bytes at bytes. An attribute that already holds exactly
// these is left alone. absent as for write_string_attribute. Negative on failure.
int put_attribute(hid_t object, const char* name, hid_t type, hid_t space, const void* bytes, std::size_t size,
                  bool absent = false);

// An attribute's values as a caller gives them: count numbers of type at
// numbers, or texts; count 0 is a scalar (one number, one text).
struct AttributeValue {
    const void* numbers = nullptr;
    hid_t type = H5I_INVALID_HID;
    std::vector<std::string> texts;
    unsigned int count = 0;
};
// What an attribute of value and its name take in the file, and the most the
// library lets them take: in the file format it writes, HDF5 keeps an attribute
// in one object-header message of at most 64 KiB (65,440 bytes of doubles
// under a short name went in, 65,520 did not), and a create refused after the
// stored attribute went would lose that one.
std::size_t attribute_bytes(const std::string& name, const AttributeValue& value);
inline constexpr std::size_t kLargestAttribute = 65000;
// Creates, or replaces whole (type and size follow the new values), the
// attribute name on the dataset or group at path (open_object_at): texts as
// fixed-length null-padded ASCII strings, as write_string_attribute stores
// them, numbers in their own type. VIDEZ5_OK; VIDEZ5_NO_DATASET when there is
// no dataset or group there, nothing written; VIDEZ5_WRITE_FAILED. Prints nothing.
int write_attribute_at(hid_t loc_id, const std::string& path, const std::string& name, const AttributeValue& value);

// What a read of an attribute found, for the line that refuses it.
struct StoredAttribute {
    std::vector<hsize_t> dims;     // HDF5 order; none for a scalar, {0} for no values at all
    std::size_t longest_text = 0;  // texts: the longest one stored, trailing blanks and NULs aside
};
// Reads the attribute name of the dataset or group at path into buffer, count
// elements of type_id (0: a scalar), only when its shape is exactly that and
// its values read without any change: numbers as the checked read takes them
// (ints into doubles, whole doubles in range into ints), fixed-length texts
// into space-padded strings of type_id's size as long as none is longer.
// VIDEZ5_OK, VIDEZ5_NO_DATASET, VIDEZ5_NO_ATTRIBUTE, VIDEZ5_SHAPE_MISMATCH,
// VIDEZ5_TYPE_MISMATCH (strings and numbers, variable-length strings, a text
// too long, a value that would change), VIDEZ5_READ_FAILED; the buffer is
// left alone unless VIDEZ5_OK. Prints nothing.
int read_attribute_at(hid_t loc_id, const std::string& path, const std::string& name, void* buffer,
                      unsigned int count, hid_t type_id, StoredAttribute& stored);

// Writes the given units and long_name attributes on object (replaced whole,
// never cut); negative on failure.
int describe(hid_t object, const std::string& units, const std::string& long_name);
// The same on the object name below loc_id; nothing is opened when neither is given.
int describe_at(hid_t loc_id, const char* name, const std::string& units, const std::string& long_name);

// Adds one step of Fortran sizes dim1 x dim2 (0 = absent; both 0: a scalar)
// to the series at path, creating it (and its groups) at the first step. A
// series is chunked and unlimited along its slowest dimension, the steps; a
// step of another shape or element type, or a dataset that is no series, is
// refused with one line naming entry, and the stored steps stay. VIDEZ5_OK,
// VIDEZ5_WRITE_REFUSED or VIDEZ5_WRITE_FAILED.
// A new series is deflated as storage's level says (its chunks are its own).
int append_at(const char* entry, hid_t loc_id, const std::string& path, const void* data, unsigned int dim1,
              unsigned int dim2, hid_t type_id, const Description& description, const Storage* storage = nullptr);

}  // namespace videz5::detail
