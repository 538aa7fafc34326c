#include "core/app/ErrorText.h"

#include "core/store/StoreError.h"

#include <asio.hpp>

namespace pv {

QString errorText(const std::exception& e)
{
    if (const auto* storeError = dynamic_cast<const StoreError*>(&e))
        return storeError->message();
    return QString::fromUtf8(e.what());
}

QString errorText(const std::exception_ptr& error)
{
    try {
        std::rethrow_exception(error);
    } catch (const asio::multiple_exceptions& e) {
        return errorText(e.first_exception()); // nested once per combined pair of reads
    } catch (const std::exception& e) {
        return errorText(e);
    } catch (...) {
    }
    return QStringLiteral("unknown error");
}

} // namespace pv
