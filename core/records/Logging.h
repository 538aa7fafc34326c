#pragma once
// One logging category per component, named "com.tovarhelm.polvarine.<component>".

#include <QLoggingCategory>

namespace pv::log {
const QLoggingCategory& bootstrap();
const QLoggingCategory& storage();
const QLoggingCategory& probe();
const QLoggingCategory& icmp();
const QLoggingCategory& dns();
const QLoggingCategory& http();
const QLoggingCategory& topology();
const QLoggingCategory& path();
const QLoggingCategory& wifi();
const QLoggingCategory& preferences();
const QLoggingCategory& update();
const QLoggingCategory& monitoring();
const QLoggingCategory& loadtest();
const QLoggingCategory& reports();
const QLoggingCategory& ui();
} // namespace pv::log
