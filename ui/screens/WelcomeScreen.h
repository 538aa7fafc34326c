#pragma once
// The first-run introduction: three steps (the three segments, the setting that matters, "let it
// run") on a sheet of at least 620 × 520 that grows to its content at a larger text size, within
// the screen; beyond that its pages scroll. Finishing the last step calls onFinish; the screen
// itself stores nothing, and a new screen always starts at the first step.

#include "ui/screens/DesktopActions.h"
#include "ui/screens/ScreenParts.h"

#include <functional>

class QHBoxLayout;
class QPushButton;
class QScrollArea;
class QStackedLayout;
class QVariantAnimation;

namespace pv {

class AppViewModel;
class PreferencesStore;

// Three dots, the current one drawn long; width and colour glide to a new step.
class PVStepDots : public QWidget {
    Q_OBJECT
public:
    explicit PVStepDots(int count, QWidget* parent = nullptr);
    void setCurrent(int index);
    int current() const { return current_; }
    // Width of a dot at an animation position (0: short, 1: long).
    static double dotWidth(double longness) { return 6 + 12 * longness; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int count_;
    int current_ = 0;
    int previous_ = 0;
    double progress_ = 1;
    QVariantAnimation* animation_;
};

class WelcomeScreen : public QWidget {
    Q_OBJECT
public:
    static constexpr int kWidth = 620;
    static constexpr int kHeight = 520;
    static constexpr int kMargin = 32;
    // Kept free of the screen's available area around the sheet.
    static constexpr int kScreenRoom = 48;

    WelcomeScreen(AppViewModel& viewModel, std::function<void()> onFinish, QWidget* parent = nullptr);
    WelcomeScreen(AppViewModel& viewModel, std::function<void()> onFinish, DesktopHooks hooks,
                  QWidget* parent = nullptr);

    int step() const { return step_; }
    // The page on show: 0, 1, or 2 for any other step.
    int shownPage() const;
    QAbstractButton* backButton() const;
    PVPrimaryButton* primaryButton() const { return primary_; }
    PVSwitch* launchSwitch() const { return launch_; }
    PVStepDots* dots() const { return dots_; }
    QScrollArea* pageScroller() const { return scroll_; }
    // The sheet's size for a screen area of `available`.
    QSize contentSize(const QSize& available) const;

    // The primary action: the next step, or on the last one the finish (the step stays).
    void advance();
    void back();

protected:
    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    QWidget* makePage0();
    QWidget* makePage1();
    QWidget* makePage2();
    void refresh();
    void fitToContent();
    // Activates the sheet's window and gives the primary button the keyboard, so Return advances.
    void takeKeyboard();

    PreferencesStore& preferences_;
    std::function<void()> onFinish_;
    DesktopHooks hooks_;
    int step_ = 0;
    QScrollArea* scroll_ = nullptr;
    QStackedLayout* pages_ = nullptr;
    QHBoxLayout* nav_ = nullptr;
    PVStepDots* dots_ = nullptr;
    QPushButton* back_ = nullptr;
    PVPrimaryButton* primary_ = nullptr;
    PVSwitch* launch_ = nullptr;
};

} // namespace pv
