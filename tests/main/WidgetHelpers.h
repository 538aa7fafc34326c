#pragma once
// What the offscreen widget tests share: letting the event loop settle, the folder of the review
// screenshots, and the check that no shown text is cut.

#include "ui/design/Text.h"

#include <QApplication>
#include <QDir>
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

// Every text widget below `root` that is shown gets at least the height its text needs.
inline void expectNoTextCut(QWidget* root, const std::string& where)
{
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

} // namespace pv::test
