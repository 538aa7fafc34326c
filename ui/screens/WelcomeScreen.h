#pragma once
// The first-run introduction: three steps (the three segments, the two settings that matter, "let
// it run") on a fixed 620 × 520 sheet. Finishing the last step calls onFinish; the screen itself
// stores nothing, and a new screen always starts at the first step.

#include "ui/screens/DesktopActions.h"
#include "ui/screens/ScreenParts.h"

#include <functional>

class QPushButton;
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

    WelcomeScreen(AppViewModel& viewModel, std::function<void()> onFinish, QWidget* parent = nullptr);
    WelcomeScreen(AppViewModel& viewModel, std::function<void()> onFinish, DesktopHooks hooks,
                  QWidget* parent = nullptr);

    int step() const { return step_; }
    // The page on show: 0, 1, or 2 for any other step.
    int shownPage() const;
    QAbstractButton* backButton() const;
    QPushButton* primaryButton() const { return primary_; }
    PVSwitch* launchSwitch() const { return launch_; }
    QAbstractButton* openSettingsButton() const { return openSettings_; }
    PVStepDots* dots() const { return dots_; }

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

    PreferencesStore& preferences_;
    std::function<void()> onFinish_;
    DesktopHooks hooks_;
    int step_ = 0;
    QStackedLayout* pages_ = nullptr;
    PVStepDots* dots_ = nullptr;
    QPushButton* back_ = nullptr;
    QPushButton* primary_ = nullptr;
    PVSwitch* launch_ = nullptr;
    QAbstractButton* openSettings_ = nullptr;
};

} // namespace pv
