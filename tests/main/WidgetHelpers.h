#pragma once
// What the offscreen widget tests share: letting the event loop settle, the folder of the review
// screenshots, and the check that no shown text is cut.

#include "ui/design/Components.h"
#include "ui/design/Controls.h"
#include "ui/design/Text.h"

#include <QAbstractButton>
#include <QAbstractScrollArea>
#include <QApplication>
#include <QDir>
#include <QFontMetricsF>
#include <QLabel>
#include <QWidget>

#include <gtest/gtest.h>

#include <string>

namespace pv::test {

inline void settle()
{
    for (int i = 0; i < 4; ++i)
        QApplication::processEvents();
}

inline QString screensDir()
{
    const QString dir = QStringLiteral(PV_SCREENS_DIR);
    QDir().mkpath(dir);
    return dir;
}

// Whether a widget lies across the whole width of the pages it is shown in: a page that scrolls
// only up and down may hide it above or below, never at its sides.
inline bool shownAcross(QWidget* widget, QWidget* root)
{
    for (QWidget* ancestor = widget->parentWidget(); ancestor != nullptr; ancestor = ancestor->parentWidget()) {
        const auto* area = qobject_cast<QAbstractScrollArea*>(ancestor->parentWidget());
        if (area != nullptr && area->viewport() == ancestor && area->horizontalScrollBarPolicy() == Qt::ScrollBarAlwaysOff) {
            const QRect r(widget->mapTo(ancestor, QPoint(0, 0)), widget->size());
            if (r.left() < 0 || r.x() + r.width() > ancestor->width())
                return false;
        }
        if (ancestor == root)
            break;
    }
    return true;
}

// Every text widget below `root` that is shown gets at least the height its text needs, every
// shown button at least the size its title needs, and every segment of a segmented picker the
// width and height of its title.
inline void expectNoTextCut(QWidget* root, const std::string& where)
{
    for (QAbstractButton* button : root->findChildren<QAbstractButton*>()) {
        if (!button->isVisibleTo(root) || button->text().isEmpty())
            continue;
        const QSize needed = button->sizeHint();
        EXPECT_TRUE(button->width() >= needed.width() && button->height() >= needed.height())
            << where << ": cut button \"" << button->text().toStdString() << "\" " << button->width() << "×"
            << button->height() << " of " << needed.width() << "×" << needed.height();
    }
    for (PVSegmentedPicker* picker : root->findChildren<PVSegmentedPicker*>()) {
        if (!picker->isVisibleTo(root))
            continue;
        const QFontMetricsF fm(picker->titleFont());
        for (int i = 0; i < picker->count(); ++i) {
            const QRect segment = picker->segmentRect(i);
            EXPECT_TRUE(segment.width() >= fm.horizontalAdvance(picker->title(i)) + 4 && segment.height() >= fm.height())
                << where << ": cut segment \"" << picker->title(i).toStdString() << "\" " << segment.width() << "×"
                << segment.height() << " of " << fm.horizontalAdvance(picker->title(i)) << "×" << fm.height();
        }
    }
    for (QLabel* label : root->findChildren<QLabel*>()) {
        if (!label->isVisibleTo(root) || label->text().isEmpty())
            continue;
        const int needed = label->wordWrap() ? label->heightForWidth(label->width()) : label->sizeHint().height();
        EXPECT_TRUE(label->height() >= needed && (label->wordWrap() || label->width() >= label->sizeHint().width()))
            << where << ": cut label \"" << label->text().toStdString() << "\" " << label->width() << "×"
            << label->height();
    }
    for (PVText* text : root->findChildren<PVText*>()) {
        if (!text->isVisibleTo(root) || text->text().isEmpty())
            continue;
        if (text->hasHeightForWidth())
            EXPECT_GE(text->height(), text->heightForWidth(text->width()))
                << where << ": cut text \"" << text->text().toStdString() << "\"";
        else
            EXPECT_GE(text->width() + 1, static_cast<int>(text->naturalWidth()))
                << where << ": cut line \"" << text->text().toStdString() << "\"";
    }
}

// expectNoTextCut, and every shown text lies across the whole width of the pages it is in.
inline void expectNoTextCutAnywhere(QWidget* root, const std::string& where)
{
    expectNoTextCut(root, where);
    for (PVText* text : root->findChildren<PVText*>())
        if (text->isVisibleTo(root) && !text->text().isEmpty()) {
            EXPECT_TRUE(shownAcross(text, root))
                << where << ": text cut at the side \"" << text->text().toStdString() << "\"";
        }
}

// A shown advice card shows every one of its steps, inside the card and tall enough to read.
inline void expectAdviceCardsFilled(QWidget* root, const std::string& where)
{
    for (PVAdviceCard* card : root->findChildren<PVAdviceCard*>()) {
        if (!card->isVisibleTo(root))
            continue;
        EXPECT_FALSE(card->stepViews().empty()) << where << ": an advice card without steps";
        for (PVText* step : card->stepViews()) {
            const QRect inCard(step->mapTo(card, QPoint(0, 0)), step->size());
            EXPECT_TRUE(step->isVisibleTo(root) && card->rect().contains(inCard)
                        && step->height() >= step->heightForWidth(step->width()))
                << where << ": advice step not shown \"" << step->text().toStdString() << "\"";
        }
    }
}

} // namespace pv::test
