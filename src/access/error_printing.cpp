#include "access.hpp"

namespace videz5::detail {

ErrorPrintingOff::ErrorPrintingOff() {
    if (H5Eauto_is_v2(H5E_DEFAULT, &is_v2_) < 0) return;
    if (is_v2_) {
        saved_ = H5Eget_auto2(H5E_DEFAULT, &func2_, &data_) >= 0;
        if (saved_) H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
    } else {
        saved_ = H5Eget_auto1(&func1_, &data_) >= 0;
        if (saved_) H5Eset_auto1(nullptr, nullptr);
    }
}

ErrorPrintingOff::~ErrorPrintingOff() {
    if (!saved_) return;
    if (is_v2_)
        H5Eset_auto2(H5E_DEFAULT, func2_, data_);
    else
        H5Eset_auto1(func1_, data_);
}

}  // namespace videz5::detail
