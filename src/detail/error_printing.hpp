// Switching HDF5's automatic error printing off around calls whose failure is
// an answer rather than an error (a missing group, a probe of a file).
#pragma once

#include <hdf5.h>

namespace videz5::detail {

// Switches HDF5's automatic error printing off for its lifetime and restores
// exactly the setting in force before, whichever API generation installed it:
// saving a 1.8-style setting through the 1.6 call fails, and restoring a
// default through the 1.6 call would silently turn it into a 1.6-style one.
class ErrorPrintingOff {
public:
    ErrorPrintingOff();
    ~ErrorPrintingOff();
    ErrorPrintingOff(const ErrorPrintingOff&) = delete;
    ErrorPrintingOff& operator=(const ErrorPrintingOff&) = delete;

private:
    bool saved_ = false;
    unsigned is_v2_ = 1;
    H5E_auto1_t func1_ = nullptr;
    H5E_auto2_t func2_ = nullptr;
    void* data_ = nullptr;
};

inline ErrorPrintingOff::ErrorPrintingOff() {
    if (H5Eauto_is_v2(H5E_DEFAULT, &is_v2_) < 0) return;  // fault-check: printing-generation
    if (is_v2_) {
        saved_ = H5Eget_auto2(H5E_DEFAULT, &func2_, &data_) >= 0;
        if (saved_) H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
    } else {
        saved_ = H5Eget_auto1(&func1_, &data_) >= 0;
        if (saved_) H5Eset_auto1(nullptr, nullptr);
    }
}

inline ErrorPrintingOff::~ErrorPrintingOff() {
    if (!saved_) return;
    if (is_v2_)
        H5Eset_auto2(H5E_DEFAULT, func2_, data_);
    else
        H5Eset_auto1(func1_, data_);
}

}  // namespace videz5::detail
