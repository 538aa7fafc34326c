#pragma once
// The text a failure shows in a status line: the store's own message for store errors, what()
// otherwise.

#include <QString>

#include <exception>

namespace pv {

QString errorText(const std::exception& error);
QString errorText(const std::exception_ptr& error);

} // namespace pv
