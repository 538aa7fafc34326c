// One copy per user: the lock, the hand-over to the running copy, and the cases where the lock's
// holder is gone or does not answer.

#include "app/ApplicationShell.h"
#include "app/SingleInstance.h"

#include "tests/main/ModelFixture.h"
#include "tests/support/TestSupport.h"
#include "ui/main/WorkspaceView.h"

#include <QElapsedTimer>
#include <QFile>
#include <QLockFile>
#include <QProcess>
#include <QSysInfo>

#include <gtest/gtest.h>

namespace pv {
namespace {

using namespace std::chrono_literals;

TEST(SingleInstance, ASecondLaunchHandsOverToTheFirstAndTheFirstIsAskedOnce)
{
    const QString folder = test::makeTempDir() + QStringLiteral("/run/polvarine");
    SingleInstance first(folder);
    ASSERT_EQ(first.claim(), SingleInstance::Outcome::primary) << first.errorString().toStdString();
    int activations = 0;
    QObject::connect(&first, &SingleInstance::activationRequested, [&] { ++activations; });

    SingleInstance second(folder);
    EXPECT_EQ(second.claim(), SingleInstance::Outcome::handedOver) << second.errorString().toStdString();
    EXPECT_TRUE(test::pumpUntil([&] { return activations == 1; }, 3s));
    test::pumpUntil([] { return false; }, 200ms);
    EXPECT_EQ(activations, 1);

    SingleInstance third(folder);
    EXPECT_EQ(third.claim(), SingleInstance::Outcome::handedOver);
    EXPECT_TRUE(test::pumpUntil([&] { return activations == 2; }, 3s));
}

TEST(SingleInstance, TheNextLaunchRunsOnceTheFirstHasEnded)
{
    const QString folder = test::makeTempDir();
    {
        SingleInstance first(folder);
        ASSERT_EQ(first.claim(), SingleInstance::Outcome::primary);
    }
    // The socket file of a copy that is gone must not stand in the way either.
    QFile leftover(folder + QStringLiteral("/polvarine.socket"));
    ASSERT_TRUE(leftover.open(QIODevice::WriteOnly));
    leftover.close();
    SingleInstance next(folder);
    EXPECT_EQ(next.claim(), SingleInstance::Outcome::primary) << next.errorString().toStdString();
}

TEST(SingleInstance, TheLockOfACopyThatCrashedIsTakenOver)
{
    const QString folder = test::makeTempDir();
    // A lock written by a process that is gone (the pid of a finished child), as a crash leaves it.
    QProcess gone;
    gone.start(QStringLiteral("true"), {});
    ASSERT_TRUE(gone.waitForStarted(5000));
    const qint64 deadPid = gone.processId();
    ASSERT_TRUE(gone.waitForFinished(5000));
    ASSERT_GT(deadPid, 0);
    QFile lock(folder + QStringLiteral("/polvarine.lock"));
    ASSERT_TRUE(lock.open(QIODevice::WriteOnly));
    lock.write(QStringLiteral("%1\npolvarine\n%2\n").arg(deadPid).arg(QSysInfo::machineHostName()).toUtf8());
    lock.close();

    SingleInstance next(folder);
    EXPECT_EQ(next.claim(500ms), SingleInstance::Outcome::primary) << next.errorString().toStdString();
}

TEST(SingleInstance, AHolderThatNeverAnswersIsReportedWithinThePatience)
{
    const QString folder = test::makeTempDir();
    QLockFile holder(folder + QStringLiteral("/polvarine.lock"));
    ASSERT_TRUE(holder.tryLock(0));

    SingleInstance late(folder);
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(late.claim(400ms), SingleInstance::Outcome::failed);
    EXPECT_LT(clock.elapsed(), 3000);
    EXPECT_TRUE(late.errorString().contains(QStringLiteral("does not answer")));
}

TEST(SingleInstance, AFolderThatCannotBeMadeFails)
{
    SingleInstance nowhere(QStringLiteral("/proc/polvarine-cannot-be-here"));
    EXPECT_EQ(nowhere.claim(100ms), SingleInstance::Outcome::failed);
    EXPECT_FALSE(nowhere.errorString().isEmpty());
}

TEST(SingleInstance, TheHandOverShowsTheRunningCopysHiddenWindow)
{
    const QString dir = test::makeTempDir();
    auto settings = test::makeSettings(dir);
    settings->setValue(QLatin1String(WorkspaceView::didWelcomeKey), true);
    ApplicationShell::Options options;
    options.makeModel = [dir] { return test::makeModel(dir); };
    options.trayAvailable = true;
    options.settings = settings;
    ApplicationShell shell(std::move(options));
    shell.install();

    SingleInstance running(dir + QStringLiteral("/lock"));
    ASSERT_EQ(running.claim(), SingleInstance::Outcome::primary);
    shell.followActivations(running);
    MainWindow* window = shell.showMainWindow();
    window->hide(); // closed to the tray

    SingleInstance launched(dir + QStringLiteral("/lock"));
    ASSERT_EQ(launched.claim(), SingleInstance::Outcome::handedOver);
    EXPECT_TRUE(test::pumpUntil([&] { return window->isVisible(); }, 3s));
    EXPECT_EQ(shell.mainWindow(), window);
}

} // namespace
} // namespace pv
