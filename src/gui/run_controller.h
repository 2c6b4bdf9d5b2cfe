// Runs one engine run (ExecuteRun) on a worker thread for the window, so that
// a large file never freezes it. Everything the run reports reaches the
// window's thread as queued calls, in run order, one batch per handled file;
// then exactly one of finished() or failed(). The window's Stop box is
// mirrored into an atomic flag that the run reads after every file.
//
// Also the texts of the progress display, which are pure functions of the
// counts.
#pragma once

#include "engine/run.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

namespace quillet::gui {

// What the run reported for one handled file: the report and the result-list
// entries that came with it (at most one).
struct FileBatch {
    engine::FileReport Report;
    std::vector<std::string> Results;
};

class RunController : public QObject {
    Q_OBJECT

public:
    explicit RunController(QObject* parent = nullptr);
    // Stops a run that is going on and waits for its thread.
    ~RunController() override;

    // Starts the run on a new thread. Must not be called while one runs.
    void start(engine::RunRequest request);
    bool isRunning() const { return m_running; }

    // Read by the run after every file; setting it ends the run after the
    // file in hand.
    void setStopRequested(bool stop) { m_stop.store(stop); }

    // Asks the run to stop, waits for its thread to end, and drops every
    // report not delivered yet: no batch, finished() or failed() follows.
    void stopAndWait();

signals:
    void fileHandled(const quillet::gui::FileBatch& batch);
    // The run ended (normally or stopped) with the count of the final message.
    void finished(qint64 filesDone);
    // The run ended with an error; the message as the user reads it.
    void failed(const QString& message);

private:
    void work(engine::RunRequest request, int generation);

    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    bool m_running = false;
    // Bumped by stopAndWait so that reports still queued are dropped.
    int m_generation = 0;
};

// The list shapes' progress text: "2/3 = 66.66%". The percentage is
// done * 10000 / total in whole hundredths, truncated, written in the
// shortest form ("50", "12.5", "33.33") with the locale's decimal point.
// An empty text when total is not positive.
QString listProgressText(std::int64_t done, std::int64_t total);

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
