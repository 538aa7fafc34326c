#pragma once
// Small pieces shared by the main window, the overview and the menu-bar panel: a hairline divider,
// the round status glyph of the panel, a bulleted text row, a symbol-and-text row, the empty-state
// screen, the application-wide notifications and the registry of the main window.

#include "ui/design/Symbols.h"
#include "ui/design/Text.h"

#include <QBoxLayout>
#include <QObject>
#include <QSplitter>
#include <QPointer>
#include <QWidget>

#include <functional>
#include <map>

namespace pv {

// A split view whose seams are hairlines in the token colour, over the canvas that lies under the
// whole split view.
class PVSeamSplitter : public QSplitter {
    Q_OBJECT
public:
    using QSplitter::QSplitter;

protected:
    QSplitterHandle* createHandle() override;
};

// A row of controls that stacks them when its width does not hold them side by side (large text in
// a narrow sidebar), so that none of them is squeezed and its text cut.
class PVWrappingRow : public QWidget {
    Q_OBJECT
public:
    PVWrappingRow(int spacing, QWidget* parent = nullptr);
    QBoxLayout* box() const { return box_; }
    // The side-by-side width: every shown widget at its preferred width.
    int rowWidth() const;
    // Stacked, the row needs only its widest control.
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;
    bool event(QEvent* event) override;

private:
    void rearrange();
    QBoxLayout* box_;
};

// A 1-px line in the hairline colour, resolved at paint time.
class PVDivider : public QWidget {
    Q_OBJECT
public:
    explicit PVDivider(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

// A circle in the level's wash with the level's symbol in its saturated mark colour.
class PVStatusGlyph : public QWidget {
    Q_OBJECT
public:
    PVStatusGlyph(PVStatus level, double diameter, double symbolPoints, QWidget* parent = nullptr);
    void setLevel(PVStatus level);
    PVStatus level() const { return level_; }
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    PVStatus level_;
    double diameter_;
    double symbolPoints_;
};

// A 4-px dot level with the first line, then wrapping text in caption / ink.secondary.
class PVBulletRow : public QWidget {
    Q_OBJECT
public:
    explicit PVBulletRow(const QString& text, QWidget* parent = nullptr);
    QString text() const;

private:
    PVText* text_;
};

// A top-aligned symbol followed by wrapping text (caveats, the "pointless" note, advice steps).
class PVSymbolTextRow : public QWidget {
    Q_OBJECT
public:
    PVSymbolTextRow(std::string_view symbolName, double symbolPoints, const PVColor& symbolTint, double symbolTopPad,
                    const QString& text, const PVFontToken& token, const PVColor& textColor, QWidget* parent = nullptr);
    void setText(const QString& text);
    QString text() const;
    void setSymbol(std::string_view symbolName, const PVColor& tint);

private:
    PVSymbolView* symbol_;
    PVText* text_;
};

// The shared empty state: a large light symbol, a title and a centred message at most 420 wide.
class PVPlaceholderScreen : public QWidget {
    Q_OBJECT
public:
    PVPlaceholderScreen(const QString& title, const QString& message, std::string_view symbolName,
                        QWidget* parent = nullptr);
    QString title() const { return title_; }
    QString message() const { return message_; }

private:
    QString title_;
    QString message_;
};

// Application-wide notifications by name, posted from any part of the program on the GUI thread.
class NotificationCenter : public QObject {
    Q_OBJECT
public:
    static NotificationCenter& instance();
    void post(const QString& name);

Q_SIGNALS:
    void posted(const QString& name);
    // The request to show the welcome flow again ("polvarine.reopenWelcome").
    void reopenWelcome();

private:
    NotificationCenter() = default;
};

// Windows the program opens by identifier: the shell registers how to make each one; opening shows,
// raises and activates it, making it anew when it was destroyed.
class WindowRegistry {
public:
    using Factory = std::function<QWidget*()>;
    static WindowRegistry& instance();
    void registerWindow(const QString& id, Factory factory);
    void unregisterWindow(const QString& id);
    bool has(const QString& id) const;
    // False when nothing is registered under the identifier.
    bool open(const QString& id);
    QWidget* window(const QString& id) const;

private:
    struct Entry {
        Factory factory;
        QPointer<QWidget> window;
    };
    std::map<QString, Entry> entries_;
};

} // namespace pv
