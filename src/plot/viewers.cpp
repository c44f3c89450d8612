// What viewers need to open a plot record as a plot, added beside the six
// datasets that stored files and their readers rely on:
//  - HDF5 dimension scales: "Y" (and for 2-D data "X") attached to "data",
//    each title its own one-value dimension, so that netCDF readers (xarray
//    through h5netcdf) name every axis;
//  - a NeXus NXdata group "plot" inside the record, with hard links to the
//    same "data", "Y" and "X" and a scalar "title" (NXdata viewers such as
//    h5web refuse a one-element array there), which the record group names
//    in its "default" attribute. Axis labels are the long_name of "X" and "Y",
//    and of "data" for the values of a line.
#include "videz5_c.h"
#include "plot.hpp"
#include "../detail/error_printing.hpp"

#include <H5DSpublic.h>

#include <algorithm>
#include <array>

namespace videz5::detail {
namespace {

constexpr const char* kViewer = "plot";

// Each call below is one HDF5 change or lookup; a failure makes the whole
// presentation report failure, the record's own datasets stay written.
struct Status {
    bool failed = false;
    void check(herr_t status) { failed = failed || status < 0; }
};

void delete_attribute_if_present(Status& status, hid_t object, const char* name) {
    const htri_t exists = H5Aexists(object, name);
    status.check(exists);
    if (exists > 0) status.check(H5Adelete(object, name));
}

}  // namespace

std::string stored_text(hid_t record, const char* name) {
    ErrorPrintingOff quiet;
    if (H5Lexists(record, name, H5P_DEFAULT) <= 0) return "";
    Hid dataset = own_dataset(H5Dopen2(record, name, H5P_DEFAULT));
    Hid type = own_type(dataset.valid() ? H5Dget_type(dataset.get()) : H5I_INVALID_HID);
    if (!type.valid() || H5Tget_class(type.get()) != H5T_STRING || H5Tis_variable_str(type.get()) != 0 ||
        H5Dget_storage_size(dataset.get()) != H5Tget_size(type.get()))
        return "";
    // Read in the stored type itself: its bytes as they are, cut below.
    std::string text(H5Tget_size(type.get()), '\0');
    if (H5Dread(dataset.get(), type.get(), H5S_ALL, H5S_ALL, H5P_DEFAULT, text.data()) < 0) return "";
    text.resize(std::min(text.find('\0'), text.size()));
    text.erase(text.find_last_not_of(' ') + 1);
    return text;
}

namespace {

// A title with the object's units, "x [m]", unless it ends with them already
// (as videz5-plot labels its axes): h5web shows long_name alone, and units
// only where there is none.
std::string with_units(const std::string& title, const std::string& units) {
    const std::string shown = "[" + units + "]";
    const bool ends_with_them = title.size() >= shown.size() &&
                                title.compare(title.size() - shown.size(), shown.size(), shown) == 0;
    if (units.empty() || ends_with_them) return title;
    return title + " " + shown;
}

// The label that viewers show for an axis or for the values: long_name,
// removed when the title is empty.
void label(Status& status, hid_t object, const std::string& title) {
    if (title.empty())
        delete_attribute_if_present(status, object, "long_name");
    else
        status.check(write_string_attribute(object, "long_name",
                                            {with_units(title, read_string_attribute(object, "units"))}, false));
}

void label_axis(Status& status, hid_t record, const char* axis, const std::string& title) {
    Hid object = own_object(H5Oopen(record, axis, H5P_DEFAULT));
    status.check(object.valid() ? 0 : -1);
    if (object.valid()) label(status, object.get(), title);
}

// The values of a 1-D record are plotted along the vertical axis, which
// viewers name after "data"'s long_name. A long_name that a description gave
// stays; none, or one that came from an earlier title, follows the title.
void label_values(Status& status, hid_t record, const std::string& title, const std::array<std::string, 2>& earlier) {
    Hid data = own_dataset(H5Dopen2(record, "data", H5P_DEFAULT));
    status.check(data.valid() ? 0 : -1);
    if (!data.valid()) return;
    const std::string current = read_string_attribute(data.get(), "long_name");
    const std::string units = read_string_attribute(data.get(), "units");
    bool ours = current.empty();
    for (const std::string& t : earlier)
        ours = ours || (!t.empty() && (current == t || current == with_units(t, units)));
    if (ours) label(status, data.get(), title);
}

void make_scale(Status& status, hid_t object, const char* name) {
    const htri_t is_scale = H5DSis_scale(object);
    status.check(is_scale);
    if (is_scale == 0) status.check(H5DSset_scale(object, name));
}

// Attaches the axes to "data" afresh: references that named objects since
// replaced are dropped first.
void attach_scales(Status& status, hid_t record, int rank) {
    Hid data = own_dataset(H5Dopen2(record, "data", H5P_DEFAULT));
    Hid y = own_dataset(H5Dopen2(record, "Y", H5P_DEFAULT));
    Hid x = own_dataset(H5Dopen2(record, "X", H5P_DEFAULT));
    if (!data.valid() || !y.valid() || !x.valid()) {
        status.check(-1);
        return;
    }
    delete_attribute_if_present(status, data.get(), "DIMENSION_LIST");
    for (const hid_t axis : {y.get(), x.get()}) delete_attribute_if_present(status, axis, "REFERENCE_LIST");
    make_scale(status, y.get(), "Y");
    make_scale(status, x.get(), "X");
    // "Y" is the slowest dimension of "data"; 1-D data has only it.
    status.check(H5DSattach_scale(data.get(), y.get(), 0));  // fault-check: scales-follow-layout
    if (rank == 2) status.check(H5DSattach_scale(data.get(), x.get(), 1));
}

}  // namespace

int present_record(hid_t record, const RecordChanges& changes) {
    Status status;
    static const std::array<const char*, 3> kAxes{"data", "Y", "X"};
    static const std::array<const char*, 3> kTitles{"title", "xtitle", "ytitle"};

    // A "plot" that this library did not make is left alone, and the record
    // then has no viewer group.
    Hid viewer;
    if (!changes.fresh) {
        const htri_t exists = H5Lexists(record, kViewer, H5P_DEFAULT);
        status.check(exists);
        if (exists > 0) {
            viewer = own_object(H5Oopen(record, kViewer, H5P_DEFAULT));
            if (!viewer.valid() || H5Iget_type(viewer.get()) != H5I_GROUP || H5Aexists(viewer.get(), "NX_class") <= 0)
                return status.failed ? -1 : 0;
        }
    }
    // A record without a viewer group yet (new, or written before viewers
    // were served) gets all of it.
    const bool whole = !viewer.valid();
    const bool relink = whole || changes.new_axes;  // fault-check: viewer-follows-replace

    if (relink) attach_scales(status, record, changes.rank);
    for (std::size_t i = 0; i < kTitles.size(); ++i) {
        if (!whole && !changes.new_titles[i]) continue;
        Hid title = own_object(H5Oopen(record, kTitles[i], H5P_DEFAULT));
        if (title.valid()) make_scale(status, title.get(), kTitles[i]);
    }

    // The titles: those just written, else the stored ones when the layout
    // changed (a 1-D axis takes another title than a 2-D one).
    std::array<std::string, 3> titles;
    const bool titled = changes.titles != nullptr;
    if (titled)
        std::copy(changes.titles->begin(), changes.titles->end(), titles.begin());
    else if (relink)
        for (std::size_t i = 0; i < titles.size(); ++i) titles[i] = stored_text(record, kTitles[i]);
    if (titled || relink) {
        // 1-D data lies along "Y", which holds x when only nx exceeds 1.
        if (changes.rank == 2) {
            label_axis(status, record, "X", titles[1]);
            label_axis(status, record, "Y", titles[2]);
        } else {
            label_axis(status, record, "Y", changes.axis_from_x ? titles[1] : titles[2]);
            // Along x, ytitle names the values (a line y(x)); along y, no title does.
            if (changes.axis_from_x && !changes.long_name_given)
                label_values(status, record, titles[2],
                             titled ? changes.old_titles : std::array<std::string, 2>{titles[1], titles[2]});
        }
    }

    if (whole) {
        viewer = own_group(H5Gcreate2(record, kViewer, H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT));
        status.check(viewer.valid() ? 0 : -1);
        if (!viewer.valid()) return -1;
        status.check(write_string_attribute(viewer.get(), "NX_class", {"NXdata"}, false, true));
        status.check(write_string_attribute(viewer.get(), "signal", {"data"}, false, true));
        // The record group itself was described as NXdata before: viewers
        // that find it so would check its one-element "title" and refuse it.
        if (!changes.fresh)
            for (const char* old : {"NX_class", "signal", "axes"}) delete_attribute_if_present(status, record, old);
        status.check(write_string_attribute(record, "default", {kViewer}, false, changes.fresh));
    }
    if (relink) {
        using Names = std::vector<std::string>;
        // fault-check: nxdata-axes-order
        const Names axes = changes.rank == 1 ? Names{"Y"} : Names{"Y", "X"};
        status.check(write_string_attribute(viewer.get(), "axes", axes, true, whole));
        // Hard links: the same objects, whatever the record is renamed or moved to.
        for (const char* name : kAxes) {
            if (!whole) status.check(H5Ldelete(viewer.get(), name, H5P_DEFAULT));
            status.check(H5Lcreate_hard(record, name, viewer.get(), name, H5P_DEFAULT, H5P_DEFAULT));
        }
    }
    if (titled || relink) {
        // A scalar text; one of another length replaces it whole.
        const Hid type = string_type_for(titles[0]);
        status.check(DatasetWrite(viewer.get(), "title", 0, nullptr, type.get(), titles[0].c_str(),
                                  OnMismatch::kReplace, whole)
                         .carry_out());
    }
    return status.failed ? -1 : 0;
}

}  // namespace videz5::detail
