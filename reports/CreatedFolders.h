#pragma once
// The folders a file operation makes on its way to its target folder. A failed export or dossier
// removes exactly these again, deepest first and only while empty, so a folder that was there
// before (or that a concurrent operation has filled meanwhile) is never removed.

#include <QString>
#include <QStringList>

namespace pv::reports {

class CreatedFolders {
public:
    // Makes `folder` and its missing parents. Throws std::filesystem::filesystem_error naming
    // `folder` when that fails; whatever it made by then is removed again first.
    explicit CreatedFolders(const QString& folder);

    // Whether the target folder itself was made here.
    bool madeTarget() const { return !made_.isEmpty(); }
    // The folders made here, the target first.
    const QStringList& made() const { return made_; }
    // Removes the made folders that are empty, the target first.
    void removeEmpty() const noexcept;

private:
    QStringList made_;
};

} // namespace pv::reports
