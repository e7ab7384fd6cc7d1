// A window's job off its thread: the window's event loop runs while the work
// does, what the work hands back runs on the window's thread in order with
// Done last, one job at a time, and the ways a job is waited for.
#include "BackgroundJob.h"
#include "WorkerThreads.h"

#include <QCoreApplication>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <memory>
#include <stdexcept>

using terralume::ui::BackgroundJob;

namespace {

struct Outcome {
    QStringList seen; // on the window's thread, in order
    bool allOnWindowThread = true;
    QString failure;

    void note(const QString &what)
    {
        seen.append(what);
        allOnWindowThread = allOnWindowThread && QThread::currentThread() == QCoreApplication::instance()->thread();
    }
    BackgroundJob::Done done()
    {
        return [this](std::exception_ptr failed) {
            try {
                if (failed)
                    std::rethrow_exception(failed);
                note(QStringLiteral("done"));
            } catch (const std::exception &error) {
                failure = QString::fromUtf8(error.what());
                note(QStringLiteral("failed"));
            }
        };
    }
};

} // namespace

class BackgroundJobTest : public QObject {
    Q_OBJECT
private slots:
    // The work waits until the window's event loop has run a timer: the job
    // ends only if the loop turns while the work runs.
    void windowLoopRunsDuringTheWork_data()
    {
        QTest::addColumn<bool>("fails");
        QTest::newRow("succeeds") << false;
        QTest::newRow("fails") << true;
    }
    void windowLoopRunsDuringTheWork()
    {
        QFETCH(bool, fails);
        BackgroundJob job;
        QSignalSpy finished(&job, &BackgroundJob::finished);
        Outcome outcome;
        auto loopTurned = std::make_shared<QSemaphore>();
        QVERIFY(job.start(
            [loopTurned, fails](const BackgroundJob::HandBack &handBack, std::stop_token) {
                handBack([] {});
                loopTurned->acquire();
                if (fails)
                    throw std::runtime_error("the work failed");
            },
            outcome.done()));
        QVERIFY(!job.ranHere());
        QVERIFY(job.running());
        QTimer::singleShot(0, [loopTurned] { loopTurned->release(); });
        QVERIFY(finished.wait());
        QVERIFY(!job.running());
        QCOMPARE(outcome.seen, QStringList{fails ? QStringLiteral("failed") : QStringLiteral("done")});
        QCOMPARE(outcome.failure, fails ? QStringLiteral("the work failed") : QString());
        QVERIFY(outcome.allOnWindowThread);
    }

    // Steps run on the window's thread in the order handed, Done after them,
    // whether the loop delivers them or finish() does.
    void stepsRunInOrderBeforeDone_data()
    {
        QTest::addColumn<bool>("finishNow");
        QTest::newRow("delivered by the event loop") << false;
        QTest::newRow("finish waits and delivers") << true;
    }
    void stepsRunInOrderBeforeDone()
    {
        QFETCH(bool, finishNow);
        BackgroundJob job;
        QSignalSpy finished(&job, &BackgroundJob::finished);
        Outcome outcome;
        QVERIFY(job.start(
            [&outcome](const BackgroundJob::HandBack &handBack, std::stop_token) {
                for (int k = 1; k <= 3; ++k)
                    handBack([&outcome, k] { outcome.note(QString::number(k)); });
            },
            outcome.done()));
        if (finishNow) {
            job.finish();
            QCOMPARE(finished.size(), 1);
        } else {
            QVERIFY(finished.wait());
        }
        QCOMPARE(outcome.seen, (QStringList{"1", "2", "3", "done"}));
        QVERIFY(outcome.allOnWindowThread);
        QVERIFY(!job.running());
    }

    void secondStartWhileRunningIsRefused()
    {
        BackgroundJob job;
        QSignalSpy finished(&job, &BackgroundJob::finished);
        Outcome first, second;
        auto release = std::make_shared<QSemaphore>();
        QVERIFY(job.start([release](const BackgroundJob::HandBack &, std::stop_token) { release->acquire(); }, first.done()));
        QVERIFY(!job.start([](const BackgroundJob::HandBack &, std::stop_token) {}, second.done()));
        release->release();
        QVERIFY(finished.wait());
        QCOMPARE(first.seen, QStringList{"done"});
        QCOMPARE(second.seen, QStringList{});
        // Free again once Done has run.
        QVERIFY(job.start([](const BackgroundJob::HandBack &, std::stop_token) {}, second.done()));
        job.finish();
        QCOMPARE(second.seen, QStringList{"done"});
    }

    // A step that fails ends the job as the work failing does: Done gets
    // the first failure, and what comes after still runs.
    void firstFailureReachesDone_data()
    {
        QTest::addColumn<bool>("stepFails");
        QTest::addColumn<bool>("workFails");
        QTest::addColumn<QString>("failure");
        QTest::newRow("a step fails") << true << false << "step 2 failed";
        QTest::newRow("a step, then the work") << true << true << "step 2 failed";
        QTest::newRow("the work alone") << false << true << "the work failed";
    }
    void firstFailureReachesDone()
    {
        QFETCH(bool, stepFails);
        QFETCH(bool, workFails);
        QFETCH(QString, failure);
        BackgroundJob job;
        Outcome outcome;
        QVERIFY(job.start(
            [&](const BackgroundJob::HandBack &handBack, std::stop_token) {
                handBack([&] { outcome.note(QStringLiteral("1")); });
                handBack([&] {
                    if (stepFails)
                        throw std::runtime_error("step 2 failed");
                    outcome.note(QStringLiteral("2"));
                });
                handBack([&] { outcome.note(QStringLiteral("3")); });
                if (workFails)
                    throw std::runtime_error("the work failed");
            },
            outcome.done()));
        job.finish();
        QCOMPARE(outcome.failure, failure);
        QCOMPARE(outcome.seen.join(u' '), stepFails ? QStringLiteral("1 3 failed") : QStringLiteral("1 2 3 failed"));
        QVERIFY(!job.running());
    }

    // No memory to set a job up: the start fails as a whole, and the next
    // one works.
    void jobThatCannotBeSetUpLeavesNoneBehind()
    {
        struct CannotBeCopied {
            CannotBeCopied() = default;
            CannotBeCopied(CannotBeCopied &&) = default;
            CannotBeCopied(const CannotBeCopied &) { throw std::bad_alloc(); }
            void operator()(const BackgroundJob::HandBack &, std::stop_token) const {}
        };
        BackgroundJob job;
        Outcome first, second;
        QVERIFY_THROWS_EXCEPTION(std::bad_alloc, job.start(BackgroundJob::Work(CannotBeCopied()), first.done()));
        QVERIFY(!job.running());
        QVERIFY(job.start([](const BackgroundJob::HandBack &, std::stop_token) {}, second.done()));
        job.finish();
        QCOMPARE(first.seen, QStringList{});
        QCOMPARE(second.seen, QStringList{"done"});
    }

    // No thread to be had: the work runs here and now, and the job is over
    // when start returns.
    void refusedThreadRunsTheWorkHere()
    {
        const terralume::RefusedThreadStarts refused;
        BackgroundJob job;
        Outcome outcome;
        QVERIFY(job.start([&outcome](const BackgroundJob::HandBack &handBack,
                                     std::stop_token) { handBack([&outcome] { outcome.note(QStringLiteral("1")); }); },
                          outcome.done()));
        QVERIFY(job.ranHere());
        QVERIFY(!job.running());
        QCOMPARE(outcome.seen, (QStringList{"1", "done"}));
    }

    // Work that waits on others learns when the job is given up, by a stop
    // request or by the job going away.
    void stopReachesTheWork_data()
    {
        QTest::addColumn<bool>("destroy");
        QTest::newRow("stop requested") << false;
        QTest::newRow("job destroyed") << true;
    }
    void stopReachesTheWork()
    {
        QFETCH(bool, destroy);
        Outcome outcome;
        auto started = std::make_shared<QSemaphore>();
        const BackgroundJob::Work waitForStop = [started](const BackgroundJob::HandBack &, std::stop_token stop) {
            started->release();
            QSemaphore never;
            while (!stop.stop_requested())
                (void)never.tryAcquire(1, 10);
            throw std::runtime_error("given up");
        };
        {
            BackgroundJob job;
            QSignalSpy finished(&job, &BackgroundJob::finished);
            QVERIFY(job.start(waitForStop, outcome.done()));
            started->acquire();
            if (destroy)
                return;
            job.requestStop();
            QVERIFY(finished.wait());
        }
        QCOMPARE(outcome.failure, QStringLiteral("given up"));
    }

    // Going away with work still running waits for the work and runs nothing
    // it handed back on what is going away.
    void destroyedJobWaitsForItsWork()
    {
        Outcome outcome;
        bool workEnded = false;
        auto release = std::make_shared<QSemaphore>();
        {
            BackgroundJob job;
            QVERIFY(job.start(
                [&, release](const BackgroundJob::HandBack &handBack, std::stop_token) {
                    release->acquire();
                    handBack([&outcome] { outcome.note(QStringLiteral("step")); });
                    workEnded = true;
                },
                outcome.done()));
            release->release();
        }
        QVERIFY(workEnded);
        QCoreApplication::processEvents();
        QCOMPARE(outcome.seen, QStringList{});
    }
};

QTEST_GUILESS_MAIN(BackgroundJobTest)
#include "BackgroundJobTest.moc"
