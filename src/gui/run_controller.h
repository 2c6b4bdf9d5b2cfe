// Runs one engine run (ExecuteRun) on a worker thread for the window, so that
// a large file never freezes it. What the run reports reaches the window's
// thread in run order, gathered: the worker only appends each handled file to
// a queue, and the window's thread takes the whole queue at most once per
// display frame (kDeliveryInterval). A run over thousands of small files thus
// costs one wake-up per frame, not one per file, and the window answers
// clicks between deliveries. Then exactly one of finished() or failed(),
// after every file of the run was delivered. The window's Stop box is
// mirrored into an atomic flag that the run reads after every file.
//
// Also the texts of the progress display and of the final message, which
// are pure functions of the counts.
#pragma once

#include "engine/keep/run_keepers.h"
#include "engine/run/run.h"

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

class QTimer;

namespace quillet::gui {

// What the run reported for one handled file: the report and the result-list
// entries that came with it (at most one).
struct FileBatch {
    engine::FileReport Report;
    std::vector<std::string> Results;
};

// Whether a run starts with its stop flag set (the Stop box ticked): it then
// ends after its first handled file.
enum class StopAtStart { No, Yes };

// What a run takes beyond its request: the keepers of a run that writes
// (the engine's one policy: journal, backups), made on the run's thread from
// Keep before the run starts, so that the window never waits on the
// journal's folder (its settings are read and its folders checked there),
// and finished there once the run has ended; an exception their making
// raises ends the run as failed before it has touched a file. And a listener
// for each changed file, called on the run's thread with the file's old and
// new bytes, its count of matches and the hash of its old text, made as the
// file was read (RunEvents::OnChanged, ChangedNeedsTextHash). And one for
// the matches of each matching file, with FileOperation::ListMatches
// (RunEvents::OnMatches), also called on the run's thread. And the choice of
// a file's changes (RunEvents::ChooseMatches), on the run's thread too.
// ChangedNeedsNewText: as RunEvents has it. Reports: what filesHandled
// carries.
struct RunAttachments {
    // Each handled file with its result-list entries (a result list), or
    // only the latest one delivery holds, without entries (a progress line
    // that shows the count and the file in hand): the run then copies no
    // report per file for the window's thread to free.
    enum class Reports { EachFile, LatestOnly };
    std::optional<engine::RunKeepersOptions> Keep;
    std::function<void(const std::string& path, std::string_view oldText, std::string_view newText,
                       std::int64_t matches, std::uint64_t textHash)>
        OnChanged;
    std::function<void(const std::string& entry, std::string_view text,
                       const std::vector<engine::MatchLocation>& matches, std::int64_t count)>
        OnMatches;
    std::function<std::vector<bool>(const std::string& listedPath, std::string_view text,
                                    const std::vector<engine::MatchLocation>& matches, std::int64_t count)>
        ChooseMatches;
    std::size_t ChoiceListsUpTo = std::numeric_limits<std::size_t>::max(); // RunEvents::ChoiceListsUpTo
    bool ChangedNeedsNewText = true;
    Reports Delivered = Reports::EachFile;
};

class RunController : public QObject {
    Q_OBJECT

public:
    // The shortest time between two deliveries of handled files.
    static constexpr std::chrono::milliseconds kDeliveryInterval{25};

    explicit RunController(QObject* parent = nullptr);
    // Stops a run that is going on and waits for its thread.
    ~RunController() override;

    // Starts the run on a new thread, its stop flag set as `stop` says (a
    // stop request of an earlier run never carries over). Must not be called
    // while one runs. The keepers replace the request's Hooks when they
    // hold any.
    void start(engine::RunRequest request, StopAtStart stop = StopAtStart::No, RunAttachments attachments = {});
    bool isRunning() const { return m_running; }

    // Read by the run after every file, and before each file is put in
    // place (RunEvents::StopRequested); setting it ends the run after the
    // file in hand, every file put in place reported.
    void setStopRequested(bool stop) { m_stop.store(stop); }

    // Asks the run to stop, waits for its thread to end, and drops every
    // report not delivered yet: no batch, finished() or failed() follows.
    void stopAndWait();

signals:
    // The files handled since the last delivery, in run order (never empty);
    // with Reports::LatestOnly, the last of them only.
    void filesHandled(const QList<quillet::gui::FileBatch>& batches);
    // The run ended (normally or stopped) with the count of the final message,
    // the folders of a walk that could not be read and were passed over,
    // each as "<path>: <reason>", in the order met, and the number of binary
    // files the run passed over (RunTotals::PassedOver).
    void finished(qint64 filesDone, const QStringList& unreadableFolders, qint64 passedOver);
    // The run ended with an error; the message as the user reads it.
    void failed(const QString& message);

private:
    void work(engine::RunRequest request, RunAttachments attachments, int generation);
    // Runs on the worker: queues one handled file and wakes the window's
    // thread unless a delivery is already on its way.
    void queue(FileBatch batch, int generation);
    // The same for Reports::LatestOnly: the report takes the place of the
    // one queued, in its strings' room.
    void queueLatest(const engine::FileReport& report, int generation);
    // Asks the window's thread to deliver (deliver()).
    void postDelivery(int generation);
    // Runs on the window's thread: delivers the queue, or waits for the
    // next frame when the last delivery was too recent.
    void deliver(int generation);
    void deliverNow();

    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    bool m_running = false;
    // Bumped by stopAndWait so that reports still queued are dropped.
    int m_generation = 0;

    std::mutex m_mutex;
    QList<FileBatch> m_queue;   // guarded by m_mutex
    bool m_wakePending = false; // guarded by m_mutex
    QTimer* m_frameTimer;
    QElapsedTimer m_sinceDelivery;
};

// The list shapes' progress text: "2/3 = 66.66%". The percentage is
// done * 10000 / total in whole hundredths, truncated, written in the
// shortest form ("50", "12.5", "33.33") with the locale's decimal point.
// An empty text when total is not positive.
QString listProgressText(std::int64_t done, std::int64_t total);

// The final message of a run that ended normally: "Finished! Found and
// Processed 2 files.", then " Passed over 1 binary file." (or "3 binary
// files") where the run left binary files as they were, and, where a walk
// passed over folders it could not read, a paragraph that names them (the
// first 10, then how many more):
//     Passed over 1 folder that could not be read:
//     /web/private: Permission denied
QString finishedText(qint64 filesDone, const QStringList& unreadableFolders, qint64 passedOver = 0);

// The walk's progress bar position for the count of matching files: cycles
// 1..100, full at 100, 200, ...; 0 before the first match.
int walkBarPosition(std::int64_t filesDone);

// The walk's file label: driveTail + the part of directory below the chosen
// one (directory's characters from pathCutLen on, at most 255) + name. With
// the chosen directory "/web", "/web/news/" and "a.htm" give "/../news/a.htm".
QString walkFileLabel(const QString& driveTail, const QString& directory, qsizetype pathCutLen, const QString& name);

// The file-name part of a path: what follows its last "/".
QString fileNamePart(const QString& path);

} // namespace quillet::gui
