#pragma once
// The first sections of the overview: the storage and update banners, "Hol van a hiba?" with the
// culprit chain, and the advice. Each is a widget that takes a snapshot and shows it; the overview
// decides whether it is present.

#include "ui/design/Components.h"
#include "ui/design/CulpritChain.h"
#include "ui/main/Ipv6Lines.h"
#include "ui/main/MainWidgets.h"
#include "ui/main/OverviewSnapshot.h"

#include <QUrl>
#include <QWidget>

class QPushButton;
class QVBoxLayout;

namespace pv {

// A rounded panel (radius 8) with a fill and a 1-pt border inside its edge, both tokens.
class BannerFrame : public QWidget {
    Q_OBJECT
public:
    BannerFrame(const PVColor& fill, const PVColor& border, QWidget* parent = nullptr);
    void setColors(const PVColor& fill, const PVColor& border);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    PVColor fill_;
    PVColor border_;
};

class StorageBanner : public BannerFrame {
    Q_OBJECT
public:
    // The storage banner is `serious`; the model's status line uses the same banner at `watch`.
    explicit StorageBanner(QWidget* parent = nullptr, PVStatus level = PVStatus::serious);
    void setMessage(const QString& message);
    QString message() const;
    // The status line's tone: `good` confirms (a check mark), `watch` warns (a triangle).
    void setLevel(PVStatus level);
    PVStatus level() const { return level_; }
    // A button at the end of the banner ("Mappa megnyitása"); hidden while its text is empty.
    void setAction(const QString& text);
    QPushButton* actionButton() const { return action_; }

Q_SIGNALS:
    void actionTriggered();

protected:
    // The banner holds the focus only when its button went away under it; it is no Tab stop.
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    bool keyboardFocus_ = false;
    PVStatus level_;
    PVSymbolView* symbol_;
    PVText* message_;
    QPushButton* action_;
};

class UpdateBanner : public BannerFrame {
    Q_OBJECT
public:
    explicit UpdateBanner(QWidget* parent = nullptr);
    void setUpdate(const AvailableUpdate& update);
    QString titleText() const;
    QString notesText() const;
    QPushButton* downloadButton() const { return download_; }

private:
    PVText* title_;
    PVText* notes_;
    QPushButton* download_;
    QUrl url_;
};

class FaultLocationSection : public QWidget {
    Q_OBJECT
public:
    explicit FaultLocationSection(QWidget* parent = nullptr);
    void setSnapshot(const OverviewSnapshot& s, Timestamp now);
    PVCulpritChain* chain() const { return chain_; }
    QStringList evidenceTexts() const;
    QStringList caveatTexts() const;
    // Which stretch the evidence figures come from; empty while no evidence is shown.
    QString evidenceLeadText() const;
    // The IPv6 path's line under the chain and its advice; empty while none is shown.
    QString ipv6Text() const;
    QStringList ipv6AdviceTexts() const;

private:
    void setIpv6(const std::optional<ipv6_lines::Line>& line);
    QVBoxLayout* stack_;
    PVCulpritChain* chain_;
    PVSymbolTextRow* ipv6Row_;
    QWidget* ipv6Advice_;
    QVBoxLayout* ipv6AdviceRows_;
    std::optional<ipv6_lines::Line> shownIpv6_;
    PVText* evidenceLead_;
    QWidget* evidence_;
    QVBoxLayout* evidenceRows_;
    std::vector<PVSymbolTextRow*> caveats_;
    PVText* caption_;
    QStringList shownEvidence_;
    QStringList shownCaveats_;
};

class AdviceSection : public QWidget {
    Q_OBJECT
public:
    explicit AdviceSection(QWidget* parent = nullptr);
    void setAdvice(const AdviceSet& advice);
    bool showsPointlessNote() const;

private:
    PVAdviceCard* card_;
    QWidget* pointless_;
    PVSymbolTextRow* pointlessRow_;
};

} // namespace pv
