#pragma once
// The CSV text of the export files: every field quoted (a quote inside doubled), fields separated
// by commas, lines joined by single line feeds with none after the last line.

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <vector>

namespace pv::reports {

class CSVWriter {
public:
    // One line of already formatted fields.
    static QString line(const QStringList& fields);

    // The header line, then one line per row in order; a document without rows is the header alone.
    template <typename Row>
    static QString document(const QStringList& headers, const std::vector<Row>& rows,
                            const std::function<QStringList(const Row&)>& format)
    {
        QString text = line(headers);
        for (const Row& row : rows) {
            text += QLatin1Char('\n');
            appendLine(text, format(row));
        }
        return text;
    }

    // Appends one line to text (document() without the copies).
    static void appendLine(QString& text, const QStringList& fields);
};

// Field formats of the export files, all independent of the user's locale.
namespace csv {

// A text column: a text that a spreadsheet would take for a formula (it begins with "=", "+", "-",
// "@", a tab or a carriage return) gets a leading apostrophe, so it is shown as text.
QString text(const QString& value);
QString text(const std::optional<QString>& value);
// An instant in UTC with milliseconds, for example 2024-05-01T18:03:07.250Z.
QString timestamp(double secondsSince1970);
QString timestamp(const std::optional<double>& secondsSince1970);
// Two decimals with a point: "12.35"; empty when absent.
QString fraction(double value);
QString fraction(const std::optional<double>& value);
// A whole number as written: "-61"; empty when absent.
QString whole(long long value);
QString whole(const std::optional<int>& value);
QString flag(bool value);

} // namespace csv

} // namespace pv::reports
