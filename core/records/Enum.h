#pragma once
// A small table-driven raw-value mapping for enumerations: each enumeration lists its cases once,
// in declaration order, with the exact raw strings that are stored and encoded.

#include <QString>

#include <array>
#include <optional>
#include <string_view>
#include <utility>

namespace pv {

template <typename E, std::size_t N>
struct EnumTable {
    std::array<std::pair<E, std::string_view>, N> entries;

    constexpr std::string_view raw(E e) const
    {
        for (const auto& [k, v] : entries)
            if (k == e)
                return v;
        return {};
    }
    QString rawText(E e) const
    {
        const auto r = raw(e);
        return QString::fromLatin1(r.data(), static_cast<qsizetype>(r.size()));
    }
    std::optional<E> parse(const QString& s) const
    {
        for (const auto& [k, v] : entries)
            if (s == QLatin1String(v.data(), static_cast<qsizetype>(v.size())))
                return k;
        return std::nullopt;
    }
    std::array<E, N> allCases() const
    {
        std::array<E, N> out{};
        for (std::size_t i = 0; i < N; ++i)
            out[i] = entries[i].first;
        return out;
    }
};

} // namespace pv
