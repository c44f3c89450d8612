// RAII ownership of one HDF5 identifier, so that no path through the library
// leaves an object open that it was not asked to hand back.
#pragma once

#include <hdf5.h>

#include <utility>

namespace videz5::detail {

using Closer = herr_t (*)(hid_t);

class Hid {
public:
    Hid() = default;
    Hid(hid_t id, Closer closer) : id_(id), closer_(closer) {}
    Hid(const Hid&) = delete;
    Hid& operator=(const Hid&) = delete;
    Hid(Hid&& other) noexcept : id_(std::exchange(other.id_, H5I_INVALID_HID)), closer_(other.closer_) {}
    Hid& operator=(Hid&& other) noexcept {
        if (this != &other) {
            reset();
            id_ = std::exchange(other.id_, H5I_INVALID_HID);
            closer_ = other.closer_;
        }
        return *this;
    }
    ~Hid() { reset(); }

    hid_t get() const { return id_; }
    bool valid() const { return id_ >= 0; }
    // Gives up ownership: the caller closes the identifier from now on.
    hid_t release() { return std::exchange(id_, H5I_INVALID_HID); }
    void reset() {
        if (id_ >= 0 && closer_ != nullptr) closer_(id_);
        id_ = H5I_INVALID_HID;
    }

private:
    hid_t id_ = H5I_INVALID_HID;
    Closer closer_ = nullptr;
};

inline Hid own_file(hid_t id) { return Hid(id, H5Fclose); }
inline Hid own_group(hid_t id) { return Hid(id, H5Gclose); }
inline Hid own_dataset(hid_t id) { return Hid(id, H5Dclose); }
inline Hid own_space(hid_t id) { return Hid(id, H5Sclose); }
inline Hid own_type(hid_t id) { return Hid(id, H5Tclose); }
inline Hid own_object(hid_t id) { return Hid(id, H5Oclose); }

}  // namespace videz5::detail
