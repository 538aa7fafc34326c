// The platform table: `L` finds it, it changes exactly the texts that name the other platform's
// places, and every such text in the sources has its entry.

#include "app/PlatformTexts.h"

#include "core/records/Localization.h"

#include <QCoreApplication>
#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

namespace pv {
namespace {

QString text(std::string_view s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

const QStringList kPlatformMarkers{QStringLiteral("Mac"), QStringLiteral("macOS"), QStringLiteral("Finder"),
                                   QStringLiteral("Rendszerbeállítások"), QStringLiteral("menüsáv")};
// Texts that count the other platform's location permission among the settings to make.
const QStringList kPermissionCounts{QStringLiteral("Két beállítás"), QStringLiteral("Ez a kettő")};

bool namesThePlatform(const QString& s)
{
    for (const QString& marker : kPlatformMarkers)
        if (s.contains(marker))
            return true;
    return false;
}

// Every run of adjacent string literals in a source file, joined as the compiler joins them.
std::vector<QString> stringLiterals(const QString& source)
{
    static const QRegularExpression literal(QStringLiteral(R"re("((?:[^"\\\n]|\\.)*)")re"));
    std::vector<QString> out;
    qsizetype lastEnd = -1;
    auto it = literal.globalMatch(source);
    while (it.hasNext()) {
        const auto m = it.next();
        QString value = m.captured(1);
        value.replace(QStringLiteral("\\\""), QStringLiteral("\"")).replace(QStringLiteral("\\\\"), QStringLiteral("\\"));
        const bool adjacent = lastEnd >= 0 && source.mid(lastEnd, m.capturedStart() - lastEnd).trimmed().isEmpty();
        if (adjacent && !out.empty())
            out.back() += value;
        else
            out.push_back(value);
        lastEnd = m.capturedEnd();
    }
    return out;
}

bool isAscii(const QString& s)
{
    for (QChar c : s)
        if (c.unicode() > 0x7f)
            return false;
    return true;
}

struct PlatformTexts : ::testing::Test {
    static void SetUpTestSuite() { installPlatformTexts(); }
};

TEST_F(PlatformTexts, LookupFindsTheLinuxWordingOfEveryEntry)
{
    ASSERT_FALSE(platformTexts().empty());
    EXPECT_EQ(installPlatformTexts(), installPlatformTexts()) << "installed once";
    for (const PlatformText& entry : platformTexts()) {
        const QString key = text(entry.key);
        EXPECT_EQ(L(key), text(entry.linuxText)) << key.toStdString();
        EXPECT_NE(text(entry.linuxText), key);
    }
}

TEST_F(PlatformTexts, EveryOtherTextIsLeftAsItsKey)
{
    for (const char* key : {"Polvarine", "Bemutatkozás újra", "Súgó", "Nincs teendő",
                            "A helymeghatározás még nincs engedélyezve.", "Hagyd futni"})
        EXPECT_EQ(L(key), QString::fromUtf8(key)) << key;
    // Another context is not ours to answer.
    const QString key = text(platformTexts().front().key);
    EXPECT_EQ(QCoreApplication::translate("Other", key.toUtf8().constData()), key);
}

TEST_F(PlatformTexts, EntriesAreExactlyPlatformTextsWithLinuxWording)
{
    std::set<std::string_view> keys;
    for (const PlatformText& entry : platformTexts()) {
        EXPECT_TRUE(keys.insert(entry.key).second) << "twice: " << entry.key;
        const QString key = text(entry.key);
        const bool countsThePermission = std::any_of(kPermissionCounts.begin(), kPermissionCounts.end(),
                                                     [&](const QString& m) { return key.contains(m); });
        EXPECT_TRUE(namesThePlatform(key) || key.contains(QStringLiteral("helymeghatároz")) || countsThePermission)
            << "not a platform text: " << entry.key;
        EXPECT_FALSE(namesThePlatform(text(entry.linuxText))) << entry.linuxText;
    }
}

TEST_F(PlatformTexts, EveryPlatformTextOfTheSourcesHasAnEntryAndEveryEntryIsStillUsed)
{
    const QString root = qEnvironmentVariable("PV_SOURCE_DIR");
    if (root.isEmpty())
        GTEST_SKIP() << "PV_SOURCE_DIR is not set";
    std::set<QString> keys;
    for (const PlatformText& entry : platformTexts())
        keys.insert(text(entry.key));

    std::set<QString> used;
    std::vector<std::string> missing;
    for (const char* folder : {"core", "ui", "loadtest", "reports"}) {
        QDirIterator it(root + QLatin1Char('/') + QLatin1String(folder), {QStringLiteral("*.cpp"), QStringLiteral("*.h")},
                        QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            QFile file(path);
            ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
            for (const QString& literal : stringLiterals(QString::fromUtf8(file.readAll()))) {
                if (keys.count(literal) > 0)
                    used.insert(literal);
                // English event and log texts ("The computer woke up.") are stored as written; the
                // Hungarian user texts are the ones the table must cover.
                else if (namesThePlatform(literal) && !isAscii(literal))
                    missing.push_back(path.mid(root.size() + 1).toStdString() + ": " + literal.toStdString());
            }
        }
    }
    for (const std::string& m : missing)
        ADD_FAILURE() << "platform text without a Linux wording: " << m;
    for (const QString& key : keys)
        EXPECT_EQ(used.count(key), 1u) << "no longer in the sources: " << key.toStdString();
}

} // namespace
} // namespace pv
