#include "core/store/StoreError.h"

namespace pv {

StoreError::StoreError(int code, QString message)
    : code_(code), message_(std::move(message)), what_(message_.toStdString())
{
}

} // namespace pv
