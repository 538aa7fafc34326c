#pragma once
// The dossier screen of the workspace: the user picks how far back the dossier reaches and whether
// network names are hidden, and presses one button; the application model builds and saves the PDF,
// and the screen follows its published state (running flag, last file, status message). Below the
// controls it lists what a dossier contains and what it is and is not good for.

#include <QScrollArea>
#include <QString>
#include <QUrl>

#include <array>
#include <optional>

class QProgressBar;
class QPushButton;

namespace pv {

class AppViewModel;
class DossierNotice;
class PVPrimaryButton;
class PVSegmentedPicker;
class PVSwitch;
class PVText;

enum class DossierRangeOption { lastDay, lastWeek, lastMonth };
inline constexpr std::array<DossierRangeOption, 3> kDossierRangeOptions{
    DossierRangeOption::lastDay, DossierRangeOption::lastWeek, DossierRangeOption::lastMonth};
QString rawValue(DossierRangeOption option);
std::optional<DossierRangeOption> parseDossierRangeOption(const QString& raw);
QString title(DossierRangeOption option);
// Seconds back from now: a fixed 1, 7 or 30 days, never a calendar month.
double duration(DossierRangeOption option);

class DossierScreen : public QScrollArea {
    Q_OBJECT
public:
    explicit DossierScreen(AppViewModel& model, QWidget* parent = nullptr);

    DossierRangeOption range() const { return range_; }
    void setRange(DossierRangeOption range);
    bool anonymise() const { return anonymise_; }
    void setAnonymise(bool anonymise);

    // The create button's action: reads the range and the switch once and starts the build.
    void create();

    // The controls, for tests and screenshots.
    PVPrimaryButton* createButton() const { return createButton_; }
    QPushButton* revealButton() const { return revealButton_; }
    QProgressBar* spinner() const { return spinner_; }
    PVSwitch* anonymiseSwitch() const { return anonymiseSwitch_; }
    PVSegmentedPicker* rangePicker() const { return rangePicker_; }
    PVText* statusLine() const { return status_; }
    // The panel around the status line, and whether it shows a warning (a failure) or a confirmation.
    QWidget* statusNotice() const;
    bool statusIsWarning() const;

private:
    void refresh();
    void reveal();
    void showWarning(const QString& message);

    AppViewModel& model_;
    DossierRangeOption range_ = DossierRangeOption::lastWeek;
    bool anonymise_ = false;
    bool focusParked_ = false; // the focus waits on the switch while a build runs

    PVSegmentedPicker* rangePicker_ = nullptr;
    PVSwitch* anonymiseSwitch_ = nullptr;
    PVPrimaryButton* createButton_ = nullptr;
    QProgressBar* spinner_ = nullptr;
    QPushButton* revealButton_ = nullptr;
    DossierNotice* notice_ = nullptr;
    PVText* status_ = nullptr;
};

} // namespace pv
